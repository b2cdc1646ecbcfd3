#include "core/anaglyph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "tests/test_frames.h"

namespace ocuvex {
namespace {

using test::PitchKind;
using test::settings_for;
using test::TestFrame;

constexpr std::uint32_t rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return r << 16 | g << 8 | b; }

struct PixelCase {
    std::uint32_t left, right, expected;
};

TEST(AnaglyphPixel, DefaultCoefficientsGiveTheDuboisValuesToTheLastBit) {
    const PixelCase cases[] = {
        {rgb(0, 0, 0), rgb(0, 0, 0), rgb(0, 0, 0)},
        {rgb(128, 128, 128), rgb(128, 128, 128), rgb(128, 128, 128)},
        {rgb(255, 255, 255), rgb(255, 255, 255), rgb(255, 255, 255)},
        {rgb(255, 0, 0), rgb(0, 0, 0), rgb(116, 0, 0)},
        {rgb(0, 0, 0), rgb(255, 0, 0), rgb(0, 97, 0)},
        {rgb(255, 255, 255), rgb(0, 0, 0), rgb(255, 0, 0)},
        {rgb(0, 0, 0), rgb(255, 255, 255), rgb(0, 255, 255)},
        {rgb(0, 0, 255), rgb(0, 0, 255), rgb(45, 0, 255)},
        {rgb(18, 52, 86), rgb(18, 52, 86), rgb(44, 39, 96)},
        {0xFF000000 | rgb(18, 52, 86), 0x7F000000 | rgb(18, 52, 86), rgb(44, 39, 96)},  // bits 24-31 ignored
    };
    for (const PixelCase& c : cases) {
        EXPECT_EQ(anaglyph_pixel(anaglyph_default_coefficients, c.left, c.right), c.expected)
            << std::hex << c.left << " " << c.right;
    }
}

TEST(AnaglyphPixel, HalvesRoundUpAndNonFiniteSumsSaturateOrGiveZero) {
    AnaglyphMatrix m{};
    m[0] = 0.5;  // red = 233 * 0.5 = 116.5 -> 117
    m[6] = std::numeric_limits<double>::quiet_NaN();
    m[12] = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(anaglyph_pixel(m, rgb(233, 0, 0), 0), rgb(117, 0, 0));
    m[0] = 0.0;
    m[12] = std::numeric_limits<double>::infinity();
    m[13] = -std::numeric_limits<double>::infinity();  // inf - inf = NaN
    EXPECT_EQ(anaglyph_pixel(m, rgb(1, 1, 0), 0), rgb(0, 0, 0));
    m[13] = 0;
    EXPECT_EQ(anaglyph_pixel(m, rgb(1, 0, 0), 0), rgb(0, 0, 255));
    m[12] = 1e308;
    m[14] = 1e308;  // the sum overflows to infinity and saturates
    EXPECT_EQ(anaglyph_pixel(m, rgb(255, 0, 255), 0), rgb(0, 0, 255));
}

TEST(AnaglyphPixel, SumsAreRoundedInTheirOwnOrder) {
    // 1e16 + 1 rounds back to 1e16, so adding in another order would give 1.
    AnaglyphMatrix m{};
    m[0] = 1e16;
    m[1] = 1.0 / 255.0;
    m[2] = -1e16;
    EXPECT_EQ(anaglyph_pixel(m, rgb(1, 255, 1), 0) >> 16, 0U);
}

// Random coefficient tables, from ordinary Dubois-like values to the
// non-finite and huge values a dialog can store.
AnaglyphMatrix random_matrix(std::mt19937& rng) {
    std::uniform_real_distribution<double> small(-2.0, 2.0);
    const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               1e308,
                               -1e308,
                               std::numeric_limits<double>::denorm_min(),
                               -0.0,
                               0.5 / 255.0,
                               1.0};
    AnaglyphMatrix m{};
    for (double& c : m) {
        const auto roll = rng() % 20;
        c = roll == 0 ? specials[rng() % std::size(specials)] : roll < 3 ? small(rng) * 1e6 : small(rng);
    }
    return m;
}

// One test per kernel built in: the kernel's name is the test's, and a kernel
// this CPU cannot run is reported as skipped rather than passing unseen.
class AnaglyphKernelTest : public ::testing::TestWithParam<std::size_t> {
  protected:
    void SetUp() override {
        if (!kernel().supported()) {
            GTEST_SKIP() << "the " << kernel().name << " kernel does not run on this CPU";
        }
    }
    const AnaglyphKernel& kernel() const { return anaglyph_kernels()[GetParam()]; }
};

INSTANTIATE_TEST_SUITE_P(EveryKernel, AnaglyphKernelTest, ::testing::Range<std::size_t>(0, anaglyph_kernels().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(anaglyph_kernels()[info.param].name);
                         });

TEST_P(AnaglyphKernelTest, MatchesTheScalarDefinitionBitForBit) {
    std::mt19937 rng(11);
    constexpr std::int32_t kRow = 1001;  // odd, so the kernel's tail runs too
    std::vector<std::uint32_t> left(kRow), right(kRow), want(kRow), got(kRow);
    std::size_t pairs = 0;
    for (int table = 0; table < 1100; ++table) {
        const AnaglyphMatrix m = table == 0 ? anaglyph_default_coefficients : random_matrix(rng);
        for (std::int32_t j = 0; j < kRow; ++j) {
            left[j] = static_cast<std::uint32_t>(rng());
            right[j] = static_cast<std::uint32_t>(rng());
        }
        anaglyph_row_scalar(m, left.data(), right.data(), want.data(), kRow);
        std::fill(got.begin(), got.end(), 0xDEADBEEF);
        kernel().run(m, left.data(), right.data(), got.data(), kRow);
        ASSERT_EQ(got, want) << "table " << table;
        pairs += kRow;
    }
    EXPECT_GE(pairs, 1000000U);
}

TEST_P(AnaglyphKernelTest, EveryLengthAndAlignmentWritesExactlyTheRowAndMatchesScalar) {
    std::mt19937 rng(13);
    constexpr std::int32_t kMaxRow = 40;
    constexpr std::int32_t kMaxShift = 16;  // 64 bytes: every offset from a vector boundary
    constexpr std::uint32_t kGuard = 0xDEADBEEF;
    std::vector<std::uint32_t> left(kMaxRow + kMaxShift), right(kMaxRow + kMaxShift), want(kMaxRow);
    std::vector<std::uint32_t> got(kMaxRow + 2 * kMaxShift);
    for (std::int32_t n = 0; n <= kMaxRow; ++n) {
        for (std::int32_t shift = 0; shift < kMaxShift; ++shift) {
            const AnaglyphMatrix m = random_matrix(rng);
            for (std::size_t j = 0; j < left.size(); ++j) {
                left[j] = static_cast<std::uint32_t>(rng());
                right[j] = static_cast<std::uint32_t>(rng());
            }
            // The left, right and output rows each start at a different offset.
            const std::uint32_t* l = left.data() + shift;
            const std::uint32_t* r = right.data() + (kMaxShift - 1 - shift);
            std::uint32_t* out = got.data() + kMaxShift + (shift * 7) % kMaxShift;
            anaglyph_row_scalar(m, l, r, want.data(), n);
            std::fill(got.begin(), got.end(), kGuard);
            kernel().run(m, l, r, out, n);
            ASSERT_TRUE(std::equal(want.begin(), want.begin() + n, out)) << "n " << n << " shift " << shift;
            ASSERT_TRUE(std::all_of(got.data(), out, [](std::uint32_t v) { return v == kGuard; }))
                << "wrote before the row, n " << n;
            ASSERT_TRUE(std::all_of(out + n, got.data() + got.size(), [](std::uint32_t v) { return v == kGuard; }))
                << "wrote past the row, n " << n;
        }
    }
}

TEST(AnaglyphKernels, ScalarComesFirstAndTheSelectedKernelIsSupported) {
    ASSERT_FALSE(anaglyph_kernels().empty());
    EXPECT_STREQ(anaglyph_kernels()[0].name, "scalar");
    EXPECT_TRUE(selected_anaglyph_kernel().supported());
    RecordProperty("selected_kernel", selected_anaglyph_kernel().name);
}

TEST(AnaglyphFrame, LeftHalfRedOverBlackGivesRedAndSwapGivesGreen) {
    TestFrame src(6, 3, PitchKind::negative);
    for (std::int32_t r = 0; r < 3; ++r) {
        for (std::int32_t x = 0; x < 6; ++x) {
            src.set(x, r, x < 3 ? 0xAB000000 | rgb(255, 0, 0) : 0xCD000000);
        }
    }
    for (const bool swap : {false, true}) {
        FilterSettings s = settings_for(MODE_ANAGLYPH, swap);
        const OutputGeometry g = compute_output_geometry(s, 6, 3);
        TestFrame dst(g.w, g.h, PitchKind::padded);
        convert_frame(s, src.view(), dst.view());
        for (std::int32_t r = 0; r < 3; ++r) {
            for (std::int32_t x = 0; x < 3; ++x) {
                EXPECT_EQ(dst.at(x, r), swap ? rgb(0, 97, 0) : rgb(116, 0, 0));
            }
        }
        EXPECT_TRUE(dst.outside_untouched());
    }
}

TEST(AnaglyphFrame, OddWidthPairsColumnsAcrossTheMiddleAndNeverReadsTheLast) {
    TestFrame src(5, 2);
    std::mt19937 rng(12);
    src.fill_random(rng);
    FilterSettings s = settings_for(MODE_ANAGLYPH);
    TestFrame dst(2, 2);
    convert_frame(s, src.view(), dst.view());
    for (std::int32_t r = 0; r < 2; ++r) {
        EXPECT_EQ(dst.at(0, r), anaglyph_pixel(anaglyph_default_coefficients, src.at(0, r), src.at(2, r)));
        EXPECT_EQ(dst.at(1, r), anaglyph_pixel(anaglyph_default_coefficients, src.at(1, r), src.at(3, r)));
    }
    TestFrame narrow(1, 2);
    TestFrame empty(0, 2);
    convert_frame(s, narrow.view(), empty.view());
    EXPECT_TRUE(empty.outside_untouched());
}

TEST(AnaglyphFrame, ConvertsByTheMatrixItIsGiven) {
    AnaglyphMatrix m{};
    m[0] = 1.0;  // red = left red, everything else 0
    TestFrame src(2, 1);
    src.set(0, 0, rgb(200, 100, 50));
    src.set(1, 0, rgb(10, 20, 30));
    TestFrame dst(1, 1);
    convert_frame(settings_for(MODE_ANAGLYPH), src.view(), dst.view(), m);
    EXPECT_EQ(dst.at(0, 0), rgb(200, 0, 0));
}

TEST(AnaglyphFrame, WritesNothingIntoADestinationTooSmallForIt) {
    TestFrame src(8, 4);
    TestFrame dst(3, 3);
    dst.fill(1);
    convert_frame(settings_for(MODE_ANAGLYPH), src.view(), dst.view());
    EXPECT_EQ(dst.at(0, 0), 1U);
    EXPECT_TRUE(dst.outside_untouched());
}

}  // namespace
}  // namespace ocuvex
