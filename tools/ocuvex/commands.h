// The subcommands of the ocuvex tool. Each takes the arguments after its
// name and returns the process exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/ocuvex/settings_options.h"

namespace ocuvex::cli {

int run_raw(std::span<const std::string_view> args);
int run_geometry(std::span<const std::string_view> args);
int run_convert(std::span<const std::string_view> args);

// What `ocuvex convert` is asked to do, read from its arguments and not yet acted on.
struct ConvertArguments {
    SettingsOptions options;
    std::string input;
    std::string output;
    bool overwrite = false;
    bool quiet = false;
    bool strict = false;  // damage stops the conversion
    bool help = false;
    std::string codec;
    std::optional<int> crf;
    std::int64_t frame = 0;
};

// Reads the arguments of `ocuvex convert`. Throws UsageError.
ConvertArguments parse_convert_arguments(std::span<const std::string_view> args);

}  // namespace ocuvex::cli
