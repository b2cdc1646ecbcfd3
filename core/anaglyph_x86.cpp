#include "core/anaglyph_x86.h"

#if OCUVEX_HAVE_X86_KERNELS

#include <immintrin.h>

namespace ocuvex {

bool cpu_has_sse2() { return __builtin_cpu_supports("sse2") != 0; }

namespace {

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
        for (int k = 0; k < 3; ++k) {
            const __m128d* row = &c[6 * k];
            __m128d s = _mm_mul_pd(in[0], row[0]);
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
        const __m128i lp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + j));
        const __m128i rp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + j));
        const __m256d in[6] = {
            channel_pd(lp, 16), channel_pd(lp, 8), channel_pd(lp, 0),
            channel_pd(rp, 16), channel_pd(rp, 8), channel_pd(rp, 0),
        };
        __m128i result = _mm_setzero_si128();
        for (int k = 0; k < 3; ++k) {
            const __m256d* row = &c[6 * k];
            __m256d s = _mm256_mul_pd(in[0], row[0]);
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
