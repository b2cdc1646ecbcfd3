// The command line's options: the reader of an argument vector, the table
// rows every command declares its options with, and the settings options
// shared by every subcommand that converts (--mode, --swap, the numeric
// fields and --coefficients), one row per field of the core's settings table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/anaglyph.h"
#include "core/copy_plan.h"
#include "core/display_shape.h"
#include "core/filter_settings.h"
#include "core/printable.h"
#include "core/settings_fields.h"
#include "tools/ocuvex/help.h"

namespace ocuvex::cli {

// A mistake on the command line: reported as one line, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SettingsOptions {
    FilterSettings settings = default_settings();
    AnaglyphMatrix coefficients = anaglyph_default_coefficients;  // the anaglyph's, --coefficients
};

// The core's picture size (copy plans use it too).
using FrameSize = ocuvex::FrameSize;

// Walks an argument vector; options take their value as the next argument or
// after '=' (--crop-x 4, --crop-x=4).
class ArgumentCursor {
  public:
    explicit ArgumentCursor(std::span<const std::string_view> args) : args_(args) {}

    bool done() const { return index_ >= args_.size(); }
    std::string_view peek() const { return args_[index_]; }
    // The option's name without any "=value" part.
    std::string_view option_name() const;
    // Consumes the current argument; when `name` matches the option, true.
    bool take_flag(std::string_view name);
    // Consumes the current option and returns its value.
    std::string_view take_value();
    std::string_view take_positional() { return args_[index_++]; }
    // When the current argument is `option` (by name or alias), consumes it
    // with its value and returns the value: empty for an option that takes
    // none, which refuses one given after '='. Throws UsageError.
    std::optional<std::string_view> take(const OptionText& option);

  private:
    std::span<const std::string_view> args_;
    std::size_t index_ = 0;
};

// One option of a command: adding an option is adding a row to its table.
// `apply` stores the value (empty for an option without one) and throws
// UsageError, naming `option`, for a value it does not take.
template <typename Arguments>
struct CommandOption {
    OptionText text;
    void (*apply)(Arguments& arguments, std::string_view option, std::string_view value);
};

// Consumes and applies the option at the cursor when it is one of `options`;
// false when it is none of them. Throws UsageError.
template <typename Arguments>
bool take_command_option(ArgumentCursor& cursor, std::span<const CommandOption<Arguments>> options,
                         Arguments& arguments) {
    for (const CommandOption<Arguments>& option : options) {
        if (const auto value = cursor.take(option.text)) {
            option.apply(arguments, option.text.name, *value);
            return true;
        }
    }
    return false;
}

// Reads the arguments of a command that takes files: each option through
// `take_option(cursor)`, which consumes it and returns true, or returns false
// for one the command does not know (a UsageError naming `command`); the
// others, "-" (standard input) and everything after "--", are its files,
// returned in order.
template <typename TakeOption>
std::vector<std::string_view> read_arguments(std::span<const std::string_view> args, std::string_view command,
                                             TakeOption take_option) {
    std::vector<std::string_view> positional;
    ArgumentCursor cursor(args);
    bool options_done = false;
    while (!cursor.done()) {
        const std::string_view name = cursor.option_name();
        if (options_done || !name.starts_with("-") || name == "-") {
            positional.push_back(cursor.take_positional());
        } else if (name == "--") {
            cursor.take_flag(name);
            options_done = true;
        } else if (!take_option(cursor)) {
            throw UsageError(std::string(command) + ": unknown option '" + printable(cursor.peek()) + "'");
        }
    }
    return positional;
}

// A settings option: its text and the field of FilterSettings it sets, whose
// kind says how its value is read.
struct SettingsOption {
    OptionText text;
    const SettingsField* field;  // null for --coefficients, which sets SettingsOptions::coefficients
};

// The settings options, in the order --help lists them.
std::span<const SettingsOption> settings_options();

// Consumes one settings option at the cursor when there is one; false when
// the current argument is not a settings option. Throws UsageError.
bool take_settings_option(ArgumentCursor& cursor, SettingsOptions& options);

// Strict readers for option values. Throw UsageError naming `option`.
std::int32_t parse_int32(std::string_view text, std::string_view option);
std::uint32_t parse_fill_color(std::string_view text, std::string_view option);
AnaglyphMatrix parse_coefficients(std::string_view text, std::string_view option);
FrameSize parse_frame_size(std::string_view text, std::string_view option);
std::optional<std::int32_t> parse_mode_name(std::string_view name);
const char* mode_name(std::int32_t mode);
// Every mode's name: "nop, deinterlace, ... alignment or cropping".
std::string mode_names();

// Notes on standard error which settings the output geometry corrected for
// a source of `size`, so a surprising output size is explained.
void report_corrections(const FilterSettings& before, const FilterSettings& after, FrameSize size);

// The settings options under a heading, with their defaults.
void write_settings_help(HelpWriter& out);

// The packing options of the commands that know the frames' aspect
// (convert, geometry): --half and --output-packing.
std::span<const CommandOption<PackingChoice>> packing_options();
// Consumes one packing option at the cursor when there is one; false when
// the current argument is none. Throws UsageError.
bool take_packing_option(ArgumentCursor& cursor, PackingChoice& packing);
// INPUT's packing alone (--half), for a command that reads stereo pictures
// and writes none (analyze).
std::span<const CommandOption<PackingChoice>> input_packing_options();
// The packing options under a heading, and what the output's aspect is.
void write_packing_help(HelpWriter& out);
// What is wrong with `packing` for `mode`: an output packing for the
// anaglyph, which has one picture; empty when nothing is.
std::string packing_problem(const PackingChoice& packing, std::int32_t mode);

// Reads a ratio "N:M" or "N/M" of positive whole numbers. Throws UsageError.
Ratio parse_ratio(std::string_view text, std::string_view option);

}  // namespace ocuvex::cli
