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

class HelpWriter;

int run_raw(std::span<const std::string_view> args);
int run_geometry(std::span<const std::string_view> args);
int run_convert(std::span<const std::string_view> args);
int run_analyze(std::span<const std::string_view> args);

// A command's help: its usage, what it does and its options; the settings
// options too when `with_settings` (the manual lists them once for all).
void write_raw_help(HelpWriter& out, bool with_settings);
void write_geometry_help(HelpWriter& out, bool with_settings);
void write_convert_help(HelpWriter& out, bool with_settings);
void write_analyze_help(HelpWriter& out, bool with_settings);

// A command of the tool: its name and summary as a row of the command list.
struct Command {
    OptionText text;
    int (*run)(std::span<const std::string_view> args);
    void (*write_help)(HelpWriter& out, bool with_settings);
};

std::span<const Command> commands();

// What the tool is, for the manual page's NAME line.
extern const char* const kToolSummary;
// `ocuvex --help`'s head: the usage, what the tool is and its commands.
void write_tool_help(HelpWriter& out);

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
    int video_stream = -1;   // the Nth video stream of INPUT; -1: FFmpeg's choice
    int frame_rate_num = 0;  // an image sequence's frame rate; 0: the demuxer's default
    int frame_rate_den = 1;
    bool ignore_stereo_metadata = false;
    PackingChoice packing;  // --half, --output-packing
};

// Reads the arguments of `ocuvex convert`. Throws UsageError.
ConvertArguments parse_convert_arguments(std::span<const std::string_view> args);
// The convert command's own options, in the order --help lists them.
std::span<const CommandOption<ConvertArguments>> convert_options();

}  // namespace ocuvex::cli
