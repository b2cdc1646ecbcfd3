#include "tools/ocuvex/settings_options.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/modes.h"

namespace ocuvex::cli {

namespace {

// The placeholder of a field's value in --help; its kind also says how the value is read.
consteval std::string_view value_placeholder(FieldKind kind) {
    switch (kind) {
    case FieldKind::Flag:
        return "";
    case FieldKind::Mode:
        return "MODE";
    case FieldKind::Integer:
        return "N";
    case FieldKind::Color:
        return "HEX";
    }
    throw "unknown field kind";
}

consteval SettingsOption setting(FieldMember member, std::string_view name, std::string_view help) {
    const SettingsField& field = settings_field(member);
    return {{name, "", value_placeholder(field.kind), help}, &field};
}

// --help adds each field's default, and the mode names to --mode.
constexpr SettingsOption kSettingsOptions[] = {
    setting(&FilterSettings::mode, "--mode", "the conversion:"),
    setting(&FilterSettings::swap_lr, "--swap", "exchange the left and right views"),
    setting(&FilterSettings::center_width, "--center-width",
            "centering: pixels added to the frame width, a quarter on each side"),
    setting(&FilterSettings::fill_color, "--fill-color",
            "centering: margin colour as RRGGBB, up to 8 hex digits, optional 0x"),
    setting(&FilterSettings::align_horz, "--align-horz", "alignment: horizontal offset between the views, in pixels"),
    setting(&FilterSettings::align_vert, "--align-vert", "alignment: vertical offset between the views, in lines"),
    setting(&FilterSettings::crop_x, "--crop-x", "cropping: left edge of the window inside each view"),
    setting(&FilterSettings::crop_y, "--crop-y", "cropping: top edge of the window, in lines from the top"),
    setting(&FilterSettings::crop_width, "--crop-width", "cropping: window width per view"),
    setting(&FilterSettings::crop_height, "--crop-height", "cropping: window height"),
    {{"--coefficients", "", "LIST",
      "anaglyph: 18 comma-separated numbers, rows red, green, blue, each left R,G,B then right R,G,B; "
      "default Dubois red-cyan"},
     nullptr},
};

[[noreturn]] void fail(std::string_view option, std::string_view text, std::string_view why) {
    throw UsageError(std::string(option) + ": " + std::string(why) + ": '" + printable(text) + "'");
}

constexpr CommandOption<PackingChoice> kHalfOption = {
    {"--half", "", "",
     "INPUT's views are squeezed (half side-by-side or half above/below, what 3-D films, TVs and most cameras "
     "and phone apps write): each is meant to display at the whole frame's shape. Without it each view displays "
     "at its own shape (full). Deinterlace's views, on alternate lines, always display at the frame's shape"},
    [](PackingChoice& packing, std::string_view, std::string_view) { packing.input = Packing::Half; }};

constexpr CommandOption<PackingChoice> kInputPackingOptions[] = {kHalfOption};

constexpr CommandOption<PackingChoice> kPackingOptions[] = {
    kHalfOption,
    {{"--output-packing", "", "full|half",
      "OUTPUT's views at their own shape (full) or squeezed to the frame's (half, what 3-D TVs and players "
      "expect); half of a full INPUT scales the converted frame to half its width (side by side) or height "
      "(above/below) in the source's pixel format; full of a half INPUT only declares the aspect. Default: "
      "INPUT's packing. Not for the anaglyph, which has one picture"},
     [](PackingChoice& packing, std::string_view option, std::string_view value) {
         for (const Packing p : {Packing::Full, Packing::Half}) {
             if (value == packing_name(p)) {
                 packing.output = p;
                 return;
             }
         }
         fail(option, value, "expected full or half");
     }},
};

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

std::optional<std::string_view> ArgumentCursor::take(const OptionText& option) {
    const std::string_view name = option_name();
    if (name != option.name && (option.alias.empty() || name != option.alias)) {
        return std::nullopt;
    }
    if (!option.value.empty()) {
        return take_value();
    }
    if (peek() != name) {
        fail(name, peek(), "takes no value");
    }
    ++index_;
    return std::string_view{};
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
    for (const ModeRow& row : kModes) {
        if (name == row.name) {
            return row.mode;
        }
    }
    return std::nullopt;
}

const char* mode_name(std::int32_t mode) {
    const ModeRow* row = find_mode(mode);
    return row != nullptr ? row->name : "unknown";
}

std::string mode_names() {
    std::string names;
    for (const ModeRow& row : kModes) {
        if (!names.empty()) {
            names += &row == &kModes.back() ? " or " : ", ";
        }
        names += row.name;
    }
    return names;
}

std::span<const SettingsOption> settings_options() { return kSettingsOptions; }

bool take_settings_option(ArgumentCursor& cursor, SettingsOptions& options) {
    for (const SettingsOption& option : kSettingsOptions) {
        const auto value = cursor.take(option.text);
        if (!value) {
            continue;
        }
        const std::string_view name = option.text.name;
        if (option.field == nullptr) {
            options.coefficients = parse_coefficients(*value, name);
            return true;
        }
        const SettingsField& field = *option.field;
        std::int64_t parsed = 1;  // a flag given is set
        switch (field.kind) {
        case FieldKind::Flag:
            break;
        case FieldKind::Mode:
            if (const auto mode = parse_mode_name(*value)) {
                parsed = *mode;
            } else {
                fail(name, *value, "unknown mode (" + mode_names() + ")");
            }
            break;
        case FieldKind::Integer:
            parsed = parse_int32(*value, name);
            break;
        case FieldKind::Color:
            parsed = parse_fill_color(*value, name);
            break;
        }
        if (parsed < field.min || parsed > field.max) {
            fail(name, *value, "expected " + std::to_string(field.min) + " to " + std::to_string(field.max));
        }
        set_field_value(field, options.settings, parsed);
        return true;
    }
    return false;
}

// Says which settings the geometry corrected, so a surprising output size is
// explained: every field it may correct, by its option's name.
void report_corrections(const FilterSettings& before, const FilterSettings& after, FrameSize size) {
    if (before == after) {
        return;
    }
    std::string values;
    for (const SettingsOption& option : kSettingsOptions) {
        if (option.field != nullptr && option.field->kind == FieldKind::Integer) {
            values += values.empty() ? " " : ", ";
            values += std::string(option.text.name.substr(2)) + " " + std::to_string(field_value(*option.field, after));
        }
    }
    std::fprintf(stderr, "ocuvex: note: settings corrected to fit %dx%d:%s\n", size.w, size.h, values.c_str());
}

void write_settings_help(HelpWriter& out) {
    out.heading("Settings");
    for (const SettingsOption& option : kSettingsOptions) {
        std::string help(option.text.help);
        if (option.field != nullptr) {
            const SettingsField& field = *option.field;
            switch (field.kind) {
            case FieldKind::Flag:
                break;
            case FieldKind::Mode:
                help += " " + mode_names() + "; default " + mode_name(static_cast<std::int32_t>(field.default_value));
                break;
            case FieldKind::Integer:
                help += "; default " + std::to_string(field.default_value);
                break;
            case FieldKind::Color: {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%06llx", static_cast<unsigned long long>(field.default_value));
                help += std::string("; default ") + hex;
                break;
            }
            }
        }
        OptionText text = option.text;
        text.help = help;
        out.option(text);
    }
    out.heading("Modes");
    for (const ModeRow& row : kModes) {
        out.option({row.name, "", "", row.summary});
    }
}

std::span<const CommandOption<PackingChoice>> packing_options() { return kPackingOptions; }

bool take_packing_option(ArgumentCursor& cursor, PackingChoice& packing) {
    return take_command_option<PackingChoice>(cursor, kPackingOptions, packing);
}

std::span<const CommandOption<PackingChoice>> input_packing_options() { return kInputPackingOptions; }

void write_packing_help(HelpWriter& out) {
    out.heading("Packing (convert and geometry)");
    for (const CommandOption<PackingChoice>& option : kPackingOptions) {
        out.option(option.text);
    }
    out.paragraph(
        "The output's pixel aspect ratio follows from INPUT's (as its file says, else square), the mode and\n"
        "the packing; the pixels are the conversion's, untouched but for the squeeze --output-packing half\n"
        "asks of a full INPUT. Each view displays at its true shape: a full view at its own, a half view at\n"
        "the whole input frame's, a deinterlaced view at the field-sequential frame's. A half output frame\n"
        "displays at one view's shape, a full one at the views' side by side or one above the other, the\n"
        "anaglyph at the view's. E.g. a 640x360 half side-by-side frame of square pixels (16:9) with --half:\n"
        "sbs-to-ab gives 320x720 at pixel aspect 4:1 (16:9), the anaglyph 320x360 at 2:1 (16:9); nop,\n"
        "centering, alignment and cropping keep 1:1; 640x360 half above/below through ab-to-sbs gives\n"
        "1280x180 at 1:4 (16:9), and so does deinterlace of a 640x360 field-sequential frame. When INPUT's\n"
        "views as read would display narrower than 1:1 or wider than 3:1, the other packing would not, and\n"
        "reading them so would change the output, a note says so.");
}

std::string packing_problem(const PackingChoice& packing, std::int32_t mode) {
    if (packing.output && mode == MODE_ANAGLYPH) {
        return "--output-packing: the anaglyph has one picture, no packing";
    }
    return {};
}

Ratio parse_ratio(std::string_view text, std::string_view option) {
    const auto separator = text.find_first_of(":/");
    std::int64_t parts[2] = {0, 0};
    for (int i = 0; i < 2 && separator != std::string_view::npos; ++i) {
        const std::string_view digits = i == 0 ? text.substr(0, separator) : text.substr(separator + 1);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parts[i]);
        if (digits.empty() || digits[0] < '0' || digits[0] > '9' || end != digits.data() + digits.size() ||
            error != std::errc{} || parts[i] > INT32_MAX) {
            parts[i] = 0;
        }
    }
    if (parts[0] <= 0 || parts[1] <= 0) {
        fail(option, text, "expected a ratio of whole numbers from 1 to 2147483647, e.g. 4:3 or 16/15");
    }
    return make_ratio(parts[0], parts[1]);
}

}  // namespace ocuvex::cli
