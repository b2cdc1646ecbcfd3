#include "core/filter_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/frame_view.h"

namespace ocuvex {
namespace {

TEST(FilterSettings, DefaultsAreNopWithATenByTenCropWindowAndEverythingElseZero) {
    FilterSettings s;
    std::memset(&s, 0xFF, sizeof s);
    set_defaults(s);
    EXPECT_EQ(s.swap_lr, 0);
    EXPECT_EQ(s.mode, MODE_NOP);
    EXPECT_EQ(s.center_width, 0);
    EXPECT_EQ(s.align_horz, 0);
    EXPECT_EQ(s.align_vert, 0);
    EXPECT_EQ(s.crop_x, 0);
    EXPECT_EQ(s.crop_y, 0);
    EXPECT_EQ(s.crop_width, 10);
    EXPECT_EQ(s.crop_height, 10);
    EXPECT_EQ(s.fill_color, 0U);
}

TEST(FilterSettings, EachModeAndSwapHasItsOwnDescription) {
    for (const ModeRow& row : kModes) {
        FilterSettings s = default_settings();
        s.mode = row.mode;
        EXPECT_STREQ(description_text(s), row.description);
        s.swap_lr = 1;
        EXPECT_EQ(std::string(description_text(s)), std::string(row.description) + std::string(kSwappedSuffix));
        char buffer[kDescriptionCapacity];
        describe(s, buffer);
        EXPECT_STREQ(buffer, description_text(s));
    }
}

TEST(FilterSettings, RecordsFromElsewhereStayInsideTheDescriptionTable) {
    FilterSettings s = default_settings();
    for (const std::int32_t mode : {0, 199, 208, INT32_MIN, INT32_MAX, -200}) {
        s.mode = mode;
        EXPECT_STREQ(description_text(s), "") << mode;
    }
    s.mode = MODE_CROPPING;
    s.swap_lr = 0xFF;  // any non-zero byte counts as swapped
    EXPECT_STREQ(description_text(s), ": Cropping (swapped L/R)");
}

TEST(FrameView, WellFormedViewsHoldTheirWidthInEveryRow) {
    std::uint32_t pixels[8];
    EXPECT_TRUE(is_well_formed(make_frame_view(pixels, 2, 4, 8)));
    EXPECT_TRUE(is_well_formed(make_frame_view(pixels + 6, 2, 4, -8)));
    EXPECT_FALSE(is_well_formed(make_frame_view(pixels, 3, 2, 8)));
    EXPECT_FALSE(is_well_formed(make_frame_view(pixels, -1, 2, 8)));
    EXPECT_TRUE(is_well_formed(make_frame_view(nullptr, 0, 0, 0)));
    EXPECT_FALSE(is_well_formed(make_frame_view(nullptr, 1, 1, 4)));
    EXPECT_EQ(make_frame_view(pixels, 3, 1, 16).modulo, 4);
}

}  // namespace
}  // namespace ocuvex
