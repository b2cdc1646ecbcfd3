// The command line's settings options, shared by every subcommand that
// converts: --mode, --swap, the numeric fields and --coefficients.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/anaglyph.h"
#include "core/filter_settings.h"
#include "tools/ocuvex/printable.h"

namespace ocuvex::cli {

// A mistake on the command line: reported as one line, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SettingsOptions {
    FilterSettings settings = default_settings();
    std::optional<AnaglyphMatrix> coefficients;  // replaces the process-wide table when given
};

struct FrameSize {
    std::int32_t w = 0;
    std::int32_t h = 0;
};

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

  private:
    std::span<const std::string_view> args_;
    std::size_t index_ = 0;
};

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

// Notes on standard error which settings the output geometry corrected for
// a source of `size`, so a surprising output size is explained.
void report_corrections(const FilterSettings& before, const FilterSettings& after, FrameSize size);

// The help text of the settings options, one per line.
const char* settings_options_help();

}  // namespace ocuvex::cli
