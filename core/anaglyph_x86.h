// SIMD row kernels of the anaglyph for x86. Each does the scalar kernel's
// products and sums in the same order, in double precision, with no fused
// multiply-add, so its bits equal the scalar ones.
#pragma once

#include <cstdint>

#include "core/anaglyph.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define OCUVEX_HAVE_X86_KERNELS 1
// GCC does not realign the stack for 32- and 64-byte spills on Windows, so
// the Windows builds stop at SSE2.
#if !defined(_WIN32)
#define OCUVEX_HAVE_AVX2_KERNEL 1
#define OCUVEX_HAVE_AVX512_KERNEL 1
#else
#define OCUVEX_HAVE_AVX2_KERNEL 0
#define OCUVEX_HAVE_AVX512_KERNEL 0
#endif
#else
#define OCUVEX_HAVE_X86_KERNELS 0
#define OCUVEX_HAVE_AVX2_KERNEL 0
#define OCUVEX_HAVE_AVX512_KERNEL 0
#endif

namespace ocuvex {

#if OCUVEX_HAVE_X86_KERNELS
bool cpu_has_sse2();
void anaglyph_row_sse2(const AnaglyphMatrix& m, const std::uint32_t* left, const std::uint32_t* right,
                       std::uint32_t* out, std::int32_t n);
#endif
#if OCUVEX_HAVE_AVX2_KERNEL
bool cpu_has_avx2();
void anaglyph_row_avx2(const AnaglyphMatrix& m, const std::uint32_t* left, const std::uint32_t* right,
                       std::uint32_t* out, std::int32_t n);
#endif
#if OCUVEX_HAVE_AVX512_KERNEL
// AVX-512 F, DQ, BW and VL, and an operating system that saves the zmm state.
bool cpu_has_avx512();
void anaglyph_row_avx512(const AnaglyphMatrix& m, const std::uint32_t* left, const std::uint32_t* right,
                         std::uint32_t* out, std::int32_t n);
#endif

}  // namespace ocuvex
