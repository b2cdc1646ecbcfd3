#include "core/frame_conversion.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/output_geometry.h"
#include "tests/copy_reference.h"
#include "tests/test_frames.h"

namespace ocuvex {
namespace {

using test::PitchKind;
using test::settings_for;
using test::TestFrame;

// Pixel p(x, row) = row * 100 + x, so a copied pixel names where it came from.
TestFrame numbered_frame(std::int32_t w, std::int32_t h, PitchKind kind = PitchKind::packed) {
    TestFrame frame(w, h, kind);
    for (std::int32_t r = 0; r < h; ++r) {
        for (std::int32_t x = 0; x < w; ++x) {
            frame.set(x, r, static_cast<std::uint32_t>(r * 100 + x));
        }
    }
    return frame;
}

constexpr std::uint32_t kUnwritten = 0xDEADBEEF;

struct Converted {
    TestFrame dst;
    FilterSettings settings;
};

// Plans the geometry, converts `src` and returns the destination, whose
// unwritten pixels hold kUnwritten.
Converted convert(FilterSettings settings, const TestFrame& src, PitchKind kind = PitchKind::padded) {
    const OutputGeometry g = compute_output_geometry(settings, src.w(), src.h());
    TestFrame dst(g.w, g.h, kind);
    dst.fill(kUnwritten);
    EXPECT_EQ(convert_frame(settings, src.view(), dst.view()), 0);
    EXPECT_TRUE(dst.outside_untouched());
    return {std::move(dst), settings};
}

std::vector<std::uint32_t> row_of(const TestFrame& f, std::int32_t r) {
    std::vector<std::uint32_t> row;
    for (std::int32_t x = 0; x < f.w(); ++x) {
        row.push_back(f.at(x, r));
    }
    return row;
}

using Row = std::vector<std::uint32_t>;

TEST(FrameConversion, NopCopiesEveryBitAndSwapExchangesTheHalvesOfAnOddRow) {
    TestFrame src(5, 3, PitchKind::negative);
    std::mt19937 rng(1);
    src.fill_random(rng);  // bits 24-31 included
    const Converted plain = convert(settings_for(MODE_NOP), src);
    for (std::int32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(row_of(plain.dst, r), row_of(src, r));
    }
    const TestFrame numbered = numbered_frame(5, 1);
    const Converted swapped = convert(settings_for(MODE_NOP, true), numbered);
    EXPECT_EQ(row_of(swapped.dst, 0), (Row{2, 3, 0, 1, kUnwritten}));
}

TEST(FrameConversion, DeinterlaceTakesEvenRowsAsTheLeftViewAndDropsAnOddLastRow) {
    TestFrame src(4, 5);
    for (std::int32_t r = 0; r < 5; ++r) {
        for (std::int32_t x = 0; x < 4; ++x) {
            src.set(x, r, static_cast<std::uint32_t>(r));
        }
    }
    const Converted plain = convert(settings_for(MODE_DEINTERLACE), src);
    ASSERT_EQ(plain.dst.h(), 2);
    EXPECT_EQ(row_of(plain.dst, 0), (Row{0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(row_of(plain.dst, 1), (Row{2, 2, 2, 2, 3, 3, 3, 3}));
    const Converted swapped = convert(settings_for(MODE_DEINTERLACE, true), src);
    EXPECT_EQ(row_of(swapped.dst, 0), (Row{1, 1, 1, 1, 0, 0, 0, 0}));
}

TEST(FrameConversion, CenteringPutsAQuarterOfTheWidthOutsideAndTheRestBetweenTheViews) {
    const TestFrame src = numbered_frame(8, 1);
    FilterSettings s = settings_for(MODE_CENTERING);
    s.center_width = 8;
    s.fill_color = 0xFF123456;  // bits 24-31 land in the margins too
    const std::uint32_t f = s.fill_color;
    EXPECT_EQ(row_of(convert(s, src).dst, 0), (Row{f, f, 0, 1, 2, 3, f, f, f, f, 4, 5, 6, 7, f, f}));
    s.center_width = 6;  // q = 1, hd = 7: remainders go to the middle and right margins
    EXPECT_EQ(row_of(convert(s, src).dst, 0), (Row{f, 0, 1, 2, 3, f, f, f, 4, 5, 6, 7, f, f}));
    s.swap_lr = 1;
    EXPECT_EQ(row_of(convert(s, src).dst, 0), (Row{f, 4, 5, 6, 7, f, f, f, 0, 1, 2, 3, f, f}));
    s.swap_lr = 0;
    s.center_width = -6;  // counts as 0
    EXPECT_EQ(row_of(convert(s, src).dst, 0), (Row{0, 1, 2, 3, 4, 5, 6, 7}));
    const TestFrame odd = numbered_frame(5, 1);
    s.center_width = 0;
    EXPECT_EQ(row_of(convert(s, odd).dst, 0), (Row{0, 1, 2, 3, f}));
}

TEST(FrameConversion, SideBySideToAboveBelowPutsTheLeftViewBelow) {
    const TestFrame src = numbered_frame(8, 2);
    const Converted c = convert(settings_for(MODE_SBS_TO_AB), src);
    ASSERT_EQ(c.dst.h(), 4);
    EXPECT_EQ(row_of(c.dst, 0), (Row{0, 1, 2, 3}));
    EXPECT_EQ(row_of(c.dst, 1), (Row{100, 101, 102, 103}));
    EXPECT_EQ(row_of(c.dst, 2), (Row{4, 5, 6, 7}));
    EXPECT_EQ(row_of(c.dst, 3), (Row{104, 105, 106, 107}));
}

TEST(FrameConversion, AboveBelowToSideBySideSkipsTheMiddleRowOfAnOddHeight) {
    const Converted even = convert(settings_for(MODE_AB_TO_SBS), numbered_frame(2, 4));
    EXPECT_EQ(row_of(even.dst, 0), (Row{0, 1, 200, 201}));
    EXPECT_EQ(row_of(even.dst, 1), (Row{100, 101, 300, 301}));
    const Converted odd = convert(settings_for(MODE_AB_TO_SBS), numbered_frame(2, 5));
    ASSERT_EQ(odd.dst.h(), 2);
    EXPECT_EQ(row_of(odd.dst, 0), (Row{0, 1, 300, 301}));
    EXPECT_EQ(row_of(odd.dst, 1), (Row{100, 101, 400, 401}));
    const Converted one_row = convert(settings_for(MODE_AB_TO_SBS), numbered_frame(3, 1));
    EXPECT_EQ(one_row.dst.h(), 0);
}

TEST(FrameConversion, AlignmentCutsShiftedWindowsOutOfBothViews) {
    const TestFrame src = numbered_frame(12, 6);
    FilterSettings s = settings_for(MODE_ALIGNMENT);
    s.align_horz = 2;
    s.align_vert = 1;
    const Converted c = convert(s, src);
    ASSERT_EQ(c.dst.w(), 8);
    ASSERT_EQ(c.dst.h(), 4);
    for (std::int32_t r = 0; r < 4; ++r) {
        const std::uint32_t left = r * 100;
        const std::uint32_t right = (r + 1) * 100;
        EXPECT_EQ(row_of(c.dst, r),
                  (Row{left + 2, left + 3, left + 4, left + 5, right + 6, right + 7, right + 8, right + 9}));
    }
    s.align_horz = -2;
    s.align_vert = -1;
    s.swap_lr = 1;  // same windows, halves exchanged
    const Converted swapped = convert(s, src);
    EXPECT_EQ(row_of(swapped.dst, 0), (Row{8, 9, 10, 11, 100, 101, 102, 103}));
}

TEST(FrameConversion, CroppingShowsTheWindowUprightFromBothViews) {
    const TestFrame src = numbered_frame(10, 8);
    FilterSettings s = settings_for(MODE_CROPPING);
    s.crop_x = 1;
    s.crop_y = 2;
    s.crop_width = 3;
    s.crop_height = 2;
    const Converted c = convert(s, src);
    ASSERT_EQ(c.dst.w(), 6);
    EXPECT_EQ(row_of(c.dst, 0), (Row{401, 402, 403, 406, 407, 408}));
    EXPECT_EQ(row_of(c.dst, 1), (Row{501, 502, 503, 506, 507, 508}));
    s.swap_lr = 1;
    EXPECT_EQ(row_of(convert(s, src).dst, 0), (Row{406, 407, 408, 401, 402, 403}));
}

TEST(FrameConversion, UnknownModeWritesNothing) {
    const TestFrame src = numbered_frame(4, 4);
    for (const std::int32_t mode : {0, 199, 208, -1}) {
        const Converted c = convert(settings_for(mode), src);
        for (std::int32_t r = 0; r < c.dst.h(); ++r) {
            EXPECT_EQ(row_of(c.dst, r), Row(4, kUnwritten));
        }
    }
}

TEST(FrameConversion, SideBySideToAboveBelowAndBackRestoresTheFrame) {
    std::mt19937 rng(3);
    for (const bool swap : {false, true}) {
        for (const PitchKind kind : {PitchKind::packed, PitchKind::padded, PitchKind::negative}) {
            TestFrame src(6, 5, kind);
            src.fill_random(rng);
            const Converted ab = convert(settings_for(MODE_SBS_TO_AB, swap), src, kind);
            const Converted back = convert(settings_for(MODE_AB_TO_SBS, swap), ab.dst, kind);
            for (std::int32_t r = 0; r < 5; ++r) {
                EXPECT_EQ(row_of(back.dst, r), row_of(src, r));
            }
        }
    }
}

TEST(FrameConversion, SwappingTwiceRestoresTheFrame) {
    std::mt19937 rng(4);
    TestFrame src(8, 3, PitchKind::negative);
    src.fill_random(rng);
    const Converted once = convert(settings_for(MODE_NOP, true), src);
    const Converted twice = convert(settings_for(MODE_NOP, true), once.dst, PitchKind::negative);
    for (std::int32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(row_of(twice.dst, r), row_of(src, r));
    }
}

// A destination pixel's expected value: a source pixel, the fill colour, or
// nothing; a step outside the source makes the whole frame unwritten.
struct Expected {
    std::optional<std::uint32_t> pixel;
    bool outside_source = false;
};

Expected expected_pixel(const FilterSettings& s, const TestFrame& src, std::int32_t dw, std::int32_t x,
                        std::int32_t r) {
    const test::PixelOrigin o = test::pixel_origin(s, src.w(), src.h(), dw, x, r);
    switch (o.kind) {
    case test::PixelOrigin::Kind::source:
        if (o.outside(src.w(), src.h())) {
            return Expected{std::nullopt, true};
        }
        return Expected{src.at(static_cast<std::int32_t>(o.x), static_cast<std::int32_t>(o.row)), false};
    case test::PixelOrigin::Kind::fill:
        return Expected{s.fill_color};
    default:
        return Expected{};
    }
}

// Checks `iterations` random conversions of frames up to max_width x max_height
// against the pixel definitions.
void check_random_conversions(std::uint32_t seed, int iterations, std::int32_t max_width, std::int32_t max_height) {
    std::mt19937 rng(seed);
    const PitchKind kinds[] = {PitchKind::packed, PitchKind::padded, PitchKind::negative};
    for (int iteration = 0; iteration < iterations; ++iteration) {
        const std::int32_t mode = kFirstMode + static_cast<std::int32_t>(rng() % kModeCount);
        if (mode == MODE_ANAGLYPH) {
            continue;
        }
        FilterSettings s = test::random_copy_settings(rng, mode);
        TestFrame src(static_cast<std::int32_t>(rng() % (max_width + 1)),
                      static_cast<std::int32_t>(rng() % (max_height + 1)), kinds[rng() % 3]);
        src.fill_random(rng);
        const OutputGeometry g = compute_output_geometry(s, src.w(), src.h());
        TestFrame dst(g.w, g.h, kinds[rng() % 3], static_cast<std::int32_t>(rng() % 4));
        dst.fill(kUnwritten);
        convert_frame(s, src.view(), dst.view());

        SCOPED_TRACE(testing::Message() << "mode " << mode << " swap " << int{s.swap_lr} << " src " << src.w() << "x"
                                        << src.h() << " dst " << g.w << "x" << g.h);
        ASSERT_TRUE(dst.outside_untouched()) << "mode " << mode;
        bool any_outside = false;
        for (std::int32_t r = 0; r < g.h && !any_outside; ++r) {
            for (std::int32_t x = 0; x < g.w; ++x) {
                any_outside = any_outside || expected_pixel(s, src, g.w, x, r).outside_source;
            }
        }
        for (std::int32_t r = 0; r < g.h; ++r) {
            for (std::int32_t x = 0; x < g.w; ++x) {
                const Expected e = expected_pixel(s, src, g.w, x, r);
                const std::uint32_t want = any_outside || !e.pixel ? kUnwritten : *e.pixel;
                ASSERT_EQ(dst.at(x, r), want) << "at " << x << "," << r;
            }
        }
    }
}

TEST(FrameConversion, EveryCopyModeMatchesItsPixelDefinitionOnRandomFramesAndPitches) {
    check_random_conversions(5, 6000, 13, 8);
}

// Rows of hundreds of bytes, which take the block copies' long paths, at every
// alignment the random sizes and pitches give.
TEST(FrameConversion, EveryCopyModeMatchesItsPixelDefinitionOnWideFrames) { check_random_conversions(7, 300, 200, 5); }

TEST(FrameConversion, NoSettingsOrFrameSizesMakeItTouchMemoryOutsideEitherFrame) {
    std::mt19937 rng(6);
    const std::int32_t extremes[] = {0, 1, -1, 2, 7, INT32_MAX, INT32_MIN, INT32_MAX / 2, INT32_MIN / 2 - 1};
    const PitchKind kinds[] = {PitchKind::packed, PitchKind::padded, PitchKind::negative};
    for (int iteration = 0; iteration < 20000; ++iteration) {
        FilterSettings s;
        auto pick = [&]() {
            return rng() % 2 == 0 ? extremes[rng() % std::size(extremes)] : static_cast<std::int32_t>(rng() % 20) - 10;
        };
        s.swap_lr = static_cast<std::uint8_t>(rng());
        s.mode = kFirstMode + static_cast<std::int32_t>(rng() % (kModeCount + 1));
        s.center_width = pick();
        s.align_horz = pick();
        s.align_vert = pick();
        s.crop_x = pick();
        s.crop_y = pick();
        s.crop_width = pick();
        s.crop_height = pick();
        s.fill_color = static_cast<std::uint32_t>(rng());
        TestFrame src(static_cast<std::int32_t>(rng() % 6), static_cast<std::int32_t>(rng() % 6), kinds[rng() % 3]);
        src.fill_random(rng);
        // Half the time the destination is planned; otherwise any small size.
        std::int32_t dw = static_cast<std::int32_t>(rng() % 12), dh = static_cast<std::int32_t>(rng() % 12);
        if (rng() % 2 == 0) {
            FilterSettings corrected = s;
            const OutputGeometry g = compute_output_geometry(corrected, src.w(), src.h());
            if (g.w > 64 || g.h > 64) {
                continue;
            }
            s = corrected;
            dw = g.w;
            dh = g.h;
        }
        TestFrame dst(dw, dh, kinds[rng() % 3]);
        convert_frame(s, src.view(), dst.view());
        ASSERT_TRUE(dst.outside_untouched())
            << "mode " << s.mode << " src " << src.w() << "x" << src.h() << " dst " << dw << "x" << dh;
    }
}

}  // namespace
}  // namespace ocuvex
