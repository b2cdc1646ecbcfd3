// Compares a dialog template read from a resource with the IDD_CONFIG table.
// Shared by the native test of the compiled .res and the test under Wine.
#pragma once

#include <string>
#include <vector>

#include "dialog/config_template.h"
#include "dialog/tests/dialog_resource.h"

namespace ocuvex::dialog::testing {

// One line per difference; empty when the template is exactly the table.
inline std::vector<std::string> template_differences(const ResourceDialog& dialog) {
    std::vector<std::string> out;
    auto check = [&out](bool same, const std::string& what) {
        if (!same) {
            out.push_back(what);
        }
    };
    auto lower = [](std::string s) {
        for (char& c : s) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return s;
    };
    check(dialog.caption == kDialogCaption, "caption '" + dialog.caption + "'");
    check(dialog.style == kDialogStyle, "dialog style " + std::to_string(dialog.style));
    check(dialog.ex_style == 0, "dialog extended style");
    check(dialog.x == 0 && dialog.y == 0 && dialog.cx == kDialogWidth && dialog.cy == kDialogHeight,
          "dialog rectangle");
    check(dialog.font_size == kDialogFontSize && dialog.font == kDialogFont, "font '" + dialog.font + "'");
    check(dialog.controls.size() == kConfigControls.size(), "control count " + std::to_string(dialog.controls.size()));
    for (std::size_t i = 0; i < std::min(dialog.controls.size(), kConfigControls.size()); ++i) {
        const ResourceControl& got = dialog.controls[i];
        const ControlTemplate& want = kConfigControls[i];
        const std::string where = "control " + std::to_string(i) + " (" + want.text + "): ";
        check(got.id == want.id, where + "id " + std::to_string(got.id));
        check(lower(got.window_class) == lower(control_class(want.kind)), where + "class " + got.window_class);
        check(got.style == control_style(want.kind), where + "style " + std::to_string(got.style));
        check(got.ex_style == 0, where + "extended style");
        check(got.text == want.text, where + "text '" + got.text + "'");
        check(got.x == want.x && got.y == want.y && got.cx == want.cx && got.cy == want.cy,
              where + "rectangle " + std::to_string(got.x) + "," + std::to_string(got.y) + " " +
                  std::to_string(got.cx) + "x" + std::to_string(got.cy));
    }
    return out;
}

}  // namespace ocuvex::dialog::testing
