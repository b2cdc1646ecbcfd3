#include "core/analysis_proposal.h"

#include <cmath>
#include <numbers>

#include "core/output_geometry.h"

namespace ocuvex {

namespace {

// The largest window of each view of `frame` (side by side) with the given
// aspect, centred, on even lines and columns so that 4:2:0 chroma is never
// cut. The cropping mode keeps a window's right and bottom edges inside the
// view: at least one column and one line stay out.
bool choose_window(FrameSize frame, double aspect, FilterSettings& crop) {
    const std::int32_t half = frame.w / 2;
    for (std::int32_t height = (frame.h - 1) & ~1; height >= 2; height -= 2) {
        const auto width = static_cast<std::int32_t>(2 * std::lround(height * aspect / 2));
        if (width >= 2 && width <= half - 1) {
            crop.crop_width = width;
            crop.crop_height = height;
            crop.crop_x = ((half - width) / 2) & ~1;
            crop.crop_y = ((frame.h - height) / 2) & ~1;
            return true;
        }
    }
    return false;
}

}  // namespace

SettingsProposal propose_settings(const AnalysisSummary& summary, FrameSize source, bool left_eye_first) {
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
    const double aspect = static_cast<double>(summary.view_w) / summary.view_h;
    p.needs_cropping = p.needs_alignment && choose_window(p.aligned, aspect, p.cropping);
    if (p.needs_cropping) {
        const OutputGeometry cropped = compute_output_geometry(p.cropping, p.aligned.w, p.aligned.h);
        p.cropped = {cropped.w, cropped.h};
    } else {
        p.cropped = p.aligned;
    }

    const double shown_w = p.cropped.w / 2.0;
    for (std::size_t i = 0; i < kCommonScreens.size(); ++i) {
        const Screen& screen = kCommonScreens[i];
        ScreenComfort& c = p.screens[i];
        const double mm_per_pixel = shown_w > 0 ? screen.width_mm / shown_w : 0.0;
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
