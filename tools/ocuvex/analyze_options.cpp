// `ocuvex analyze`'s command line: its options, its help and the reading of
// its arguments. Nothing here needs FFmpeg: ocuvex answers --help and
// refuses mistakes itself, and runs the analysis in ocuvex-media.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"
#include "tools/ocuvex/settings_options.h"

namespace ocuvex::cli {

namespace {

constexpr CommandOption<AnalyzeArguments> kAnalyzeOptions[] = {
    {{"--layout", "", "NAME",
      "how INPUT's pictures hold the two views: side-by-side, above-below or rows (the views on alternate "
      "lines); default what INPUT's stereo metadata says, else side-by-side"},
     [](AnalyzeArguments& arguments, std::string_view option, std::string_view value) {
         for (const ViewLayout layout : {ViewLayout::SideBySide, ViewLayout::AboveBelow, ViewLayout::Rows}) {
             if (value == layout_name(layout)) {
                 arguments.layout = layout;
                 return;
             }
         }
         throw UsageError(std::string(option) + ": expected side-by-side, above-below or rows: '" + printable(value) +
                          "'");
     }},
    {{"--frames", "", "N", "frames to measure, spread over the whole of INPUT (default 48, at most 1000)"},
     [](AnalyzeArguments& arguments, std::string_view option, std::string_view value) {
         const std::int32_t frames = parse_int32(value, option);
         if (frames < 1 || frames > AnalyzeArguments::kMaxFrames) {
             throw UsageError(std::string(option) + ": expected 1 to " + std::to_string(AnalyzeArguments::kMaxFrames) +
                              ": '" + std::to_string(frames) + "'");
         }
         arguments.frames = frames;
     }},
    {{"--swap", "", "",
      "take the views the other way round (as convert --swap does), on top of what INPUT's stereo metadata says; "
      "the proposed commands carry it"},
     [](AnalyzeArguments& arguments, std::string_view, std::string_view) { arguments.swap = true; }},
    {{"--json", "", "", "print every measured number as one JSON object instead of the summary"},
     [](AnalyzeArguments& arguments, std::string_view, std::string_view) { arguments.json = true; }},
    {{"--quiet", "-q", "", "print the result and errors only (no progress line, no notes)"},
     [](AnalyzeArguments& arguments, std::string_view, std::string_view) { arguments.quiet = true; }},
    {{"--help", "-h", "", "print this help"},
     [](AnalyzeArguments& arguments, std::string_view, std::string_view) { arguments.help = true; }},
};

}  // namespace

AnalyzeArguments parse_analyze_arguments(std::span<const std::string_view> args) {
    AnalyzeArguments parsed;
    const std::vector<std::string_view> positional = read_arguments(args, "analyze", [&parsed](ArgumentCursor& cursor) {
        return take_command_option<AnalyzeArguments>(cursor, kAnalyzeOptions, parsed) ||
               take_command_option<PackingChoice>(cursor, input_packing_options(), parsed.packing);
    });
    if (parsed.help) {
        return parsed;
    }
    if (positional.size() != 1) {
        throw UsageError("analyze: expected one INPUT (try ocuvex analyze --help)");
    }
    parsed.input = std::string(positional[0]);
    return parsed;
}

void write_analyze_help(HelpWriter& out, bool) {
    out.usage("ocuvex analyze [options] INPUT");
    out.paragraph(
        "Measures how the two views of INPUT, a stereo video or picture FFmpeg can read (- reads standard\n"
        "input), lie against each other, on frames sampled over the whole file (seeking to key frames; a\n"
        "pipe is decoded through): the vertical offset between the views, which makes viewing hurt, the\n"
        "range of horizontal disparities (nearest and farthest content, in pixels and in percent of the\n"
        "view width), and whether one view is turned or scaled against the other, which no offset fixes.\n"
        "It prints a summary, warnings (turned, scaled, an offset that changes along the file, too deep\n"
        "for common screens) and the convert commands that level the views, put the nearest content at\n"
        "the screen and crop the bare edges that leaves. Frames too flat to match (black, a fade) are\n"
        "counted and left out. The eyes are found as convert finds them: where INPUT's stereo metadata\n"
        "says, else where its modes take the left view (the left half; an above/below picture's lower\n"
        "half), --swap on top. The method and its limits: docs/analyze.md.");
    out.heading("Options");
    for (const CommandOption<AnalyzeArguments>& option : kAnalyzeOptions) {
        out.option(option.text);
    }
    for (const CommandOption<PackingChoice>& option : input_packing_options()) {
        out.option(option.text);
    }
    out.heading("Examples");
    out.example("measure a side-by-side film, then run the commands it proposes",
                "ocuvex analyze film.mkv\n"
                "ocuvex convert --mode alignment --align-horz 29 --align-vert -6 film.mkv film-aligned.mkv");
    out.example("every number as JSON, from 100 frames of an above/below clip",
                "ocuvex analyze --json --frames 100 --layout above-below ab.mp4 > ab.json");
}

int run_analyze(std::span<const std::string_view> args) {
    if (parse_analyze_arguments(args).help) {
        write_analyze_help(*text_help_writer(stdout), true);
        return 0;
    }
    return run_in_media_helper("analyze", args);
}

}  // namespace ocuvex::cli
