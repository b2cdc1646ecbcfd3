#include "core/output_geometry.h"

#include <cstdlib>

namespace ocuvex {

namespace {

// All tests run in 64 bits: a window or shift near the 32-bit limits is then
// corrected like any other that does not fit, instead of wrapping around.
using Wide = std::int64_t;

void correct_alignment(FilterSettings& settings, Wide source_w, Wide source_h, Wide& w, Wide& h) {
    w = source_w - 2 * std::llabs(settings.align_horz);
    h = source_h - 2 * std::llabs(settings.align_vert);
    if (w <= 0) {
        settings.align_horz = 0;
        w = source_w;
    }
    if (h <= 0) {
        settings.align_vert = 0;
        h = source_h;
    }
}

void correct_cropping(FilterSettings& settings, Wide source_w, Wide source_h) {
    const Wide half_w = source_w / 2;
    if (settings.crop_x < 0 || settings.crop_x >= half_w) {
        settings.crop_x = 0;
    }
    if (settings.crop_y < 0 || settings.crop_y >= source_h) {
        settings.crop_y = 0;
    }
    if (settings.crop_width < 0 || Wide{settings.crop_x} + settings.crop_width >= half_w) {
        settings.crop_width = 1;
    }
    if (settings.crop_height < 0 || Wide{settings.crop_y} + settings.crop_height >= source_h) {
        settings.crop_height = 1;
    }
}

}  // namespace

OutputGeometry compute_output_geometry(FilterSettings& settings, std::int32_t source_w, std::int32_t source_h) {
    // A host never hands over a negative size; treat one as empty.
    const Wide src_w = source_w < 0 ? 0 : source_w;
    const Wide src_h = source_h < 0 ? 0 : source_h;
    Wide w = src_w;
    Wide h = src_h;

    switch (settings.mode) {
    case MODE_DEINTERLACE:
    case MODE_AB_TO_SBS:
        w = 2 * w;
        h = h / 2;
        break;
    case MODE_CENTERING:
        // A negative width would leave no room for the views: it counts as 0.
        // One that would overflow the pitch is cut down to the widest row.
        if (settings.center_width > 0 && w + settings.center_width > kMaxFrameWidth) {
            settings.center_width = static_cast<std::int32_t>(w >= kMaxFrameWidth ? 0 : kMaxFrameWidth - w);
        }
        w = w + (settings.center_width > 0 ? settings.center_width : 0);
        break;
    case MODE_ALIGNMENT:
        correct_alignment(settings, src_w, src_h, w, h);
        break;
    case MODE_CROPPING:
        correct_cropping(settings, src_w, src_h);
        w = 2 * Wide{settings.crop_width};
        h = settings.crop_height;
        break;
    case MODE_ANAGLYPH:
        w = w / 2;
        break;
    case MODE_SBS_TO_AB:
        w = w / 2;
        h = 2 * h;
        break;
    default:
        break;
    }

    // Only sources no 32-bit pitch can address get here: produce nothing.
    if (w > kMaxFrameWidth || h > INT32_MAX) {
        w = 0;
        h = 0;
    }
    const auto out_w = static_cast<std::int32_t>(w);
    return OutputGeometry{out_w, static_cast<std::int32_t>(h), padded_pitch(out_w)};
}

}  // namespace ocuvex
