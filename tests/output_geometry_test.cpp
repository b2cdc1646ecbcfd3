#include "core/output_geometry.h"

#include <gtest/gtest.h>

#include "tests/test_frames.h"

namespace ocuvex {
namespace {

using test::settings_for;

struct SizeCase {
    std::int32_t mode;
    std::int32_t src_w, src_h;
    std::int32_t w, h, pitch;
};

TEST(OutputGeometry, EachModeGivesItsOutputSizeAndAnEightBytePitch) {
    const SizeCase cases[] = {
        {MODE_NOP, 641, 480, 641, 480, 2568},
        {MODE_ANAGLYPH, 641, 480, 320, 480, 1280},
        {MODE_DEINTERLACE, 640, 481, 1280, 240, 5120},
        {MODE_AB_TO_SBS, 640, 481, 1280, 240, 5120},
        {MODE_SBS_TO_AB, 641, 3, 320, 6, 1280},
        {MODE_CENTERING, 8, 2, 8, 2, 32},
        {MODE_NOP, 0, 0, 0, 0, 0},
        {MODE_ANAGLYPH, 1, 1, 0, 1, 0},
        {MODE_DEINTERLACE, 1, 1, 2, 0, 8},
        {199, 5, 5, 5, 5, 24},
        {MODE_NOP, -5, -5, 0, 0, 0},
    };
    for (const SizeCase& c : cases) {
        FilterSettings s = settings_for(c.mode);
        const FilterSettings before = s;
        const OutputGeometry g = compute_output_geometry(s, c.src_w, c.src_h);
        EXPECT_EQ(g.w, c.w) << c.mode << " " << c.src_w << "x" << c.src_h;
        EXPECT_EQ(g.h, c.h) << c.mode << " " << c.src_w << "x" << c.src_h;
        EXPECT_EQ(g.pitch, c.pitch) << c.mode << " " << c.src_w << "x" << c.src_h;
        EXPECT_EQ(s, before) << "only alignment and cropping correct settings";
    }
}

TEST(OutputGeometry, CenteringWidensByTheWidthAndTakesANegativeWidthAsZero) {
    FilterSettings s = settings_for(MODE_CENTERING);
    s.center_width = 6;
    EXPECT_EQ(compute_output_geometry(s, 8, 2).w, 14);
    s.center_width = -100;
    EXPECT_EQ(compute_output_geometry(s, 8, 2).w, 8);
    EXPECT_EQ(s.center_width, -100);
}

TEST(OutputGeometry, CenteringWidthThatWouldOverflowThePitchIsCutToTheWidestRow) {
    FilterSettings s = settings_for(MODE_CENTERING);
    s.center_width = INT32_MAX;
    const OutputGeometry g = compute_output_geometry(s, 1920, 1080);
    EXPECT_EQ(g.w, kMaxFrameWidth);
    EXPECT_EQ(s.center_width, kMaxFrameWidth - 1920);
    EXPECT_GT(g.pitch, 0);
    EXPECT_GE(g.pitch, 4 * g.w);
}

struct AlignmentCase {
    std::int32_t horz, vert;
    std::int32_t w, h;
    std::int32_t horz_after, vert_after;
};

TEST(OutputGeometry, AlignmentNarrowsByTwiceEachShiftOrResetsAShiftThatDoesNotFit) {
    const AlignmentCase cases[] = {
        {8, 0, 624, 480, 8, 0},
        {-8, 0, 624, 480, -8, 0},
        {400, 3, 640, 474, 0, 3},    // 640 - 800 <= 0; the vertical shift is judged on its own
        {320, 240, 640, 480, 0, 0},  // exactly 0 left is reset too
        {319, -239, 2, 2, 319, -239},
        {INT32_MIN, INT32_MIN, 640, 480, 0, 0},
        {INT32_MAX, -INT32_MAX, 640, 480, 0, 0},
    };
    for (const AlignmentCase& c : cases) {
        FilterSettings s = settings_for(MODE_ALIGNMENT);
        s.align_horz = c.horz;
        s.align_vert = c.vert;
        const OutputGeometry g = compute_output_geometry(s, 640, 480);
        EXPECT_EQ(g.w, c.w) << c.horz << "," << c.vert;
        EXPECT_EQ(g.h, c.h) << c.horz << "," << c.vert;
        EXPECT_EQ(s.align_horz, c.horz_after) << c.horz << "," << c.vert;
        EXPECT_EQ(s.align_vert, c.vert_after) << c.horz << "," << c.vert;
    }
}

struct CropCase {
    std::int32_t src_w, src_h;
    std::int32_t x, y, width, height;
    std::int32_t x_after, y_after, width_after, height_after;
};

TEST(OutputGeometry, CroppingWindowEndsStrictlyInsideEachHalf) {
    const CropCase cases[] = {
        {1280, 480, 0, 0, 640, 10, 0, 0, 1, 10},  // reaches the half's right edge exactly
        {1280, 480, 0, 0, 639, 10, 0, 0, 639, 10},
        {1280, 480, 700, 0, 10, 10, 0, 0, 10, 10},   // x reset before the width test sees it
        {1280, 480, 0, 470, 10, 10, 0, 470, 10, 1},  // reaches the bottom line exactly
        {1280, 480, 0, 480, 10, 10, 0, 0, 10, 10},
        {1280, 480, -1, -1, -1, -1, 0, 0, 1, 1},
        {1280, 480, 0, 0, 0, 0, 0, 0, 0, 0},                          // an empty window passes every test
        {1280, 480, 600, 400, INT32_MAX, INT32_MAX, 600, 400, 1, 1},  // sums that overflow 32 bits
        {1280, 480, 10, 10, INT32_MIN, INT32_MIN, 10, 10, 1, 1},
        {1, 1, 5, 5, 5, 5, 0, 0, 1, 1},
        {0, 0, 0, 0, 0, 0, 0, 0, 1, 1},  // nothing fits an empty source
    };
    for (const CropCase& c : cases) {
        FilterSettings s = settings_for(MODE_CROPPING);
        s.crop_x = c.x;
        s.crop_y = c.y;
        s.crop_width = c.width;
        s.crop_height = c.height;
        const OutputGeometry g = compute_output_geometry(s, c.src_w, c.src_h);
        SCOPED_TRACE(testing::Message() << c.src_w << "x" << c.src_h << " window " << c.x << "," << c.y << " "
                                        << c.width << "x" << c.height);
        EXPECT_EQ(s.crop_x, c.x_after);
        EXPECT_EQ(s.crop_y, c.y_after);
        EXPECT_EQ(s.crop_width, c.width_after);
        EXPECT_EQ(s.crop_height, c.height_after);
        EXPECT_EQ(g.w, 2 * c.width_after);
        EXPECT_EQ(g.h, c.height_after);
    }
}

TEST(OutputGeometry, CorrectedSettingsAreStableWhenComputedAgain) {
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        FilterSettings s = settings_for(kFirstMode + static_cast<std::int32_t>(rng() % kModeCount));
        s.align_horz = static_cast<std::int32_t>(rng());
        s.align_vert = static_cast<std::int32_t>(rng() % 64) - 32;
        s.crop_x = static_cast<std::int32_t>(rng() % 80) - 8;
        s.crop_y = static_cast<std::int32_t>(rng() % 80) - 8;
        s.crop_width = static_cast<std::int32_t>(rng() % 80) - 8;
        s.crop_height = static_cast<std::int32_t>(rng());
        s.center_width = static_cast<std::int32_t>(rng());
        const auto w = static_cast<std::int32_t>(rng() % 70);
        const auto h = static_cast<std::int32_t>(rng() % 70);
        const OutputGeometry first = compute_output_geometry(s, w, h);
        const FilterSettings corrected = s;
        const OutputGeometry second = compute_output_geometry(s, w, h);
        ASSERT_EQ(s, corrected);
        ASSERT_EQ(first.w, second.w);
        ASSERT_EQ(first.h, second.h);
        ASSERT_GE(first.w, 0);
        ASSERT_GE(first.h, 0);
        ASSERT_GE(first.pitch, 4 * first.w);
        ASSERT_EQ(first.pitch % 8, 0);
    }
}

}  // namespace
}  // namespace ocuvex
