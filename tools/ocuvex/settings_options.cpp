#include "tools/ocuvex/settings_options.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ocuvex::cli {

namespace {

struct ModeName {
    const char* name;
    std::int32_t mode;
};

constexpr std::array<ModeName, kModeCount> kModeNames = {{
    {"nop", MODE_NOP},
    {"deinterlace", MODE_DEINTERLACE},
    {"centering", MODE_CENTERING},
    {"anaglyph", MODE_ANAGLYPH},
    {"sbs-to-ab", MODE_SBS_TO_AB},
    {"ab-to-sbs", MODE_AB_TO_SBS},
    {"alignment", MODE_ALIGNMENT},
    {"cropping", MODE_CROPPING},
}};

struct IntegerField {
    const char* option;
    std::int32_t FilterSettings::*field;
};

constexpr std::array<IntegerField, 7> kIntegerFields = {{
    {"--center-width", &FilterSettings::center_width},
    {"--align-horz", &FilterSettings::align_horz},
    {"--align-vert", &FilterSettings::align_vert},
    {"--crop-x", &FilterSettings::crop_x},
    {"--crop-y", &FilterSettings::crop_y},
    {"--crop-width", &FilterSettings::crop_width},
    {"--crop-height", &FilterSettings::crop_height},
}};

[[noreturn]] void fail(std::string_view option, std::string_view text, std::string_view why) {
    throw UsageError(std::string(option) + ": " + std::string(why) + ": '" + printable(text) + "'");
}

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::string_view ArgumentCursor::option_name() const {
    const std::string_view arg = peek();
    const auto equals = arg.find('=');
    return arg.starts_with("--") && equals != std::string_view::npos ? arg.substr(0, equals) : arg;
}

bool ArgumentCursor::take_flag(std::string_view name) {
    if (peek() != name) {
        return false;
    }
    ++index_;
    return true;
}

std::string_view ArgumentCursor::take_value() {
    const std::string_view arg = args_[index_++];
    const auto equals = arg.find('=');
    if (arg.starts_with("--") && equals != std::string_view::npos) {
        return arg.substr(equals + 1);
    }
    if (index_ >= args_.size()) {
        throw UsageError(printable(arg) + ": missing value");
    }
    return args_[index_++];
}

std::int32_t parse_int32(std::string_view text, std::string_view option) {
    std::string_view digits = text;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-')) {
            fail(option, text, "not a whole number");
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || end != digits.data() + digits.size() ||
        (error != std::errc{} && error != std::errc::result_out_of_range)) {
        fail(option, text, "not a whole number");
    }
    if (error == std::errc::result_out_of_range || value < INT32_MIN || value > INT32_MAX) {
        fail(option, text, "outside the 32-bit range -2147483648 to 2147483647");
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t parse_fill_color(std::string_view text, std::string_view option) {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
    }
    if (digits.empty() || digits.size() > 8) {
        fail(option, text, "expected 1 to 8 hexadecimal digits (0xRRGGBB)");
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (!is_hex_digit(c)) {
            fail(option, text, "expected 1 to 8 hexadecimal digits (0xRRGGBB)");
        }
        value = value << 4 | static_cast<std::uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

AnaglyphMatrix parse_coefficients(std::string_view text, std::string_view option) {
    AnaglyphMatrix m{};
    std::size_t count = 0;
    std::string_view rest = text;
    while (true) {
        const auto comma = rest.find(',');
        const std::string item(rest.substr(0, comma));
        if (count == m.size()) {
            fail(option, text, "expected exactly 18 numbers separated by commas");
        }
        char* end = nullptr;
        errno = 0;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || end != item.c_str() + item.size() || std::isspace(static_cast<unsigned char>(item[0]))) {
            fail(option, item, "not a number");
        }
        m[count++] = value;
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (count != m.size()) {
        fail(option, text, "expected exactly 18 numbers separated by commas");
    }
    return m;
}

FrameSize parse_frame_size(std::string_view text, std::string_view option) {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        fail(option, text, "expected WIDTHxHEIGHT, e.g. 3840x1080");
    }
    const auto part = [&](std::string_view digits) {
        std::int32_t value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        // Digits only: from_chars alone would take "-0" as a width of 0.
        if (digits.empty() || digits[0] < '0' || digits[0] > '9' || end != digits.data() + digits.size() ||
            error != std::errc{}) {
            fail(option, text, "expected WIDTHxHEIGHT, e.g. 3840x1080");
        }
        return value;
    };
    return FrameSize{part(text.substr(0, x)), part(text.substr(x + 1))};
}

std::optional<std::int32_t> parse_mode_name(std::string_view name) {
    for (const ModeName& entry : kModeNames) {
        if (name == entry.name) {
            return entry.mode;
        }
    }
    return std::nullopt;
}

const char* mode_name(std::int32_t mode) {
    for (const ModeName& entry : kModeNames) {
        if (mode == entry.mode) {
            return entry.name;
        }
    }
    return "unknown";
}

bool take_settings_option(ArgumentCursor& cursor, SettingsOptions& options) {
    const std::string_view name = cursor.option_name();
    FilterSettings& s = options.settings;
    if (name == "--swap") {
        if (cursor.peek() != name) {
            throw UsageError("--swap takes no value");
        }
        cursor.take_flag(name);
        s.swap_lr = 1;
        return true;
    }
    if (name == "--mode") {
        const std::string_view value = cursor.take_value();
        const auto mode = parse_mode_name(value);
        if (!mode) {
            fail(name, value,
                 "unknown mode (nop, deinterlace, centering, anaglyph, sbs-to-ab, ab-to-sbs, alignment, cropping)");
        }
        s.mode = *mode;
        return true;
    }
    if (name == "--fill-color") {
        s.fill_color = parse_fill_color(cursor.take_value(), name);
        return true;
    }
    if (name == "--coefficients") {
        options.coefficients = parse_coefficients(cursor.take_value(), name);
        return true;
    }
    for (const IntegerField& field : kIntegerFields) {
        if (name == field.option) {
            s.*field.field = parse_int32(cursor.take_value(), name);
            return true;
        }
    }
    return false;
}

// Says which settings the geometry corrected, so a surprising output size is explained.
void report_corrections(const FilterSettings& before, const FilterSettings& after, FrameSize size) {
    if (before == after) {
        return;
    }
    std::fprintf(stderr,
                 "ocuvex: note: settings corrected to fit %dx%d: center-width %d, align-horz %d, align-vert %d, "
                 "crop-x %d, crop-y %d, crop-width %d, crop-height %d\n",
                 size.w, size.h, after.center_width, after.align_horz, after.align_vert, after.crop_x, after.crop_y,
                 after.crop_width, after.crop_height);
}

const char* settings_options_help() {
    return "Settings:\n"
           "  --mode MODE           nop (default), deinterlace, centering, anaglyph, sbs-to-ab,\n"
           "                        ab-to-sbs, alignment or cropping\n"
           "  --swap                exchange the left and right views\n"
           "  --center-width N      centering: pixels added to the frame width (a quarter on each side)\n"
           "  --fill-color HEX      centering: margin colour as RRGGBB, up to 8 hex digits, optional 0x\n"
           "  --align-horz N        alignment: horizontal offset between the views, in pixels\n"
           "  --align-vert N        alignment: vertical offset between the views, in lines\n"
           "  --crop-x N            cropping: left edge of the window inside each view\n"
           "  --crop-y N            cropping: top edge of the window, in lines from the top\n"
           "  --crop-width N        cropping: window width per view (default 10)\n"
           "  --crop-height N       cropping: window height (default 10)\n"
           "  --coefficients LIST   anaglyph: 18 comma-separated numbers, rows red, green, blue,\n"
           "                        each left R,G,B then right R,G,B (default: Dubois red-cyan)\n";
}

}  // namespace ocuvex::cli
