// Stereo pairs with known disparities and rig errors for the analysis
// tests: the sample scene rendered in memory, each view's luma beside it.
#pragma once

#include <algorithm>
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

// The scene with grain of deviation `levels`, drawn anew for each view.
inline sample::SceneOptions grainy(sample::SceneOptions options, double levels) {
    options.grain = levels;
    return options;
}

// Adds grain of deviation `levels` to both views' luma, drawn anew for each
// view (frame t's). Coarse grain spans about two pixels (each value the mean
// of a 2x2 square of fine grain, scaled back to the deviation asked for), as
// a film scan's grain or a codec's smoothing leaves it.
inline void add_grain(SamplePair& pair, double levels, bool coarse = false, int t = 0) {
    for (const sample::Eye eye : {sample::Eye::left, sample::Eye::right}) {
        std::vector<std::uint8_t>& view = eye == sample::Eye::left ? pair.left : pair.right;
        const auto deviate = [eye, t](std::int32_t x, std::int32_t y) { return sample::grain_deviate(x, y, eye, t); };
        for (std::int32_t y = 0; y < pair.h; ++y) {
            for (std::int32_t x = 0; x < pair.w; ++x) {
                const double d =
                    coarse ? (deviate(x, y) + deviate(x + 1, y) + deviate(x, y + 1) + deviate(x + 1, y + 1)) / 2
                           : deviate(x, y);
                std::uint8_t& v = view[static_cast<std::size_t>(y) * pair.w + x];
                v = static_cast<std::uint8_t>(std::lround(std::clamp(v + levels * d, 0.0, 255.0)));
            }
        }
    }
}

// Grain alone on mid grey: nothing to match.
inline SamplePair grain_alone(std::int32_t w, std::int32_t h, double levels, bool coarse) {
    SamplePair pair;
    pair.w = w;
    pair.h = h;
    pair.left.assign(static_cast<std::size_t>(w) * h, 128);
    pair.right = pair.left;
    add_grain(pair, levels, coarse);
    return pair;
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
