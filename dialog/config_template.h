// The IDD_CONFIG template as data: what resources/config_dialog.rc must
// produce, control by control in tab order. The tests compare the compiled
// resource and the live dialog with it, and the in-memory stand-in for the
// window system builds its controls from it.
#pragma once

#include <array>
#include <cstdint>

namespace ocuvex::dialog {

enum class ControlKind { kCheckBox, kFirstRadio, kRadio, kLabel, kEdit, kButton, kDefaultButton, kGroupBox, kPanel };

// The window style word the template stores for each kind of control.
constexpr std::uint32_t control_style(ControlKind kind) {
    switch (kind) {
    case ControlKind::kCheckBox:
        return 0x50010003;
    case ControlKind::kFirstRadio:
        return 0x50020009;
    case ControlKind::kRadio:
        return 0x50000009;
    case ControlKind::kLabel:
        return 0x50020000;
    case ControlKind::kEdit:
        return 0x50810080;
    case ControlKind::kButton:
        return 0x50010000;
    case ControlKind::kDefaultButton:
        return 0x50010001;
    case ControlKind::kGroupBox:
        return 0x50000007;
    case ControlKind::kPanel:
        return 0x50821080;
    }
    return 0;
}

constexpr const char* control_class(ControlKind kind) {
    switch (kind) {
    case ControlKind::kLabel:
    case ControlKind::kPanel:
        return "Static";
    case ControlKind::kEdit:
        return "Edit";
    default:
        return "Button";
    }
}

struct ControlTemplate {
    int id;  // -1: no id of its own
    ControlKind kind;
    const char* text;  // as stored in the template
    int x, y, cx, cy;  // dialog units
};

inline constexpr const char* kDialogCaption = "VirtualDUB Ocuvex Filter";
inline constexpr std::uint32_t kDialogStyle = 0x80C800C0;
inline constexpr int kDialogWidth = 576;
inline constexpr int kDialogHeight = 258;
inline constexpr int kDialogFontSize = 8;
inline constexpr const char* kDialogFont = "MS Sans Serif";

using enum ControlKind;

inline constexpr std::array<ControlTemplate, 73> kConfigControls = {{
    {1001, kCheckBox, "&Swap left && right (generate parallel or crossed-eye video)", 7, 5, 207, 10},
    {200, kFirstRadio, "Do &nothing (well, transpose video if the above option is checked!)", 7, 22, 222, 10},
    {201, kRadio, "Convert &interlaced video to side by side video", 7, 36, 189, 10},
    {204, kRadio, "Side-by-side --> Above/Below", 250, 36, 119, 10},
    {205, kRadio, "Above/Below --> Side-by-side", 381, 36, 119, 10},
    {202, kRadio, "Stereoscopic &centering", 7, 50, 96, 10},
    {206, kRadio, "Stereoscopic alignment", 7, 64, 96, 10},
    {207, kRadio, "Stereoscopic croppin&g", 7, 78, 96, 10},
    {203, kRadio, "Red-cyan Dubois &anaglyph", 7, 92, 119, 10},
    {-1, kLabel, "&Width:", 107, 50, 22, 8},
    {1006, kEdit, "", 134, 48, 40, 14},
    {-1, kLabel, "Co&lor:", 186, 50, 19, 8},
    {1007, kEdit, "", 209, 48, 40, 14},
    {1011, kButton, "C&hoose color...", 251, 48, 59, 14},
    {-1, kLabel, "Horz:", 108, 64, 18, 8},
    {1008, kEdit, "", 134, 62, 40, 14},
    {-1, kLabel, "Vert:", 186, 64, 16, 8},
    {1012, kEdit, "", 210, 62, 40, 14},
    {-1, kLabel, "X:", 108, 78, 8, 8},
    {1013, kEdit, "", 134, 76, 40, 14},
    {-1, kLabel, "Y:", 186, 78, 8, 8},
    {1014, kEdit, "", 210, 76, 40, 14},
    {-1, kLabel, "Width:", 261, 78, 22, 8},
    {1015, kEdit, "", 287, 76, 40, 14},
    {-1, kLabel, "Height:", 339, 78, 24, 8},
    {1016, kEdit, "", 363, 76, 40, 14},
    {1009, kPanel, "ZZZ", 7, 173, 564, 62},
    {-1, kGroupBox, "Left picture", 46, 102, 218, 66},
    {-1, kGroupBox, "Right picture", 269, 102, 218, 66},
    {-1, kLabel, "Red =", 17, 116, 27, 8},
    {1570, kEdit, "", 52, 113, 48, 14},
    {-1, kLabel, "x R +", 102, 116, 18, 8},
    {1571, kEdit, "", 122, 113, 48, 14},
    {-1, kLabel, "x G +", 172, 116, 18, 8},
    {1572, kEdit, "", 192, 113, 48, 14},
    {-1, kLabel, "x B +", 242, 116, 17, 8},
    {1573, kEdit, "", 273, 113, 48, 14},
    {-1, kLabel, "x R +", 323, 116, 18, 8},
    {1574, kEdit, "", 343, 113, 48, 14},
    {-1, kLabel, "x G +", 392, 116, 18, 8},
    {1575, kEdit, "", 412, 113, 48, 14},
    {-1, kLabel, "x B", 462, 116, 11, 8},
    {-1, kLabel, "Green =", 17, 134, 26, 8},
    {1576, kEdit, "", 52, 131, 48, 14},
    {-1, kLabel, "x R +", 102, 134, 18, 8},
    {1577, kEdit, "", 122, 131, 48, 14},
    {-1, kLabel, "x G +", 172, 134, 18, 8},
    {1578, kEdit, "", 192, 131, 48, 14},
    {-1, kLabel, "x B +", 242, 134, 17, 8},
    {1579, kEdit, "", 273, 131, 48, 14},
    {-1, kLabel, "x R +", 323, 134, 18, 8},
    {1580, kEdit, "", 343, 131, 48, 14},
    {-1, kLabel, "x G +", 392, 134, 18, 8},
    {1581, kEdit, "", 412, 131, 48, 14},
    {-1, kLabel, "x B", 462, 134, 11, 8},
    {-1, kLabel, "Blue =", 17, 150, 24, 8},
    {1582, kEdit, "", 52, 148, 48, 14},
    {-1, kLabel, "x R +", 102, 150, 18, 8},
    {1583, kEdit, "", 122, 148, 48, 14},
    {-1, kLabel, "x G +", 172, 150, 18, 8},
    {1584, kEdit, "", 192, 148, 48, 14},
    {-1, kLabel, "x B +", 242, 150, 17, 8},
    {1585, kEdit, "", 273, 148, 48, 14},
    {-1, kLabel, "x R +", 323, 150, 18, 8},
    {1586, kEdit, "", 343, 148, 48, 14},
    {-1, kLabel, "x G +", 392, 150, 18, 8},
    {1587, kEdit, "", 412, 148, 48, 14},
    {-1, kLabel, "x B", 462, 150, 11, 8},
    {1010, kButton, "&Default values", 491, 152, 80, 14},
    {1002, kLabel, "Version", 7, 237, 98, 8},
    {-1, kLabel, "(C) 2026 Ocuvex developers, https://ocuvex.org", 7, 247, 215, 8},
    {1, kDefaultButton, "OK", 470, 241, 50, 14},
    {2, kButton, "Cancel", 521, 241, 50, 14},
}};

}  // namespace ocuvex::dialog
