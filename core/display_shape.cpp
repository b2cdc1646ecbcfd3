#include "core/display_shape.h"

#include <algorithm>
#include <numeric>

namespace ocuvex {

namespace {

constexpr std::int64_t kMaxPart = INT32_MAX;

// a * b of non-negative 64-bit numbers, exactly, as (high, low) words: the
// semiconvergent test below needs 96 bits, and neither long double nor a
// 128-bit type is portable (a 32-bit build would reach for the x87 unit).
struct WideProduct {
    std::uint64_t high;
    std::uint64_t low;

    bool operator>(const WideProduct& other) const { return high != other.high ? high > other.high : low > other.low; }
};

WideProduct wide_product(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a_lo = a & 0xffffffffU;
    const std::uint64_t a_hi = a >> 32;
    const std::uint64_t b_lo = b & 0xffffffffU;
    const std::uint64_t b_hi = b >> 32;
    const std::uint64_t lo_lo = a_lo * b_lo;
    const std::uint64_t hi_lo = a_hi * b_lo;
    const std::uint64_t lo_hi = a_lo * b_hi;
    const std::uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xffffffffU) + (lo_hi & 0xffffffffU);
    return WideProduct{a_hi * b_hi + (hi_lo >> 32) + (lo_hi >> 32) + (middle >> 32),
                       (middle << 32) | (lo_lo & 0xffffffffU)};
}

// The best approximation of num/den (reduced, both positive) with parts up
// to kMaxPart, as FFmpeg's av_reduce finds it: the last convergent of its
// continued fraction that fits, or the semiconvergent past it when nearer.
Ratio approximate(std::int64_t num, std::int64_t den) {
    Ratio a0{0, 1};
    Ratio a1{1, 0};
    while (den != 0) {
        const std::int64_t x = num / den;
        const std::int64_t rest = num - den * x;
        // Convergents never exceed the fraction's own parts: no overflow.
        const Ratio a2{x * a1.num + a0.num, x * a1.den + a0.den};
        if (a2.num > kMaxPart || a2.den > kMaxPart) {
            std::int64_t step = x;
            if (a1.num != 0) {
                step = (kMaxPart - a0.num) / a1.num;
            }
            if (a1.den != 0) {
                step = std::min(step, (kMaxPart - a0.den) / a1.den);
            }
            // step * a1.den <= kMaxPart, so the sum fits in 64 bits.
            const auto twice_step = static_cast<std::uint64_t>((2 * step * a1.den) + a0.den);
            if (wide_product(static_cast<std::uint64_t>(den), twice_step) >
                wide_product(static_cast<std::uint64_t>(num), static_cast<std::uint64_t>(a1.den))) {
                a1 = Ratio{step * a1.num + a0.num, step * a1.den + a0.den};
            }
            break;
        }
        a0 = a1;
        a1 = a2;
        num = den;
        den = rest;
    }
    return a1.den > 0 && a1.num > 0 ? a1 : Ratio{};
}

// r * n / d for parts up to kMaxPart, whose products fit in 64 bits.
Ratio scaled(Ratio r, std::int64_t n, std::int64_t d) { return make_ratio(r.num * n, r.den * d); }

// How many times a shape lies outside 1:1 to 3:1; 1 inside. (No logarithm:
// a 32-bit build gets its result back through the x87 unit.)
double distance_from_usual(Ratio shape) {
    if (shape.num <= 0) {
        return 1;
    }
    // Parts fit in 32 bits; converting from those keeps 32-bit builds off x87.
    const double value = static_cast<double>(static_cast<std::int32_t>(shape.num)) /
                         static_cast<double>(static_cast<std::int32_t>(shape.den));
    return value < 1 ? 1 / value : value > 3 ? value / 3 : 1;
}

}  // namespace

Ratio make_ratio(std::int64_t num, std::int64_t den) {
    if (num <= 0 || den <= 0) {
        return Ratio{};
    }
    const std::int64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    return num <= kMaxPart && den <= kMaxPart ? Ratio{num, den} : approximate(num, den);
}

std::string ratio_text(Ratio ratio) { return std::to_string(ratio.num) + ":" + std::to_string(ratio.den); }

const char* packing_name(Packing packing) { return packing == Packing::Half ? "half" : "full"; }

const char* layout_name(ViewLayout layout) {
    switch (layout) {
    case ViewLayout::SideBySide:
        return "side-by-side";
    case ViewLayout::AboveBelow:
        return "above-below";
    case ViewLayout::Rows:
        return "rows";
    case ViewLayout::Single:
        break;
    }
    return "single";
}

ViewLayout input_layout(std::int32_t mode) {
    switch (mode) {
    case MODE_AB_TO_SBS:
        return ViewLayout::AboveBelow;
    case MODE_DEINTERLACE:
        return ViewLayout::Rows;
    default:
        return ViewLayout::SideBySide;
    }
}

ViewLayout output_layout(std::int32_t mode) {
    switch (mode) {
    case MODE_SBS_TO_AB:
        return ViewLayout::AboveBelow;
    case MODE_ANAGLYPH:
        return ViewLayout::Single;
    default:
        return ViewLayout::SideBySide;
    }
}

DisplayAspect display_aspect(const FilterSettings& settings, FrameSize source, FrameSize output, Ratio input_sar,
                             const PackingChoice& packing) {
    DisplayAspect aspect;
    aspect.input_layout = input_layout(settings.mode);
    aspect.output_layout = output_layout(settings.mode);
    aspect.input_packing = aspect.input_layout == ViewLayout::Rows ? Packing::Half : packing.input;
    const Ratio square{1, 1};
    const Ratio sar = input_sar.num > 0 && input_sar.den > 0 ? make_ratio(input_sar.num, input_sar.den) : square;

    // The true aspect of a view's pixels: a half packing's views are
    // squeezed across the packing, so each pixel stands for two.
    const auto view_sar = [&](Packing p) {
        if (p == Packing::Full) {
            return sar;
        }
        return aspect.input_layout == ViewLayout::SideBySide ? scaled(sar, 2, 1) : scaled(sar, 1, 2);
    };
    // INPUT's views: half its width side by side, half its lines otherwise.
    const FrameSize view = aspect.input_layout == ViewLayout::SideBySide ? FrameSize{source.w / 2, source.h}
                                                                         : FrameSize{source.w, source.h / 2};
    const auto shape = [](Ratio pixel, FrameSize size) {
        return size.w > 0 && size.h > 0 ? scaled(pixel, size.w, size.h) : Ratio{};
    };
    // The output of views read as `in`: its packing, size and pixel aspect.
    const auto deliver = [&](Packing in, DisplayAspect& out) {
        const Ratio v = view_sar(in);
        out.size = output;
        out.sample_aspect = v;
        if (aspect.output_layout == ViewLayout::Single) {
            return;
        }
        out.output_packing = packing.output.value_or(in);
        const bool across = aspect.output_layout == ViewLayout::SideBySide;
        if (out.output_packing == Packing::Half && in == Packing::Full) {
            // Squeezed: the frame keeps the full one's display width (side
            // by side) or height (above/below) halved, whatever the rounding.
            out.squeezed = true;
            if (across) {
                out.size.w = (output.w + 1) / 2;
                out.sample_aspect = out.size.w > 0 ? scaled(v, output.w, 2 * std::int64_t{out.size.w}) : v;
            } else {
                out.size.h = (output.h + 1) / 2;
                out.sample_aspect = output.h > 0 ? scaled(v, 2 * std::int64_t{out.size.h}, output.h) : v;
            }
        } else if (out.output_packing == Packing::Half) {
            out.sample_aspect = across ? scaled(v, 1, 2) : scaled(v, 2, 1);
        }
    };
    deliver(aspect.input_packing, aspect);
    aspect.frame_aspect = shape(aspect.sample_aspect, aspect.size);
    aspect.view_aspect = shape(view_sar(aspect.input_packing), view);
    aspect.other_view_aspect = aspect.view_aspect;
    if (aspect.input_layout != ViewLayout::Rows) {
        const Packing other = aspect.input_packing == Packing::Full ? Packing::Half : Packing::Full;
        aspect.other_view_aspect = shape(view_sar(other), view);
        DisplayAspect read_otherwise;
        deliver(other, read_otherwise);
        // Worth a word only where the other reading would change the output.
        aspect.shape_doubtful =
            distance_from_usual(aspect.view_aspect) > 1 &&
            distance_from_usual(aspect.other_view_aspect) < distance_from_usual(aspect.view_aspect) &&
            (read_otherwise.size != aspect.size || read_otherwise.sample_aspect != aspect.sample_aspect);
    }
    return aspect;
}

}  // namespace ocuvex
