#include "dialog/config_dialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "core/anaglyph.h"
#include "dialog/tests/fake_dialog.h"
#include "ocuvex_version.h"

namespace ocuvex::dialog {
namespace {

using testing::FakeDialog;

// The record is what the host stores: the same bytes, not just equal fields.
bool same_record(const FilterSettings& a, const FilterSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;  // NOLINT(bugprone-suspicious-memory-comparison)
}

class ConfigDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { anaglyph_coefficients = anaglyph_default_coefficients; }
    void TearDown() override { anaglyph_coefficients = anaglyph_default_coefficients; }

    FilterSettings settings_ = default_settings();
    FakeDialog dialog_;
};

TEST_F(ConfigDialogTest, FreshInstanceOpensWithItsDefaults) {
    dialog_.open(settings_);
    EXPECT_FALSE(dialog_.is_checked(IDC_SWAP));
    for (const ModeRow& row : kModes) {
        EXPECT_EQ(dialog_.is_checked(row.mode), row.mode == MODE_NOP) << row.mode;
    }
    const std::pair<int, const char*> expected[] = {
        {IDC_CENTER_WIDTH, "0"},
        {IDC_FILL_COLOR, "00000000"},
        {IDC_ALIGN_HORZ, "0"},
        {IDC_ALIGN_VERT, "0"},
        {IDC_CROP_X, "0"},
        {IDC_CROP_Y, "0"},
        {IDC_CROP_WIDTH, "10"},
        {IDC_CROP_HEIGHT, "10"},
        {IDC_COEF_FIRST + 0, "0.4561"},
        {IDC_COEF_FIRST + 1, "0.500484"},
        {IDC_COEF_FIRST + 2, "0.176381"},
        {IDC_COEF_FIRST + 3, "-0.0434706"},
        {IDC_COEF_FIRST + 4, "-0.0879388"},
        {IDC_COEF_FIRST + 5, "-0.00155529"},
        {IDC_COEF_FIRST + 6, "-0.0400822"},
        {IDC_COEF_FIRST + 7, "-0.0378246"},
        {IDC_COEF_FIRST + 8, "-0.0157589"},
        {IDC_COEF_FIRST + 9, "0.378476"},
        {IDC_COEF_FIRST + 10, "0.73364"},
        {IDC_COEF_FIRST + 11, "-0.0184503"},
        {IDC_COEF_FIRST + 12, "-0.0152161"},
        {IDC_COEF_FIRST + 13, "-0.0205971"},
        {IDC_COEF_FIRST + 14, "-0.00546856"},
        {IDC_COEF_FIRST + 15, "-0.0721527"},
        {IDC_COEF_FIRST + 16, "-0.112961"},
        {IDC_COEF_FIRST + 17, "1.2264"},
        {IDC_VERSION, "Version " OCUVEX_VERSION_SHORT " - Aug 20 2015"},
    };
    for (const auto& [id, text] : expected) {
        EXPECT_EQ(dialog_.text(id), text) << "control " << id;
    }
    EXPECT_EQ(dialog_.text(IDC_NOTES).substr(0, 7), "Notes:\n");
    EXPECT_FALSE(dialog_.result().has_value());
}

TEST_F(ConfigDialogTest, OpensWithEveryFieldOfAnEditedRecord) {
    settings_ = {1, MODE_CROPPING, -7, 2147483647, -2147483647 - 1, 3, 4, 5, 6, 0x00FF8000};
    dialog_.open(settings_);
    EXPECT_TRUE(dialog_.is_checked(IDC_SWAP));
    for (const ModeRow& row : kModes) {
        EXPECT_EQ(dialog_.is_checked(row.mode), row.mode == MODE_CROPPING) << row.mode;
    }
    EXPECT_EQ(dialog_.text(IDC_CENTER_WIDTH), "-7");
    EXPECT_EQ(dialog_.text(IDC_FILL_COLOR), "00ff8000");
    EXPECT_EQ(dialog_.text(IDC_ALIGN_HORZ), "2147483647");
    EXPECT_EQ(dialog_.text(IDC_ALIGN_VERT), "-2147483648");
    EXPECT_EQ(dialog_.text(IDC_CROP_X), "3");
    EXPECT_EQ(dialog_.text(IDC_CROP_Y), "4");
    EXPECT_EQ(dialog_.text(IDC_CROP_WIDTH), "5");
    EXPECT_EQ(dialog_.text(IDC_CROP_HEIGHT), "6");
}

TEST_F(ConfigDialogTest, OkWithoutChangesKeepsRecordAndCoefficientsExactly) {
    const FilterSettings records[] = {
        default_settings(),
        {1, MODE_ANAGLYPH, 12, -3, 9, 1, 2, 300, 200, 0xFFFFFFFF},
        {0, MODE_AB_TO_SBS, -2147483647 - 1, 2147483647, 0, 0, 0, 0, 0, 0x00123456},
    };
    for (const FilterSettings& record : records) {
        settings_ = record;
        FakeDialog dialog;
        dialog.open(settings_);
        EXPECT_TRUE(dialog.press(IDOK));
        EXPECT_EQ(dialog.result(), kResultOk);
        EXPECT_TRUE(same_record(settings_, record)) << "mode " << record.mode;
        EXPECT_EQ(anaglyph_coefficients, anaglyph_default_coefficients);
    }
}

TEST_F(ConfigDialogTest, TypedNumbersAreReadByTheirRules) {
    struct Case {
        int id;
        const char* text;
        std::int32_t FilterSettings::*field;
        std::int32_t expected;
    };
    const Case cases[] = {
        {IDC_ALIGN_HORZ, " -12px", &FilterSettings::align_horz, -12},
        {IDC_ALIGN_HORZ, "abc", &FilterSettings::align_horz, 0},
        {IDC_ALIGN_HORZ, "99999999999", &FilterSettings::align_horz, 2147483647},
        {IDC_ALIGN_VERT, "-99999999999", &FilterSettings::align_vert, -2147483647 - 1},
        {IDC_CENTER_WIDTH, "", &FilterSettings::center_width, 0},
        {IDC_CROP_X, "+8", &FilterSettings::crop_x, 8},
        {IDC_CROP_Y, "\t 42 17", &FilterSettings::crop_y, 42},
        {IDC_CROP_WIDTH, "- 5", &FilterSettings::crop_width, 0},
        {IDC_CROP_HEIGHT, "0x10", &FilterSettings::crop_height, 0},
    };
    for (const Case& c : cases) {
        settings_ = default_settings();
        settings_.*c.field = 12345;
        FakeDialog dialog;
        dialog.open(settings_);
        dialog.type(c.id, c.text);
        dialog.press(IDOK);
        EXPECT_EQ(settings_.*c.field, c.expected) << '"' << c.text << '"';
    }
}

TEST_F(ConfigDialogTest, TypedColoursAreReadAsTheHexadecimalScan) {
    struct Case {
        const char* text;
        std::uint32_t expected;
    };
    constexpr std::uint32_t kBefore = 0x00ABCDEF;
    const Case cases[] = {
        {"ff8000", 0x00FF8000}, {"0xff", 0x000000FF},  {"123456789", 0x12345678},
        {"xyz", kBefore},       {"", kBefore},         {"  00FF8000", 0x00FF8000},
        {"-1", 0xFFFFFFFF},     {"-0x10", 0xFFFFFFF0}, {"0x123456789", 0x00123456},
    };
    for (const Case& c : cases) {
        settings_ = default_settings();
        settings_.fill_color = kBefore;
        FakeDialog dialog;
        dialog.open(settings_);
        dialog.type(IDC_FILL_COLOR, c.text);
        dialog.press(IDOK);
        EXPECT_EQ(settings_.fill_color, c.expected) << '"' << c.text << '"';
    }
}

TEST_F(ConfigDialogTest, TypedCoefficientsAreStoredAndShownWithSixDigits) {
    dialog_.open(settings_);
    dialog_.type(IDC_COEF_FIRST + 0, "0.123456789");
    dialog_.type(IDC_COEF_FIRST + 1, "1e-3");
    dialog_.type(IDC_COEF_FIRST + 2, "");
    dialog_.type(IDC_COEF_FIRST + 17, "1e400");
    dialog_.press(IDOK);
    EXPECT_EQ(anaglyph_coefficients[0], 0.123456789);
    EXPECT_EQ(anaglyph_coefficients[1], 0.001);
    EXPECT_EQ(anaglyph_coefficients[2], 0.0);
    EXPECT_EQ(anaglyph_coefficients[17], std::numeric_limits<double>::infinity());

    FakeDialog next;
    FilterSettings other = default_settings();
    next.open(other);
    EXPECT_EQ(next.text(IDC_COEF_FIRST + 0), "0.123457");
    EXPECT_EQ(next.text(IDC_COEF_FIRST + 17), "inf");
    next.press(IDOK);
    EXPECT_EQ(anaglyph_coefficients[0], 0.123457);
    EXPECT_EQ(anaglyph_coefficients[17], std::numeric_limits<double>::infinity());
}

TEST_F(ConfigDialogTest, ModeIsTheFirstCheckedButtonInTestOrder) {
    for (const ModeRow& row : kModes) {
        FakeDialog dialog;
        dialog.open(settings_);
        dialog.click(row.mode);
        dialog.press(IDOK);
        EXPECT_EQ(settings_.mode, row.mode);
    }
    struct Case {
        std::vector<std::int32_t> checked;
        std::int32_t expected;
    };
    const Case cases[] = {
        {{}, MODE_NOP},
        {{MODE_ANAGLYPH, MODE_ALIGNMENT}, MODE_ALIGNMENT},
        {{MODE_AB_TO_SBS, MODE_SBS_TO_AB}, MODE_SBS_TO_AB},
        {{MODE_CROPPING, MODE_ANAGLYPH}, MODE_CROPPING},
        {{MODE_CENTERING, MODE_DEINTERLACE}, MODE_DEINTERLACE},
    };
    for (const Case& c : cases) {
        settings_ = default_settings();
        settings_.mode = MODE_ANAGLYPH;
        FakeDialog dialog;
        dialog.open(settings_);
        dialog.set_checked(MODE_ANAGLYPH, false);
        for (std::int32_t mode : c.checked) {
            dialog.set_checked(mode, true);
        }
        dialog.press(IDOK);
        EXPECT_EQ(settings_.mode, c.expected);
    }
}

TEST_F(ConfigDialogTest, SwapAndAnaglyphAreStored) {
    dialog_.open(settings_);
    dialog_.click(IDC_SWAP);
    dialog_.click(MODE_ANAGLYPH);
    EXPECT_FALSE(dialog_.is_checked(MODE_NOP));
    EXPECT_TRUE(dialog_.click(IDOK));
    EXPECT_EQ(settings_.swap_lr, 1);
    EXPECT_EQ(settings_.mode, MODE_ANAGLYPH);
}

TEST_F(ConfigDialogTest, RecordWithUnknownModeOpensWithNoButtonAndBecomesNop) {
    settings_.mode = 999;
    dialog_.open(settings_);
    for (const ModeRow& row : kModes) {
        EXPECT_FALSE(dialog_.is_checked(row.mode));
    }
    dialog_.press(IDOK);
    EXPECT_EQ(settings_.mode, MODE_NOP);
}

TEST_F(ConfigDialogTest, CancelWritesNothingBack) {
    const FilterSettings before = settings_;
    dialog_.open(settings_);
    dialog_.click(IDC_SWAP);
    dialog_.click(MODE_CENTERING);
    dialog_.type(IDC_CENTER_WIDTH, "64");
    dialog_.type(IDC_FILL_COLOR, "ff0000");
    dialog_.type(IDC_COEF_FIRST + 4, "7");
    EXPECT_FALSE(dialog_.press(IDCANCEL));
    EXPECT_EQ(dialog_.result(), kResultCancel);
    EXPECT_TRUE(same_record(settings_, before));
    EXPECT_EQ(anaglyph_coefficients, anaglyph_default_coefficients);
}

TEST_F(ConfigDialogTest, OkThatRunsOutOfMemoryPartWayWritesNothingBack) {
    const FilterSettings before = settings_;
    for (const int failing : {IDC_CROP_HEIGHT, IDC_COEF_FIRST + 17}) {
        dialog_.open(settings_);
        dialog_.click(IDC_SWAP);
        dialog_.click(MODE_CROPPING);
        dialog_.type(IDC_CROP_X, "64");
        dialog_.type(IDC_COEF_FIRST, "7");
        dialog_.fail_reading(failing);
        EXPECT_THROW(dialog_.press(IDOK), std::bad_alloc);
        EXPECT_FALSE(dialog_.result().has_value()) << "control " << failing;
        EXPECT_TRUE(same_record(settings_, before)) << "control " << failing;
        EXPECT_EQ(anaglyph_coefficients, anaglyph_default_coefficients) << "control " << failing;
    }
}

TEST_F(ConfigDialogTest, DefaultValuesResetsTheSharedTableAtOnceAndKeepsTheRest) {
    anaglyph_coefficients.fill(2.5);
    const FilterSettings before = settings_;
    dialog_.open(settings_);
    EXPECT_EQ(dialog_.text(IDC_COEF_FIRST + 3), "2.5");
    dialog_.click(IDC_SWAP);
    dialog_.click(MODE_ALIGNMENT);
    dialog_.type(IDC_ALIGN_HORZ, "-4");
    dialog_.type(IDC_FILL_COLOR, "00ff00");
    dialog_.type(IDC_COEF_FIRST + 3, "9");

    EXPECT_FALSE(dialog_.click(IDC_DEFAULT_VALUES));
    EXPECT_FALSE(dialog_.result().has_value());
    EXPECT_EQ(anaglyph_coefficients, anaglyph_default_coefficients);
    EXPECT_EQ(dialog_.text(IDC_COEF_FIRST + 3), "-0.0434706");
    EXPECT_TRUE(dialog_.is_checked(IDC_SWAP));
    EXPECT_TRUE(dialog_.is_checked(MODE_ALIGNMENT));
    EXPECT_EQ(dialog_.text(IDC_ALIGN_HORZ), "-4");
    EXPECT_EQ(dialog_.text(IDC_FILL_COLOR), "00ff00");

    dialog_.press(IDCANCEL);
    EXPECT_TRUE(same_record(settings_, before));
    EXPECT_EQ(anaglyph_coefficients, anaglyph_default_coefficients);
}

TEST_F(ConfigDialogTest, CoefficientsFromOneInstanceAppearInTheNext) {
    dialog_.open(settings_);
    for (int i = 0; i < IDC_COEF_COUNT; ++i) {
        dialog_.type(IDC_COEF_FIRST + i, format_integer(i - 9));
    }
    dialog_.press(IDOK);

    FilterSettings other = default_settings();
    other.mode = MODE_ANAGLYPH;
    FakeDialog next;
    next.open(other);
    for (int i = 0; i < IDC_COEF_COUNT; ++i) {
        EXPECT_EQ(next.text(IDC_COEF_FIRST + i), format_integer(i - 9));
        EXPECT_EQ(anaglyph_coefficients[static_cast<std::size_t>(i)], i - 9);
    }
}

TEST_F(ConfigDialogTest, ChooserSeesAndReturnsTheFramesColour) {
    settings_.fill_color = 0x00FF8000;  // orange as a frame pixel
    dialog_.open(settings_);
    dialog_.answer_chooser({true, 0x000000FF});  // the user picks red: COLORREF red is the low byte
    dialog_.click(IDC_CHOOSE_COLOR);
    ASSERT_EQ(dialog_.chooser_offers().size(), 1u);
    EXPECT_EQ(dialog_.chooser_offers()[0], 0x000080FFu);  // orange as a COLORREF
    EXPECT_EQ(dialog_.text(IDC_FILL_COLOR), "00ff0000");
    EXPECT_FALSE(dialog_.result().has_value());
    dialog_.press(IDOK);
    EXPECT_EQ(settings_.fill_color, 0x00FF0000u);
}

TEST_F(ConfigDialogTest, ChooserAcceptedThenCancelKeepsTheRecord) {
    settings_.fill_color = 0x00102030;
    dialog_.open(settings_);
    dialog_.answer_chooser({true, 0x00FFFFFF});
    dialog_.click(IDC_CHOOSE_COLOR);
    EXPECT_EQ(dialog_.text(IDC_FILL_COLOR), "00ffffff");
    dialog_.press(IDCANCEL);
    EXPECT_EQ(settings_.fill_color, 0x00102030u);
}

TEST_F(ConfigDialogTest, ChooserCancelledLeavesTheTextAlone) {
    dialog_.open(settings_);
    dialog_.type(IDC_FILL_COLOR, "nonsense");
    dialog_.answer_chooser({false, 0x00123456});
    dialog_.click(IDC_CHOOSE_COLOR);
    EXPECT_EQ(dialog_.chooser_offers().at(0), 0u);  // no value in the text: black is offered
    EXPECT_EQ(dialog_.text(IDC_FILL_COLOR), "nonsense");
}

TEST_F(ConfigDialogTest, TextsAreReadOnlyUpToTheirLimit) {
    dialog_.open(settings_);
    dialog_.type(IDC_CROP_X, std::string(kMaxControlText - 1, ' ') + "12");
    dialog_.type(IDC_COEF_FIRST, std::string(kMaxControlText - 3, ' ') + "0.25");
    dialog_.press(IDOK);
    EXPECT_EQ(settings_.crop_x, 1);
    EXPECT_EQ(anaglyph_coefficients[0], 0.2);
}

TEST_F(ConfigDialogTest, OtherCommandsAreIgnored) {
    const FilterSettings before = settings_;
    dialog_.open(settings_);
    dialog_.type(IDC_CENTER_WIDTH, "5");
    for (int id : {0, IDC_CENTER_WIDTH, IDC_SWAP, int{MODE_ANAGLYPH}, IDC_NOTES, 0xFFFF}) {
        EXPECT_FALSE(dialog_.press(id)) << id;
    }
    EXPECT_FALSE(dialog_.result().has_value());
    EXPECT_TRUE(same_record(settings_, before));
}

TEST(ColourByteOrder, SwapExchangesRedAndBlueAndIsItsOwnInverse) {
    EXPECT_EQ(swap_red_blue(0x00FF8000), 0x000080FFu);
    EXPECT_EQ(swap_red_blue(0x00000001), 0x00010000u);
    EXPECT_EQ(swap_red_blue(0xAB123456), 0x00563412u);
    for (std::uint32_t c : {0x0u, 0x00FFFFFFu, 0x00123456u, 0x00ABCDEFu}) {
        EXPECT_EQ(swap_red_blue(swap_red_blue(c)), c);
    }
}

}  // namespace
}  // namespace ocuvex::dialog
