// The subcommands of the ocuvex tool. Each takes the arguments after its
// name and returns the process exit status.
//
// The ocuvex program itself links no FFmpeg library, so that `raw` and
// `geometry` start as fast as any small program. The commands that need
// FFmpeg (convert, analyze) run in a second program, ocuvex-media, installed in
// libexec/ocuvex/ beside the tool's bin/ and found from the running
// program's own path: ocuvex reads the command's arguments (answering
// --help and refusing mistakes itself), then replaces itself with
// `ocuvex-media COMMAND ARGS...` (exec: the same process, streams, signals
// and exit status). A new FFmpeg command is a row in both programs' tables:
// commands() here with a run that ends in run_in_media_helper(), and the
// helper's own in media_main.cpp.
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
// Reads convert's arguments, then runs the job in ocuvex-media.
int run_convert(std::span<const std::string_view> args);
// The job of `ocuvex convert`, in ocuvex-media.
int run_convert_job(std::span<const std::string_view> args);
// Reads analyze's arguments, then runs the analysis in ocuvex-media.
int run_analyze(std::span<const std::string_view> args);
// The analysis of `ocuvex analyze`, in ocuvex-media.
int run_analyze_job(std::span<const std::string_view> args);

// Replaces the process with `ocuvex-media COMMAND ARGS...`; returns only
// when that cannot be done, with exit status 1 after one line saying why.
int run_in_media_helper(std::string_view command, std::span<const std::string_view> args);

// Runs a command and turns what it throws into one line and an exit status:
// 2 for a mistake on the command line, 1 for any other failure.
int run_reporting_errors(int (*run)(std::span<const std::string_view> args), std::span<const std::string_view> args);

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
    int video_stream = -1;  // the Nth video stream of INPUT; -1: FFmpeg's choice
    // An image sequence's frame rate as given ("24", "30000/1001", "ntsc"),
    // read by FFmpeg when the job starts; empty: the demuxer's default.
    std::string frame_rate;
    bool ignore_stereo_metadata = false;
    PackingChoice packing;  // --half, --output-packing
};

// Reads the arguments of `ocuvex convert`. Throws UsageError.
ConvertArguments parse_convert_arguments(std::span<const std::string_view> args);
// The convert command's own options, in the order --help lists them.
std::span<const CommandOption<ConvertArguments>> convert_options();
// Refuses a --framerate value. Throws UsageError.
[[noreturn]] void refuse_frame_rate(std::string_view value);

// What `ocuvex analyze` is asked to do.
struct AnalyzeArguments {
    static constexpr std::int32_t kDefaultFrames = 48;
    static constexpr std::int32_t kMaxFrames = 1000;

    std::optional<ViewLayout> layout;  // none: the input's metadata, else side by side
    PackingChoice packing;             // --half
    std::int32_t frames = kDefaultFrames;
    bool swap = false;
    bool json = false;
    bool quiet = false;
    bool help = false;
    std::string input;
};

// Reads the arguments of `ocuvex analyze`. Throws UsageError.
AnalyzeArguments parse_analyze_arguments(std::span<const std::string_view> args);

}  // namespace ocuvex::cli
