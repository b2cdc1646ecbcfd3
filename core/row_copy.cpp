#include "core/row_copy.h"

#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#define OCUVEX_HAVE_AVX2_COPY 1
#include <immintrin.h>
#else
#define OCUVEX_HAVE_AVX2_COPY 0
#endif

namespace ocuvex {

namespace {

void copy_memcpy(void* dst, const void* src, std::size_t bytes) { std::memcpy(dst, src, bytes); }

bool always() { return true; }

#if OCUVEX_HAVE_AVX2_COPY

bool cpu_has_avx2() { return __builtin_cpu_supports("avx2") != 0; }

// Where source and destination share their offset in a cache line, the C
// library's string copy is at its best; elsewhere a loop of unaligned loads
// and aligned stores. The first and last 32 bytes are stored unaligned and may
// overlap the aligned ones.
__attribute__((target("avx2"))) void copy_avx2(void* dst, const void* src, std::size_t bytes) {
    if (bytes < 64 || ((reinterpret_cast<std::uintptr_t>(dst) - reinterpret_cast<std::uintptr_t>(src)) & 63) == 0) {
        std::memcpy(dst, src, bytes);
        return;
    }
    auto* d = static_cast<char*>(dst);
    const auto* s = static_cast<const char*>(src);
    const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + bytes - 32));
    std::size_t i = (32 - (reinterpret_cast<std::uintptr_t>(d) & 31)) & 31;
    for (; i + 128 <= bytes; i += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 64));
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 96));
        _mm256_store_si256(reinterpret_cast<__m256i*>(d + i), a);
        _mm256_store_si256(reinterpret_cast<__m256i*>(d + i + 32), b);
        _mm256_store_si256(reinterpret_cast<__m256i*>(d + i + 64), c);
        _mm256_store_si256(reinterpret_cast<__m256i*>(d + i + 96), e);
    }
    for (; i + 32 <= bytes; i += 32) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(d + i),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), head);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + bytes - 32), tail);
}

#endif

constexpr RowCopier kCopiers[] = {
    {"memcpy", copy_memcpy, always},
#if OCUVEX_HAVE_AVX2_COPY
    {"avx2", copy_avx2, cpu_has_avx2},
#endif
};

const RowCopier& choose_copier() {
    const RowCopier* best = &kCopiers[0];
    for (const RowCopier& copier : kCopiers) {
        if (copier.supported()) {
            best = &copier;
        }
    }
    return *best;
}

}  // namespace

std::span<const RowCopier> row_copiers() { return kCopiers; }

const RowCopier& selected_row_copier() {
    static const RowCopier& copier = choose_copier();
    return copier;
}

}  // namespace ocuvex
