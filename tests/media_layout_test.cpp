// What the input's stereo metadata does to the swap, the stereo layout each
// mode's output declares, the field order it keeps, and the aspect ratios it
// writes.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/rational.h>
}

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "core/display_shape.h"
#include "core/output_geometry.h"
#include "media/stereo_metadata.h"

namespace ocuvex::media {
namespace {

constexpr StereoLayout kLeftRight{StereoPacking::SideBySide, true};
constexpr StereoLayout kRightLeft{StereoPacking::SideBySide, false};
constexpr StereoLayout kTopBottom{StereoPacking::AboveBelow, true};
constexpr StereoLayout kBottomTop{StereoPacking::AboveBelow, false};
constexpr StereoLayout kLinesLeftFirst{StereoPacking::Lines, true};
constexpr StereoLayout kLinesRightFirst{StereoPacking::Lines, false};

FilterSettings settings_for(std::int32_t mode, bool swap) {
    FilterSettings settings = default_settings();
    settings.mode = mode;
    settings.swap_lr = swap ? 1 : 0;
    return settings;
}

struct ReadingCase {
    std::int32_t mode;
    std::int32_t h;
    std::optional<StereoLayout> declared;
    bool swap;            // the metadata's swap
    const char* message;  // a part of the line; null: no line
};

TEST(StereoReading, TheViewsAreExchangedWhereTheMetadataPutsTheLeftEyeWhereTheModeTakesTheRightView) {
    const ReadingCase cases[] = {
        {MODE_ANAGLYPH, 36, std::nullopt, false, nullptr},
        {MODE_ANAGLYPH, 36, kLeftRight, false, nullptr},
        {MODE_ANAGLYPH, 36, kRightLeft, true, "says the left eye is in the right half: the views are exchanged"},
        {MODE_NOP, 36, kRightLeft, true, "right half"},
        {MODE_SBS_TO_AB, 36, kRightLeft, true, "right half"},
        {MODE_CROPPING, 36, kRightLeft, true, "right half"},
        // Above/below: the conversion's left view is the lower half.
        {MODE_AB_TO_SBS, 36, kTopBottom, true, "says the left eye is in the top half"},
        {MODE_AB_TO_SBS, 37, kBottomTop, false, nullptr},
        // Alternate lines: the left view is the even memory rows, which hold
        // the top line only when the height is odd.
        {MODE_DEINTERLACE, 36, kLinesLeftFirst, true, "says the left eye is in the top line"},
        {MODE_DEINTERLACE, 37, kLinesLeftFirst, false, nullptr},
        {MODE_DEINTERLACE, 36, kLinesRightFirst, false, nullptr},
        {MODE_DEINTERLACE, 37, kLinesRightFirst, true, "the second line"},
        // A packing the mode does not read says nothing about its halves.
        {MODE_AB_TO_SBS, 36, kRightLeft, false, "the mode reads above/below pictures, so that is not used"},
        {MODE_SBS_TO_AB, 36, kTopBottom, false, "the mode reads side-by-side pictures, so that is not used"},
        {MODE_DEINTERLACE, 36, StereoLayout{StereoPacking::Other, true}, false, "not in a layout ocuvex converts"},
        // Two views whose packing is not said: the mode's, in the order given.
        {MODE_CENTERING, 36, StereoLayout{StereoPacking::Unspecified, false}, true, "the right half"},
    };
    for (const ReadingCase& c : cases) {
        const StereoReading reading = read_stereo_layout(c.mode, c.h, c.declared, "in.mkv");
        const std::string what = "mode " + std::to_string(c.mode) + ", height " + std::to_string(c.h) +
                                 (c.declared ? ", " + layout_text(*c.declared) : ", no metadata");
        EXPECT_EQ(reading.metadata_swap, c.swap) << what;
        EXPECT_EQ(reading.left_view_is_left_eye, !c.swap) << what;
        if (c.message == nullptr) {
            EXPECT_EQ(reading.message, "") << what;
        } else {
            EXPECT_NE(reading.message.find(c.message), std::string::npos) << what << ": " << reading.message;
            EXPECT_EQ(reading.message.find('\n'), std::string::npos) << what;
        }
    }
}

TEST(OutputLayout, EveryModeDeclaresItsLayoutAsTheConversionsLayItOut) {
    struct Case {
        std::int32_t mode;
        const char* plain;    // Matroska's name without --swap; null: none
        const char* swapped;  // with --swap
    };
    const Case cases[] = {
        {MODE_NOP, nullptr, nullptr},  // nop makes no claim about an input without metadata
        {MODE_DEINTERLACE, "left_right", "right_left"},
        {MODE_CENTERING, "left_right", "right_left"},
        {MODE_ANAGLYPH, "anaglyph_cyan_red", "anaglyph_cyan_red"},
        {MODE_SBS_TO_AB, "bottom_top", "top_bottom"},
        {MODE_AB_TO_SBS, "left_right", "right_left"},
        {MODE_ALIGNMENT, "left_right", "right_left"},
        {MODE_CROPPING, "left_right", "right_left"},
    };
    for (const Case& c : cases) {
        for (const bool swap : {false, true}) {
            const std::optional<StereoLayout> layout =
                output_stereo_layout(settings_for(c.mode, swap), StereoReading{}, std::nullopt);
            const char* want = swap ? c.swapped : c.plain;
            if (want == nullptr) {
                EXPECT_FALSE(layout.has_value()) << c.mode;
            } else {
                ASSERT_TRUE(layout.has_value()) << c.mode;
                EXPECT_STREQ(matroska_stereo_mode(*layout), want) << c.mode << (swap ? " swapped" : "");
            }
        }
    }
}

TEST(OutputLayout, WithTheInputsMetadataTheLeftEyeEndsWhereTheModePutsTheLeftViewAndSwapMovesIt) {
    for (const std::int32_t mode : {MODE_NOP, MODE_CENTERING, MODE_SBS_TO_AB, MODE_ALIGNMENT, MODE_CROPPING}) {
        for (const StereoLayout declared : {kLeftRight, kRightLeft}) {
            for (const bool user_swap : {false, true}) {
                const StereoReading reading = read_stereo_layout(mode, 36, declared, "in.mkv");
                const FilterSettings settings = settings_for(mode, user_swap != reading.metadata_swap);
                const std::optional<StereoLayout> layout = output_stereo_layout(settings, reading, declared);
                ASSERT_TRUE(layout.has_value()) << mode;
                // Side by side: the left eye in the left half unless --swap;
                // above/below: the left eye at the bottom unless --swap.
                EXPECT_EQ(layout->left_first, mode == MODE_SBS_TO_AB ? user_swap : !user_swap)
                    << "mode " << mode << " from " << layout_text(declared) << (user_swap ? " with --swap" : "");
            }
        }
    }
    // ab-to-sbs of a top-bottom input: the top half, the left eye, goes left.
    const StereoReading reading = read_stereo_layout(MODE_AB_TO_SBS, 36, kTopBottom, "in.mkv");
    const FilterSettings settings = settings_for(MODE_AB_TO_SBS, reading.metadata_swap);
    EXPECT_STREQ(matroska_stereo_mode(*output_stereo_layout(settings, reading, kTopBottom)), "left_right");
}

AVFieldOrder field_order_of(FilterSettings settings, std::int32_t w, std::int32_t h, AVFieldOrder input) {
    const OutputGeometry geometry = compute_output_geometry(settings, w, h);
    return output_field_order(settings, {w, h}, {geometry.w, geometry.h}, input);
}

TEST(FieldOrder, EachViewKeepsItsRowsParityOrTheOrderIsUnknown) {
    struct Case {
        const char* what;
        FilterSettings settings;
        std::int32_t h;
        AVFieldOrder input;
        AVFieldOrder want;
    };
    FilterSettings crop_odd = settings_for(MODE_CROPPING, false);
    crop_odd.crop_y = 1;
    crop_odd.crop_width = 10;
    crop_odd.crop_height = 20;
    FilterSettings crop_even = crop_odd;
    crop_even.crop_y = 2;
    FilterSettings align_odd = settings_for(MODE_ALIGNMENT, false);
    align_odd.align_vert = 1;
    FilterSettings align_even = settings_for(MODE_ALIGNMENT, true);
    align_even.align_vert = -2;
    const Case cases[] = {
        {"nop", settings_for(MODE_NOP, true), 36, AV_FIELD_TT, AV_FIELD_TT},
        {"progressive input", settings_for(MODE_NOP, false), 36, AV_FIELD_PROGRESSIVE, AV_FIELD_PROGRESSIVE},
        {"unknown input", settings_for(MODE_SBS_TO_AB, false), 37, AV_FIELD_UNKNOWN, AV_FIELD_UNKNOWN},
        {"anaglyph", settings_for(MODE_ANAGLYPH, false), 36, AV_FIELD_BB, AV_FIELD_BB},
        {"centering", settings_for(MODE_CENTERING, false), 37, AV_FIELD_TB, AV_FIELD_TB},
        {"deinterlace: a view of one field", settings_for(MODE_DEINTERLACE, false), 36, AV_FIELD_TT,
         AV_FIELD_PROGRESSIVE},
        {"sbs-to-ab, even height", settings_for(MODE_SBS_TO_AB, false), 36, AV_FIELD_TT, AV_FIELD_TT},
        {"sbs-to-ab, odd height: the lower view moves by an odd count", settings_for(MODE_SBS_TO_AB, true), 37,
         AV_FIELD_TT, AV_FIELD_UNKNOWN},
        {"ab-to-sbs, halves of even height", settings_for(MODE_AB_TO_SBS, false), 36, AV_FIELD_BB, AV_FIELD_BB},
        {"ab-to-sbs, halves of odd height", settings_for(MODE_AB_TO_SBS, false), 38, AV_FIELD_BB, AV_FIELD_UNKNOWN},
        {"crop from an odd line: the other field first", crop_odd, 36, AV_FIELD_TT, AV_FIELD_BB},
        {"crop from an odd line, coded the other way", crop_odd, 36, AV_FIELD_TB, AV_FIELD_BT},
        {"crop from an even line", crop_even, 36, AV_FIELD_TT, AV_FIELD_TT},
        {"one view moved by one line", align_odd, 36, AV_FIELD_TT, AV_FIELD_UNKNOWN},
        {"one view moved by two lines", align_even, 36, AV_FIELD_TT, AV_FIELD_TT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(field_order_of(c.settings, 64, c.h, c.input), c.want) << c.what;
    }
}

// The core reduces aspect ratios itself (it links no FFmpeg); what it writes
// into a file must be what FFmpeg's own reduction gives for the same numbers.
TEST(SampleAspect, LargeRatiosReduceAsFFmpegReducesThem) {
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 20000; ++i) {
        const int bits = 1 + static_cast<int>(random() % 62);
        const auto part = [&] { return static_cast<std::int64_t>(random() >> (64 - bits)) + 1; };
        const std::int64_t num = part();
        const std::int64_t den = i % 2 == 0 ? part() : static_cast<std::int64_t>(random() % 4096) + 1;
        int ffmpeg_num = 0;
        int ffmpeg_den = 0;
        av_reduce(&ffmpeg_num, &ffmpeg_den, num, den, INT32_MAX);
        const Ratio ours = make_ratio(num, den);
        const Ratio expected = ffmpeg_num > 0 ? Ratio{ffmpeg_num, ffmpeg_den} : Ratio{};
        ASSERT_EQ(ours, expected) << num << "/" << den;
    }
}

}  // namespace
}  // namespace ocuvex::media
