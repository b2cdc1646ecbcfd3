#include "tools/ocuvex/commands.h"

#include <cstdio>
#include <exception>
#include <string>

#include "tools/ocuvex/help.h"

namespace ocuvex::cli {

namespace {

constexpr Command kCommands[] = {
    {{"convert", "", "", "convert a video or still image file (mp4, mkv, mov, png, jpg, bmp, tif, ...)"},
     run_convert,
     write_convert_help},
    {{"analyze", "", "", "measure a stereo pair's misalignment and depth, and propose a fix"},
     run_analyze,
     write_analyze_help},
    {{"raw", "", "", "convert raw 32-bit frames from standard input to standard output"}, run_raw, write_raw_help},
    {{"geometry", "", "", "print the output size and corrected settings as JSON"}, run_geometry, write_geometry_help},
};

}  // namespace

const char* const kToolSummary = "stereoscopic (3-D) frame-layout conversions of videos and pictures";

std::span<const Command> commands() { return kCommands; }

int run_reporting_errors(int (*run)(std::span<const std::string_view> args), std::span<const std::string_view> args) {
    try {
        return run(args);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "ocuvex: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ocuvex: %s\n", error.what());
        return 1;
    }
}

void write_tool_help(HelpWriter& out) {
    out.usage("ocuvex COMMAND [options]");
    out.paragraph(std::string("ocuvex: ") + kToolSummary + ".");
    out.heading("Commands");
    for (const Command& command : kCommands) {
        out.option(command.text);
    }
    out.paragraph("ocuvex COMMAND --help explains a command's options; ocuvex --version prints the version.");
}

}  // namespace ocuvex::cli
