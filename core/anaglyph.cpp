#include "core/anaglyph.h"

#include "core/anaglyph_x86.h"

namespace ocuvex {

const AnaglyphMatrix anaglyph_default_coefficients = {
    0.4561,     0.500484,   0.176381,    -0.0434706, -0.0879388, -0.00155529,  //
    -0.0400822, -0.0378246, -0.0157589,  0.378476,   0.73364,    -0.0184503,   //
    -0.0152161, -0.0205971, -0.00546856, -0.0721527, -0.112961,  1.2264,
};

AnaglyphMatrix anaglyph_coefficients = anaglyph_default_coefficients;

namespace {

std::uint32_t channel_value(const double* row, double lr, double lg, double lb, double rr, double rg, double rb) {
    double s = lr * row[0];
    s = s + lg * row[1];
    s = s + lb * row[2];
    s = s + rr * row[3];
    s = s + rg * row[4];
    s = s + rb * row[5];
    if (s < 0.0) {
        s = 0.0;
    } else if (s > 255.0) {
        s = 255.0;
    }
    s = s + 0.5;
    // NaN fails every comparison and is the only value left outside 0.5 .. 255.5.
    // Through a signed 32-bit value, which SSE2 truncates in one instruction;
    // straight to unsigned, a 32-bit build would go through the x87 unit.
    return s >= 0.5 ? static_cast<std::uint32_t>(static_cast<std::int32_t>(s)) : 0U;
}

bool always() { return true; }

constexpr AnaglyphKernel kKernels[] = {
    {"scalar", anaglyph_row_scalar, always},
#if OCUVEX_HAVE_X86_KERNELS
    {"sse2", anaglyph_row_sse2, cpu_has_sse2},
#endif
#if OCUVEX_HAVE_AVX2_KERNEL
    {"avx2", anaglyph_row_avx2, cpu_has_avx2},
#endif
#if OCUVEX_HAVE_AVX512_KERNEL
    {"avx512", anaglyph_row_avx512, cpu_has_avx512},
#endif
};

const AnaglyphKernel& choose_kernel() {
    const AnaglyphKernel* best = &kKernels[0];
    for (const AnaglyphKernel& kernel : kKernels) {
        if (kernel.supported()) {
            best = &kernel;
        }
    }
    return *best;
}

}  // namespace

std::uint32_t anaglyph_pixel(const AnaglyphMatrix& m, std::uint32_t left, std::uint32_t right) {
    const auto lr = static_cast<double>((left >> 16) & 0xFFU);
    const auto lg = static_cast<double>((left >> 8) & 0xFFU);
    const auto lb = static_cast<double>(left & 0xFFU);
    const auto rr = static_cast<double>((right >> 16) & 0xFFU);
    const auto rg = static_cast<double>((right >> 8) & 0xFFU);
    const auto rb = static_cast<double>(right & 0xFFU);
    const std::uint32_t red = channel_value(&m[0], lr, lg, lb, rr, rg, rb);
    const std::uint32_t green = channel_value(&m[6], lr, lg, lb, rr, rg, rb);
    const std::uint32_t blue = channel_value(&m[12], lr, lg, lb, rr, rg, rb);
    return red << 16 | green << 8 | blue;
}

void anaglyph_row_scalar(const AnaglyphMatrix& m, const std::uint32_t* left, const std::uint32_t* right,
                         std::uint32_t* out, std::int32_t n) {
    for (std::int32_t j = 0; j < n; ++j) {
        out[j] = anaglyph_pixel(m, left[j], right[j]);
    }
}

std::span<const AnaglyphKernel> anaglyph_kernels() { return kKernels; }

const AnaglyphKernel& selected_anaglyph_kernel() {
    static const AnaglyphKernel& kernel = choose_kernel();
    return kernel;
}

void convert_anaglyph_with(const AnaglyphMatrix& m, AnaglyphRowKernel kernel, const FilterSettings& settings,
                           const FrameView& src, const FrameView& dst) {
    const std::int32_t half = src.w / 2;
    // Writes nothing unless both frames hold every row and pixel touched.
    if (!is_well_formed(src) || !is_well_formed(dst) || half == 0 || src.h == 0 || dst.w < half || dst.h < src.h) {
        return;
    }
    const bool swap = settings.swap_lr != 0;
    // Rows are independent: walk them in increasing source addresses, which
    // the hardware prefetchers follow best.
    const bool reverse = src.pitch < 0;
    for (std::int32_t i = 0; i < src.h; ++i) {
        const std::int32_t r = reverse ? src.h - 1 - i : i;
        const std::uint32_t* row = src.pixels(r);
        kernel(m, swap ? row + half : row, swap ? row : row + half, dst.pixels(r), half);
    }
}

void convert_anaglyph(const AnaglyphMatrix& m, const FilterSettings& settings, const FrameView& src,
                      const FrameView& dst) {
    convert_anaglyph_with(m, selected_anaglyph_kernel().run, settings, src, dst);
}

}  // namespace ocuvex
