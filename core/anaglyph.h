// Red-cyan anaglyph by the Dubois least-squares projection.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/filter_settings.h"
#include "core/frame_view.h"

namespace ocuvex {

// Three output rows (red, green, blue) of six inputs (left R, G, B, right R, G, B);
// element 6k + j multiplies input j for output channel k.
using AnaglyphMatrix = std::array<double, 18>;

// The Dubois red-cyan matrices.
extern const AnaglyphMatrix anaglyph_default_coefficients;

// The module's coefficients, one table for every filter instance in the
// process (scripts do not store them). Written only by the configuration
// dialog; the host binding converts each frame with one copy of it. The
// conversions themselves take their matrix as an argument: the command-line
// tool passes its own and never touches this table.
extern AnaglyphMatrix anaglyph_coefficients;

// The output pixel for one left and one right pixel (0x00RRGGBB; bits 24-31
// ignored). Each channel: six products summed left to right in double
// precision, clamped to 0..255, plus 0.5, truncated; a NaN sum gives 0.
std::uint32_t anaglyph_pixel(const AnaglyphMatrix& m, std::uint32_t left, std::uint32_t right);

// Converts a side-by-side frame into an anaglyph half as wide by the matrix
// `m`, with the fastest kernel this CPU runs.
void convert_anaglyph(const AnaglyphMatrix& m, const FilterSettings& settings, const FrameView& src,
                      const FrameView& dst);

// Computes n output pixels from n left and n right pixels. Every kernel gives
// exactly the bits of anaglyph_pixel().
using AnaglyphRowKernel = void (*)(const AnaglyphMatrix& m, const std::uint32_t* left, const std::uint32_t* right,
                                   std::uint32_t* out, std::int32_t n);

struct AnaglyphKernel {
    const char* name;
    AnaglyphRowKernel run;
    bool (*supported)();
};

// Every kernel built into this binary, the plain scalar one first.
std::span<const AnaglyphKernel> anaglyph_kernels();

// The fastest kernel this CPU runs, chosen once.
const AnaglyphKernel& selected_anaglyph_kernel();

// convert_anaglyph() with a given matrix and row kernel.
void convert_anaglyph_with(const AnaglyphMatrix& m, AnaglyphRowKernel kernel, const FilterSettings& settings,
                           const FrameView& src, const FrameView& dst);

// The plain scalar kernel: the definition the others are checked against.
void anaglyph_row_scalar(const AnaglyphMatrix& m, const std::uint32_t* left, const std::uint32_t* right,
                         std::uint32_t* out, std::int32_t n);

}  // namespace ocuvex
