#include "core/anaglyph_x86.h"

#include <cstdint>

#if OCUVEX_HAVE_X86_KERNELS

// GCC 12's AVX-512 intrinsics start from a self-initialised "undefined"
// vector and warn about it wherever they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace ocuvex {

bool cpu_has_sse2() { return __builtin_cpu_supports("sse2") != 0; }

namespace {

// The two rows' pixels 8 KiB ahead of `j`, asked for now, for the AVX2 and
// AVX-512 kernels: the hardware prefetchers stop at every 4 KiB page, and
// on frames not in cache those kernels otherwise wait for memory there (13
// to 28 % of their time here; the SSE2 kernel's slower arithmetic hides
// it). Reaching past a row's end is harmless: a prefetch never faults.
inline void prefetch_ahead(const std::uint32_t* left, const std::uint32_t* right, std::int32_t j) {
    constexpr std::uintptr_t kAheadBytes = 8192;
    const auto ahead = [j](const std::uint32_t* row) {
        return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(row + j) + kAheadBytes);
    };
    _mm_prefetch(ahead(left), _MM_HINT_T0);
    _mm_prefetch(ahead(right), _MM_HINT_T0);
}

// The 8-bit channel at bit `shift` of each pixel, as 32-bit integers.
__attribute__((target("sse2"))) inline __m128i channel_epi32(__m128i pixels, int shift) {
    return _mm_and_si128(_mm_srl_epi32(pixels, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF));
}

// Clamp to 0..255 (a NaN becomes 0 through max's choice of its second
// operand), add 0.5 and truncate.
__attribute__((target("sse2"))) inline __m128i to_channel_sse2(__m128d s) {
    s = _mm_max_pd(s, _mm_setzero_pd());
    s = _mm_min_pd(s, _mm_set1_pd(255.0));
    return _mm_cvttpd_epi32(_mm_add_pd(s, _mm_set1_pd(0.5)));
}

}  // namespace

__attribute__((target("sse2"))) void anaglyph_row_sse2(const AnaglyphMatrix& m, const std::uint32_t* left,
                                                       const std::uint32_t* right, std::uint32_t* out, std::int32_t n) {
    __m128d c[18];
    for (int i = 0; i < 18; ++i) {
        c[i] = _mm_set1_pd(m[i]);
    }
    std::int32_t j = 0;
    for (; j + 2 <= n; j += 2) {
        const __m128i lp = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(left + j));
        const __m128i rp = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(right + j));
        const __m128d in[6] = {
            _mm_cvtepi32_pd(channel_epi32(lp, 16)), _mm_cvtepi32_pd(channel_epi32(lp, 8)),
            _mm_cvtepi32_pd(channel_epi32(lp, 0)),  _mm_cvtepi32_pd(channel_epi32(rp, 16)),
            _mm_cvtepi32_pd(channel_epi32(rp, 8)),  _mm_cvtepi32_pd(channel_epi32(rp, 0)),
        };
        __m128i result = _mm_setzero_si128();
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
            const __m128d* row = &c[6 * k];
            __m128d s = _mm_mul_pd(in[0], row[0]);
#pragma GCC unroll 5
            for (int i = 1; i < 6; ++i) {
                s = _mm_add_pd(s, _mm_mul_pd(in[i], row[i]));
            }
            result = _mm_or_si128(_mm_slli_epi32(result, 8), to_channel_sse2(s));
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), result);
    }
    anaglyph_row_scalar(m, left + j, right + j, out + j, n - j);
}

}  // namespace ocuvex

#endif

#if OCUVEX_HAVE_AVX2_KERNEL

namespace ocuvex {

bool cpu_has_avx2() { return __builtin_cpu_supports("avx2") != 0; }

namespace {

__attribute__((target("avx2"))) inline __m256d channel_pd(__m128i pixels, int shift) {
    const __m128i c = _mm_and_si128(_mm_srl_epi32(pixels, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF));
    return _mm256_cvtepi32_pd(c);
}

__attribute__((target("avx2"))) inline __m128i to_channel_avx(__m256d s) {
    s = _mm256_max_pd(s, _mm256_setzero_pd());
    s = _mm256_min_pd(s, _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(_mm256_add_pd(s, _mm256_set1_pd(0.5)));
}

}  // namespace

__attribute__((target("avx2"))) void anaglyph_row_avx2(const AnaglyphMatrix& m, const std::uint32_t* left,
                                                       const std::uint32_t* right, std::uint32_t* out, std::int32_t n) {
    __m256d c[18];
    for (int i = 0; i < 18; ++i) {
        c[i] = _mm256_set1_pd(m[i]);
    }
    std::int32_t j = 0;
    for (; j + 4 <= n; j += 4) {
        if (j % 16 == 0) {  // once per 64-byte line
            prefetch_ahead(left, right, j);
        }
        const __m128i lp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + j));
        const __m128i rp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + j));
        const __m256d in[6] = {
            channel_pd(lp, 16), channel_pd(lp, 8), channel_pd(lp, 0),
            channel_pd(rp, 16), channel_pd(rp, 8), channel_pd(rp, 0),
        };
        __m128i result = _mm_setzero_si128();
#pragma GCC unroll 3
        for (int k = 0; k < 3; ++k) {
            const __m256d* row = &c[6 * k];
            __m256d s = _mm256_mul_pd(in[0], row[0]);
#pragma GCC unroll 5
            for (int i = 1; i < 6; ++i) {
                s = _mm256_add_pd(s, _mm256_mul_pd(in[i], row[i]));
            }
            result = _mm_or_si128(_mm_slli_epi32(result, 8), to_channel_avx(s));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), result);
    }
    anaglyph_row_scalar(m, left + j, right + j, out + j, n - j);
}

}  // namespace ocuvex

#endif

#if OCUVEX_HAVE_AVX512_KERNEL

#include <cpuid.h>

#define OCUVEX_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl")))

namespace ocuvex {

bool cpu_has_avx512() {
    if (__builtin_cpu_supports("avx512f") == 0 || __builtin_cpu_supports("avx512dq") == 0 ||
        __builtin_cpu_supports("avx512bw") == 0 || __builtin_cpu_supports("avx512vl") == 0) {
        return false;
    }
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0) {
        return false;
    }
    // XCR0: the OS saves the SSE, AVX, opmask and both halves of the zmm state.
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 0xE6U) == 0xE6U;
}

namespace {

// The channel in byte `b` of every pixel widened to 64 bits, as doubles.
OCUVEX_TARGET_AVX512 __attribute__((always_inline)) inline __m512d channel_pd512(__m512i pixels, int b) {
    const char z = -1;
    const auto c = static_cast<char>(b);
    const auto d = static_cast<char>(b + 8);
    const __m512i select = _mm512_broadcast_i32x4(_mm_setr_epi8(c, z, z, z, z, z, z, z, d, z, z, z, z, z, z, z));
    return _mm512_cvtepi64_pd(_mm512_shuffle_epi8(pixels, select));
}

// Eight output pixels from eight left and eight right pixels.
OCUVEX_TARGET_AVX512 __attribute__((always_inline)) inline __m256i anaglyph8(const AnaglyphMatrix& m, __m256i lp,
                                                                             __m256i rp) {
    const __m512i l = _mm512_cvtepu32_epi64(lp);
    const __m512i r = _mm512_cvtepu32_epi64(rp);
    const __m512d in[6] = {
        channel_pd512(l, 2), channel_pd512(l, 1), channel_pd512(l, 0),
        channel_pd512(r, 2), channel_pd512(r, 1), channel_pd512(r, 0),
    };
    __m256i ch[3];
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        const double* row = &m[6 * static_cast<std::size_t>(k)];
        __m512d s = _mm512_mul_pd(in[0], _mm512_set1_pd(row[0]));
#pragma GCC unroll 5
        for (int i = 1; i < 6; ++i) {
            s = _mm512_add_pd(s, _mm512_mul_pd(in[i], _mm512_set1_pd(row[i])));
        }
        // min returns its second operand when either is NaN, so a NaN sum
        // stays NaN and truncates to 0x80000000; that and every other
        // negative result saturate to 0 in the packs below, as a clamp at 0
        // before adding 0.5 would give.
        s = _mm512_min_pd(_mm512_set1_pd(255.0), s);
        ch[k] = _mm512_cvttpd_epi32(_mm512_add_pd(s, _mm512_set1_pd(0.5)));
    }
    // Per 128-bit lane (four pixels): blue, green, red bytes, then zeros.
    const __m256i blue_green = _mm256_packus_epi32(ch[2], ch[1]);
    const __m256i red_zero = _mm256_packus_epi32(ch[0], _mm256_setzero_si256());
    const __m256i planes = _mm256_packus_epi16(blue_green, red_zero);
    const char z = -1;
    const __m256i interleave = _mm256_setr_epi8(0, 4, 8, z, 1, 5, 9, z, 2, 6, 10, z, 3, 7, 11, z,  //
                                                0, 4, 8, z, 1, 5, 9, z, 2, 6, 10, z, 3, 7, 11, z);
    return _mm256_shuffle_epi8(planes, interleave);
}

}  // namespace

OCUVEX_TARGET_AVX512 void anaglyph_row_avx512(const AnaglyphMatrix& m, const std::uint32_t* left,
                                              const std::uint32_t* right, std::uint32_t* out, std::int32_t n) {
    std::int32_t j = 0;
    // Two independent groups per step keep both the multiply and the add
    // pipes busy through the latency of the sums.
    for (; j + 16 <= n; j += 16) {
        prefetch_ahead(left, right, j);
        const __m256i l0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left + j));
        const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(right + j));
        const __m256i l1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left + j + 8));
        const __m256i r1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(right + j + 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), anaglyph8(m, l0, r0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j + 8), anaglyph8(m, l1, r1));
    }
    // The last 0 to 15 pixels through masked loads and stores, which touch
    // nothing past the row.
    for (; j < n; j += 8) {
        const std::int32_t count = n - j < 8 ? n - j : 8;
        const auto mask = static_cast<__mmask8>((1U << count) - 1U);
        const __m256i lp = _mm256_maskz_loadu_epi32(mask, left + j);
        const __m256i rp = _mm256_maskz_loadu_epi32(mask, right + j);
        _mm256_mask_storeu_epi32(out + j, mask, anaglyph8(m, lp, rp));
    }
}

}  // namespace ocuvex

#endif
