// An independent, pixel-by-pixel statement of every copy mode, written from
// the modes' definitions: for one destination pixel, the source pixel it
// receives, the fill colour, or nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>

#include "core/filter_settings.h"

namespace ocuvex::test {

struct PixelOrigin {
    enum class Kind { unwritten, fill, source };
    Kind kind = Kind::unwritten;
    std::int64_t x = 0;  // source column and memory row, for Kind::source
    std::int64_t row = 0;

    // A source pixel outside the source: the mode then writes nothing at all.
    bool outside(std::int64_t w, std::int64_t h) const {
        return kind == Kind::source && (x < 0 || x >= w || row < 0 || row >= h);
    }
};

// Destination pixel (x, memory row r) of a dst_w-wide destination made from a
// W x H source; `s` holds the corrected settings (crop_height is the
// destination's height).
inline PixelOrigin pixel_origin(const FilterSettings& s, std::int32_t W, std::int32_t H, std::int32_t dst_w,
                                std::int32_t x, std::int32_t r) {
    const bool swap = s.swap_lr != 0;
    const std::int32_t hw = W / 2, hd = dst_w / 2;
    auto from = [](std::int64_t sx, std::int64_t sr) { return PixelOrigin{PixelOrigin::Kind::source, sx, sr}; };
    // Which view a destination half shows: 0 left, 1 right.
    auto view_of_half = [&](int half) { return swap ? 1 - half : half; };
    switch (s.mode) {
    case MODE_NOP:
        if (!swap) {
            return from(x, r);
        }
        if (x < hw) {
            return from(hw + x, r);
        }
        return x >= hd && x < hd + hw ? from(x - hd, r) : PixelOrigin{};
    case MODE_DEINTERLACE:
        return from(x % W, 2 * r + view_of_half(x / W));
    case MODE_CENTERING: {
        const std::int32_t q = std::max(s.center_width, 0) / 4;
        for (int half = 0; half < 2; ++half) {
            const std::int32_t start = half * hd + q;
            if (x >= start && x < start + hw) {
                return from(view_of_half(half) * hw + x - start, r);
            }
        }
        return PixelOrigin{PixelOrigin::Kind::fill};
    }
    case MODE_SBS_TO_AB:
        return from(view_of_half(r / H) * hw + x, r % H);
    case MODE_AB_TO_SBS: {
        const std::int32_t t = H - H / 2;
        return x < 2 * W ? from(x % W, r + view_of_half(x / W) * t) : PixelOrigin{};
    }
    case MODE_ALIGNMENT: {
        if (x >= 2 * hd) {
            return PixelOrigin{};
        }
        const std::int64_t a = s.align_horz, v = s.align_vert;
        const int view = view_of_half(x / hd);
        const std::int64_t col = view == 0 ? std::max<std::int64_t>(a, 0) : hw + std::max<std::int64_t>(-a, 0);
        const std::int64_t row = view == 0 ? std::max<std::int64_t>(-v, 0) : std::max<std::int64_t>(v, 0);
        return from(col + x % hd, row + r);
    }
    case MODE_CROPPING: {
        if (x >= 2 * hd) {
            return PixelOrigin{};
        }
        const std::int64_t b = std::int64_t{H} - s.crop_y - (s.crop_height);
        return from(view_of_half(x / hd) * std::int64_t{hw} + s.crop_x + x % hd, b + r);
    }
    default:
        return PixelOrigin{};
    }
}

// Settings of `mode` with small random numbers, a quarter of them negative,
// for frames of about a dozen pixels.
inline FilterSettings random_copy_settings(std::mt19937& rng, std::int32_t mode) {
    FilterSettings s = default_settings();
    s.mode = mode;
    s.swap_lr = rng() % 2 == 0 ? 1 : 0;
    const auto small = [&](int range) { return static_cast<std::int32_t>(rng() % range) - range / 4; };
    s.center_width = small(24);
    s.align_horz = small(12);
    s.align_vert = small(12);
    s.crop_x = small(12);
    s.crop_y = small(12);
    s.crop_width = small(14);
    s.crop_height = small(14);
    s.fill_color = static_cast<std::uint32_t>(rng());
    return s;
}

}  // namespace ocuvex::test
