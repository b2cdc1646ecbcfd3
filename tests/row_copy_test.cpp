#include "core/row_copy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace ocuvex {
namespace {

TEST(RowCopy, EveryCopierCopiesExactlyTheBytesAtEveryLengthAndAlignment) {
    std::mt19937 rng(21);
    constexpr std::size_t kMaxBytes = 700;  // past the 128-byte loop, with every tail
    constexpr std::size_t kSlack = 128;
    constexpr std::uint8_t kGuard = 0x5A;
    std::vector<std::uint8_t> src(kMaxBytes + kSlack), dst(kMaxBytes + 2 * kSlack);
    for (auto& b : src) {
        b = static_cast<std::uint8_t>(rng());
    }
    for (const RowCopier& copier : row_copiers()) {
        if (!copier.supported()) {
            continue;
        }
        for (std::size_t bytes = 0; bytes <= kMaxBytes; bytes += bytes < 140 ? 4 : 36) {
            // Pixels are 4-byte aligned; the offsets cover every position in a
            // cache line for both sides, equal and different.
            for (std::size_t src_offset = 0; src_offset < 64; src_offset += 4) {
                for (std::size_t dst_offset : {src_offset, (src_offset + 32) % 64, (src_offset * 5 + 4) % 64}) {
                    std::fill(dst.begin(), dst.end(), kGuard);
                    std::uint8_t* out = dst.data() + kSlack / 2 + dst_offset;
                    copier.run(out, src.data() + src_offset, bytes);
                    ASSERT_EQ(std::memcmp(out, src.data() + src_offset, bytes), 0)
                        << copier.name << " " << bytes << " bytes";
                    for (std::uint8_t* p = dst.data(); p < dst.data() + dst.size(); ++p) {
                        if (p < out || p >= out + bytes) {
                            ASSERT_EQ(*p, kGuard) << copier.name << " wrote outside " << bytes << " bytes";
                        }
                    }
                }
            }
        }
    }
}

TEST(RowCopy, TheLibraryCopyComesFirstAndTheSelectedCopierIsSupported) {
    ASSERT_FALSE(row_copiers().empty());
    EXPECT_STREQ(row_copiers()[0].name, "memcpy");
    EXPECT_TRUE(selected_row_copier().supported());
}

}  // namespace
}  // namespace ocuvex
