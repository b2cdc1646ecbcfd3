#include "tools/ocuvex/settings_options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tools/ocuvex/commands.h"

namespace ocuvex::cli {
namespace {

SettingsOptions parse(std::vector<std::string_view> args) {
    SettingsOptions options;
    ArgumentCursor cursor(args);
    while (!cursor.done()) {
        if (!take_settings_option(cursor, options)) {
            throw UsageError("unknown option");
        }
    }
    return options;
}

TEST(SettingsOptions, EveryOptionSetsItsField) {
    const SettingsOptions o = parse({"--mode", "cropping", "--swap", "--center-width", "-4", "--fill-color", "0xff8000",
                                     "--align-horz=3", "--align-vert", "+5", "--crop-x", "1", "--crop-y", "2",
                                     "--crop-width", "-2147483648", "--crop-height", "2147483647"});
    EXPECT_EQ(o.settings.mode, MODE_CROPPING);
    EXPECT_EQ(o.settings.swap_lr, 1);
    EXPECT_EQ(o.settings.center_width, -4);
    EXPECT_EQ(o.settings.fill_color, 0xFF8000U);
    EXPECT_EQ(o.settings.align_horz, 3);
    EXPECT_EQ(o.settings.align_vert, 5);
    EXPECT_EQ(o.settings.crop_x, 1);
    EXPECT_EQ(o.settings.crop_y, 2);
    EXPECT_EQ(o.settings.crop_width, INT32_MIN);
    EXPECT_EQ(o.settings.crop_height, INT32_MAX);
    EXPECT_EQ(o.coefficients, anaglyph_default_coefficients);
}

TEST(SettingsOptions, EveryModeNameRoundTrips) {
    for (std::int32_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        EXPECT_EQ(parse_mode_name(mode_name(mode)), mode);
    }
    EXPECT_EQ(parse({}).settings.mode, MODE_NOP);
}

TEST(SettingsOptions, CoefficientsTakeExactlyEighteenNumbers) {
    const SettingsOptions o = parse({"--coefficients", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,1e-3"});
    EXPECT_EQ(o.coefficients[0], 1.0);
    EXPECT_EQ(o.coefficients[17], 0.001);
    const SettingsOptions special = parse({"--coefficients=nan,inf,-inf,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"});
    EXPECT_TRUE(std::isnan(special.coefficients[0]));
    EXPECT_TRUE(std::isinf(special.coefficients[1]));
    for (const char* bad :
         {"1,2,3", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,",
          "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,x", ""}) {
        EXPECT_THROW(parse({"--coefficients", bad}), UsageError) << bad;
    }
}

TEST(SettingsOptions, MalformedOrOutOfRangeValuesAreRefused) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--crop-x", "2147483648"},
        {"--crop-x", "-2147483649"},
        {"--crop-x", "12px"},
        {"--crop-x", ""},
        {"--crop-x", "+-3"},
        {"--crop-x", "0x10"},
        {"--crop-x"},
        {"--mode", "sideways"},
        {"--fill-color", "123456789"},
        {"--fill-color", "0x"},
        {"--fill-color", "ggg"},
        {"--swap=1"},
        {"--crop-x", "99999999999999999999999"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(parse(args), UsageError) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    }
}

// Every row of the settings and convert tables alike: an option without a
// value refuses one after '=', an option with one refuses to go without it
// and refuses an empty one.
TEST(SettingsOptions, EveryOptionRefusesAValueItDoesNotTake) {
    std::vector<OptionText> options;
    for (const SettingsOption& option : settings_options()) {
        options.push_back(option.text);
    }
    for (const CommandOption<ConvertArguments>& option : convert_options()) {
        options.push_back(option.text);
    }
    for (const CommandOption<PackingChoice>& option : packing_options()) {
        options.push_back(option.text);
    }
    for (const OptionText& option : options) {
        const std::string name(option.name);
        const auto convert = [](std::vector<std::string_view> args) {
            args.insert(args.end(), {"in.mkv", "out.mkv"});
            return parse_convert_arguments(args);
        };
        if (option.value.empty()) {
            EXPECT_NO_THROW(convert({name})) << name;
            EXPECT_THROW(convert({name + "=1"}), UsageError) << name;
            EXPECT_THROW(convert({name + "="}), UsageError) << name;
        } else {
            EXPECT_THROW(parse_convert_arguments(std::vector<std::string_view>{"in.mkv", "out.mkv", name}), UsageError)
                << name;
            EXPECT_THROW(convert({name + "="}), UsageError) << name;
            EXPECT_THROW(convert({name, ""}), UsageError) << name;
        }
    }
}

TEST(PackingOptions, HalfInputAndEitherOutputPacking) {
    const ConvertArguments plain = parse_convert_arguments(std::vector<std::string_view>{"in.mp4", "out.mp4"});
    EXPECT_EQ(plain.packing.input, Packing::Full);
    EXPECT_FALSE(plain.packing.output);
    const ConvertArguments half = parse_convert_arguments(
        std::vector<std::string_view>{"--half", "--output-packing=full", "--mode", "sbs-to-ab", "in.mp4", "out.mp4"});
    EXPECT_EQ(half.packing.input, Packing::Half);
    EXPECT_EQ(half.packing.output, Packing::Full);
    EXPECT_EQ(parse_convert_arguments(std::vector<std::string_view>{"--output-packing", "half", "a.mp4", "b.mp4"})
                  .packing.output,
              Packing::Half);
    EXPECT_THROW(parse_convert_arguments(std::vector<std::string_view>{"--output-packing", "Half", "a.mp4", "b.mp4"}),
                 UsageError);
    // The anaglyph has no packing to choose; --half it reads.
    PackingChoice packing{Packing::Half, std::nullopt};
    EXPECT_EQ(packing_problem(packing, MODE_ANAGLYPH), "");
    packing.output = Packing::Full;
    EXPECT_NE(packing_problem(packing, MODE_ANAGLYPH), "");
    EXPECT_EQ(packing_problem(packing, MODE_DEINTERLACE), "");
}

TEST(PackingOptions, RatiosOfPositiveWholeNumbers) {
    EXPECT_EQ(parse_ratio("16:15", "--sar"), (Ratio{16, 15}));
    EXPECT_EQ(parse_ratio("4/2", "--sar"), (Ratio{2, 1}));
    EXPECT_EQ(parse_ratio("2147483647:1", "--sar"), (Ratio{INT32_MAX, 1}));
    for (const char* bad : {"0:1", "1:0", "1:", ":1", "-1:2", "+1:2", "1.5:1", "3", "2147483648:1", "1:2:3", ""}) {
        EXPECT_THROW(parse_ratio(bad, "--sar"), UsageError) << bad;
    }
}

TEST(SettingsOptions, FrameSizeNeedsWidthXHeight) {
    EXPECT_EQ(parse_frame_size("3840x1080", "--size").w, 3840);
    EXPECT_EQ(parse_frame_size("3840x1080", "--size").h, 1080);
    for (const char* bad :
         {"3840", "x1080", "3840x", "-1x2", "1x2x3", "axb", "99999999999x1", "-0x5", "5x-0", "+5x5"}) {
        EXPECT_THROW(parse_frame_size(bad, "--size"), UsageError) << bad;
    }
}

TEST(SettingsOptions, ErrorsQuoteArgumentsOnOneLineWithoutControlCharacters) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--crop-x", "1\n2"},
        {"--mode", "nop\x1b[2J"},
        {"--fill-color", "\r\t"},
        {"--coefficients", "1,\n"},
    };
    for (const auto& args : bad) {
        try {
            parse(args);
            ADD_FAILURE() << "accepted " << args[1];
        } catch (const UsageError& error) {
            const std::string_view message = error.what();
            EXPECT_EQ(message.find_first_of("\n\r\t\x1b"), std::string_view::npos) << message;
        }
    }
    EXPECT_EQ(printable("a\nb\x7f\x1b[0m\xc3\xa9"), "a\\x0ab\\x7f\\x1b[0m\xc3\xa9");
}

}  // namespace
}  // namespace ocuvex::cli
