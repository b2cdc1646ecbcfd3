// The IDD_CONFIG template as data, from the same description the resource
// script compiles (config_layout.h, config_controls.def): the in-memory
// stand-in for the window system builds its controls from it, and the tests
// under Wine compare the live dialog with it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/modes.h"
#include "dialog/config_layout.h"
#include "dialog/control_ids.h"

namespace ocuvex::dialog {

struct ControlTemplate {
    int id;  // -1: no id of its own
    const char* window_class;
    std::uint32_t style;  // the window style word the template stores
    const char* text;     // as stored in the template
    int x, y, cx, cy;     // dialog units
};

inline constexpr const char* kDialogCaption = OCUVEX_DIALOG_CAPTION;

// In tab order, as the dialog creates them.
inline constexpr auto kConfigControls = std::to_array<ControlTemplate>({
#define OCUVEX_CONTROL(id, kind, text, x, y, width, height) {id, kind, text, x, y, width, height},
#include "dialog/config_controls.def"
#undef OCUVEX_CONTROL
});

// A button's type, the low four bits of its style (BS_AUTOCHECKBOX, BS_AUTORADIOBUTTON).
constexpr bool is_button_of_type(const ControlTemplate& control, std::uint32_t type) {
    return std::string_view(control.window_class) == "Button" && (control.style & 0xFU) == type;
}
constexpr bool is_check_box(const ControlTemplate& control) { return is_button_of_type(control, 3); }
constexpr bool is_radio_button(const ControlTemplate& control) { return is_button_of_type(control, 9); }

}  // namespace ocuvex::dialog
