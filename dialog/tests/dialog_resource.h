// Reads a compiled dialog template (DLGTEMPLATEEX) back into plain values, so
// tests can compare what the resource compiler produced with the template
// table, natively from a .res file and under Wine from the loaded module.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ocuvex::dialog::testing {

struct ResourceControl {
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;                // sign-extended from 16 bits: -1 for 0xFFFF
    std::string window_class;  // ordinals 0x80-0x82 as "Button", "Edit", "Static"
    std::string text;
};

struct ResourceDialog {
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int font_size = 0;
    std::string font;
    std::vector<ResourceControl> controls;
};

// Parses a DLGTEMPLATEEX; nothing when the bytes are not one.
std::optional<ResourceDialog> parse_dialog_template(std::span<const std::uint8_t> bytes);

// The data of resource (type, name) in the bytes of a .res file, if present.
std::optional<std::span<const std::uint8_t>> find_res_entry(std::span<const std::uint8_t> res_file, int type, int name);

}  // namespace ocuvex::dialog::testing
