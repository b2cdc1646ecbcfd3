#include "core/analysis_proposal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/output_geometry.h"

namespace ocuvex {

namespace {

// A window this much lower than the largest may be taken for one of the
// views' exact shape.
constexpr double kExactWindowLoss = 0.05;

// The largest window of each view of `frame` (side by side) of the shape
// `view` (a view's width and height), centred, on even lines and columns
// so that 4:2:0 chroma is never cut; of exactly that shape when whole even
// pixels allow it within kExactWindowLoss of the largest. The cropping mode
// keeps a window's right and bottom edges inside the view: at least one
// column and one line stay out.
bool choose_window(FrameSize frame, FrameSize view, FilterSettings& crop) {
    const std::int32_t half = frame.w / 2;
    const double aspect = static_cast<double>(view.w) / view.h;
    std::int32_t width = 0, height = 0;
    for (std::int32_t h = (frame.h - 1) & ~1; h >= 2 && height == 0; h -= 2) {
        const auto w = static_cast<std::int32_t>(2 * std::lround(h * aspect / 2));
        if (w >= 2 && w <= half - 1) {
            width = w;
            height = h;
        }
    }
    if (height == 0) {
        return false;
    }
    // The exact shape p:q on even pixels: 2k p x 2k q (p and q are never both even).
    const Ratio shape = make_ratio(view.w, view.h);
    const std::int64_t k = std::min<std::int64_t>((half - 1) / (2 * shape.num), (frame.h - 1) / (2 * shape.den));
    if (k >= 1 && static_cast<double>(2 * k * shape.den) >= (1.0 - kExactWindowLoss) * height) {
        width = static_cast<std::int32_t>(2 * k * shape.num);
        height = static_cast<std::int32_t>(2 * k * shape.den);
    }
    crop.crop_width = width;
    crop.crop_height = height;
    crop.crop_x = ((half - width) / 2) & ~1;
    crop.crop_y = ((frame.h - height) / 2) & ~1;
    return true;
}

}  // namespace

SettingsProposal propose_settings(const AnalysisSummary& summary, FrameSize source, bool left_eye_first,
                                  Ratio view_aspect) {
    SettingsProposal p;
    if (!summary.anything_measured() || source.w < 2 || source.h < 1 || summary.view_w < 1 || summary.view_h < 1) {
        return p;
    }
    p.measured = true;
    // In the eyes' terms: level the right eye's view with the left's, and
    // shift the disparities so that the nearest content lies at the screen.
    // A turned or scaled view is levelled at its centre.
    const auto vertical = summary.rotated || summary.scaled
                              ? static_cast<std::int32_t>(std::lround(summary.centre_offset))
                              : summary.vertical_offset;
    const std::int32_t shift = summary.horizontal_matches > 0 ? -summary.nearest : 0;
    // The alignment adds align_horz to the right half's position less the
    // left half's, and align_vert to its line less the left half's.
    const std::int32_t sign = left_eye_first ? 1 : -1;
    p.alignment = default_settings();
    p.alignment.mode = MODE_ALIGNMENT;
    p.alignment.align_horz = sign * shift;
    p.alignment.align_vert = -sign * vertical;
    // Offsets too large for the frame are dropped, as the conversion drops them.
    const OutputGeometry aligned = compute_output_geometry(p.alignment, source.w, source.h);
    p.aligned = {aligned.w, aligned.h};
    p.needs_alignment = p.alignment.align_horz != 0 || p.alignment.align_vert != 0;
    const std::int32_t applied = sign * p.alignment.align_horz;
    p.nearest_after = summary.nearest + applied;
    p.farthest_after = summary.farthest + applied;

    p.cropping = default_settings();
    p.cropping.mode = MODE_CROPPING;
    p.needs_cropping = p.needs_alignment && choose_window(p.aligned, {summary.view_w, summary.view_h}, p.cropping);
    if (p.needs_cropping) {
        const OutputGeometry cropped = compute_output_geometry(p.cropping, p.aligned.w, p.aligned.h);
        p.cropped = {cropped.w, cropped.h};
    } else {
        p.cropped = p.aligned;
    }

    // The shape each pixel of a view displays at, and so the cropped view.
    p.view_aspect = view_aspect.num > 0 ? view_aspect : make_ratio(summary.view_w, summary.view_h);
    const double pixel_shape = static_cast<double>(p.view_aspect.num) * summary.view_h /
                               (static_cast<double>(p.view_aspect.den) * summary.view_w);
    const double shown_w = p.cropped.w / 2.0;
    const double shown_aspect = p.cropped.h > 0 ? shown_w * pixel_shape / p.cropped.h : 0.0;
    for (std::size_t i = 0; i < kCommonScreens.size(); ++i) {
        const Screen& screen = kCommonScreens[i];
        ScreenComfort& c = p.screens[i];
        const double width_mm = std::min(screen.width_mm, screen.height_mm * shown_aspect);
        const double mm_per_pixel = shown_w > 0 ? width_mm / shown_w : 0.0;
        c.screen = screen;
        c.range_degrees =
            (p.farthest_after - p.nearest_after) * mm_per_pixel / screen.distance_mm * 180.0 / std::numbers::pi;
        c.farthest_mm = p.farthest_after * mm_per_pixel;
        c.too_deep = c.range_degrees > kComfortDegrees;
        c.diverges = c.farthest_mm > kEyeSeparationMm;
    }
    return p;
}

}  // namespace ocuvex
