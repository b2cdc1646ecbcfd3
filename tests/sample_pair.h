// Stereo pairs with known disparities and rig errors for the analysis
// tests: the sample scene rendered in memory, each view's luma beside it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/stereo_analysis.h"
#include "tools/sample/sample_scene.h"

namespace ocuvex::test {

// Luma of 0x00RRGGBB pixels, top line first (BT.601 weights, full range),
// times `gain` (a fade).
inline std::vector<std::uint8_t> luma_of(const std::uint32_t* pixels, std::int32_t stride, std::int32_t w,
                                         std::int32_t h, double gain = 1.0) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y) * stride + x];
            const double v = (0.299 * (p >> 16 & 255) + 0.587 * (p >> 8 & 255) + 0.114 * (p & 255)) * gain;
            out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(std::lround(v));
        }
    }
    return out;
}

// A side-by-side frame of the sample scene (left eye on the left) and its
// two views' luma.
struct SamplePair {
    std::int32_t w = 0, h = 0;  // one view
    std::vector<std::uint32_t> frame;
    std::vector<std::uint8_t> left, right;

    LumaView left_view() const { return {left.data(), w, h, w}; }
    LumaView right_view() const { return {right.data(), w, h, w}; }
};

// Textured unless told otherwise: natural pictures have detail everywhere.
inline sample::SceneOptions rig(int vertical, double rotate = 0, double scale = 0, bool textured = true) {
    sample::SceneOptions options;
    options.textured = textured;
    options.rig = {vertical, rotate, scale};
    return options;
}

inline SamplePair render_pair(std::int32_t w, std::int32_t h, const sample::SceneOptions& options, int t = 10,
                              double gain = 1.0) {
    SamplePair pair;
    pair.w = w;
    pair.h = h;
    pair.frame.resize(static_cast<std::size_t>(2 * w) * h);
    sample::render_side_by_side(pair.frame.data(), w, h, t, options);
    pair.left = luma_of(pair.frame.data(), 2 * w, w, h, gain);
    pair.right = luma_of(pair.frame.data() + w, 2 * w, w, h, gain);
    return pair;
}

}  // namespace ocuvex::test
