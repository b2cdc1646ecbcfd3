// The size of the frames an instance produces from a source of a given size.
#pragma once

#include <cstdint>

#include "core/filter_settings.h"

namespace ocuvex {

struct OutputGeometry {
    std::int32_t w;
    std::int32_t h;
    std::int32_t pitch;  // 4 * w rounded up to a multiple of 8
};

// Widest row whose 8-byte-rounded length still fits a 32-bit pitch.
inline constexpr std::int32_t kMaxFrameWidth = (INT32_MAX - 7) / 4;

// Computes the destination geometry of `settings.mode` for a source of
// source_w x source_h pixels. Alignment, cropping and centering values that do
// not fit the source are corrected in `settings`, so that the conversions and
// the dialog see the corrected values afterwards.
OutputGeometry compute_output_geometry(FilterSettings& settings, std::int32_t source_w, std::int32_t source_h);

// The pitch of a row of w pixels: 4 * w rounded up to a multiple of 8.
constexpr std::int32_t padded_pitch(std::int32_t w) {
    return static_cast<std::int32_t>((4 * static_cast<std::int64_t>(w) + 7) & ~std::int64_t{7});
}

}  // namespace ocuvex
