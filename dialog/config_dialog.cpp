#include "dialog/config_dialog.h"

#include <algorithm>
#include <array>
#include <optional>

#include "core/anaglyph.h"
#include "core/settings_fields.h"
#include "dialog/text_numbers.h"
#include "ocuvex_version.h"

namespace ocuvex::dialog {
namespace {

// The radio buttons in the order Apply the controls tests them.
constexpr std::array<std::int32_t, kModeCount> kModeTestOrder = {
    MODE_NOP,      MODE_DEINTERLACE, MODE_CENTERING, MODE_ALIGNMENT,
    MODE_CROPPING, MODE_ANAGLYPH,    MODE_SBS_TO_AB, MODE_AB_TO_SBS,
};

// The edit boxes of the integer fields. The swap check box, the mode's radio
// buttons and the colour (kept when its text holds no number) have their own code.
struct IntegerControl {
    std::int32_t FilterSettings::*field;
    int id;
};

constexpr IntegerControl kIntegerControls[] = {
    {&FilterSettings::center_width, IDC_CENTER_WIDTH},
    {&FilterSettings::align_horz, IDC_ALIGN_HORZ},
    {&FilterSettings::align_vert, IDC_ALIGN_VERT},
    {&FilterSettings::crop_x, IDC_CROP_X},
    {&FilterSettings::crop_y, IDC_CROP_Y},
    {&FilterSettings::crop_width, IDC_CROP_WIDTH},
    {&FilterSettings::crop_height, IDC_CROP_HEIGHT},
};
static_assert(std::ranges::count(kSettingsFields, FieldKind::Integer, &SettingsField::kind) ==
                  std::ssize(kIntegerControls),
              "every integer field of the record has its edit box");

// The date is a fixed text: the line has always shown this one.
constexpr const char* kReleaseDate = "Aug 20 2015";

}  // namespace

const char* const kNotesText =
    "Notes:\nDeinterlacing: Source video must be an interlaced field-sequential stereoscopic video. Output video "
    "will be half the height and twice the width of the original video.\n\nCentering: Source video must be side by "
    "side video either in parallel or crossed-eye format.\nVertical centering margins (of width = Width/4 pixels) are "
    "added on both sides of the left and right images.\n\nAnaglyph: Source video must be side by side video either "
    "in parallel or crossed-eye format. Output video will be half the width of the original video.";

std::string version_text() { return std::string("Version " OCUVEX_VERSION_SHORT " - ") + kReleaseDate; }

void fill_controls(DialogControls& controls, const FilterSettings& settings) {
    controls.set_checked(IDC_SWAP, settings.swap_lr != 0);
    // A mode without a button (a corrupted record) leaves all eight unchecked.
    if (is_known_mode(settings.mode)) {
        controls.set_checked(settings.mode, true);
    }
    for (const IntegerControl& control : kIntegerControls) {
        controls.set_text(control.id, format_integer(settings.*control.field));
    }
    controls.set_text(IDC_FILL_COLOR, format_hex(settings.fill_color));
    controls.set_text(IDC_NOTES, kNotesText);
    show_coefficients(controls);
    controls.set_text(IDC_VERSION, version_text());
}

void show_coefficients(DialogControls& controls) {
    for (int i = 0; i < IDC_COEF_COUNT; ++i) {
        controls.set_text(IDC_COEF_FIRST + i, format_coefficient(anaglyph_coefficients[static_cast<std::size_t>(i)]));
    }
}

void apply_controls(DialogControls& controls, FilterSettings& settings) {
    // Everything is read before anything is written: a read that fails part
    // way (out of memory) leaves the instance and the shared table unchanged.
    FilterSettings applied = settings;
    applied.swap_lr = controls.is_checked(IDC_SWAP) ? 1 : 0;
    applied.mode = MODE_NOP;
    for (std::int32_t mode : kModeTestOrder) {
        if (controls.is_checked(mode)) {
            applied.mode = mode;
            break;
        }
    }
    for (const IntegerControl& control : kIntegerControls) {
        applied.*control.field = read_integer(controls.text(control.id));
    }
    if (std::optional<std::uint32_t> color = read_hex(controls.text(IDC_FILL_COLOR))) {
        applied.fill_color = *color;
    }
    const AnaglyphMatrix coefficients = read_coefficients(controls);
    settings = applied;
    anaglyph_coefficients = coefficients;
    controls.end_dialog(kResultOk);
}

AnaglyphMatrix read_coefficients(const DialogControls& controls) {
    AnaglyphMatrix coefficients{};
    for (int i = 0; i < IDC_COEF_COUNT; ++i) {
        coefficients[static_cast<std::size_t>(i)] = read_floating(controls.text(IDC_COEF_FIRST + i));
    }
    return coefficients;
}

void reset_coefficients(DialogControls& controls) {
    anaglyph_coefficients = anaglyph_default_coefficients;
    show_coefficients(controls);
}

void choose_colour(DialogControls& controls) {
    // The text holds a frame pixel (0x00RRGGBB), the chooser speaks COLORREF
    // (0x00BBGGRR): exchange red and blue both ways so the colour picked is
    // the colour the frame gets. A text without a value offers black.
    const std::uint32_t pixel = read_hex(controls.text(IDC_FILL_COLOR)).value_or(0);
    std::uint32_t colorref = swap_red_blue(pixel);
    if (controls.choose_color(colorref)) {
        controls.set_text(IDC_FILL_COLOR, format_hex(swap_red_blue(colorref)));
    }
}

void cancel(DialogControls& controls) { controls.end_dialog(kResultCancel); }

bool handle_command(DialogControls& controls, FilterSettings& settings, int id) {
    switch (id) {
    case IDOK:
        apply_controls(controls, settings);
        return true;
    case IDCANCEL:
        cancel(controls);
        return false;
    case IDC_DEFAULT_VALUES:
        reset_coefficients(controls);
        return false;
    case IDC_CHOOSE_COLOR:
        choose_colour(controls);
        return false;
    default:
        return false;
    }
}

}  // namespace ocuvex::dialog
