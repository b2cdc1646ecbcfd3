// `ocuvex convert`'s command line: its options, its help and the reading of
// its arguments. Nothing here needs FFmpeg: ocuvex answers --help and
// refuses mistakes itself, and runs the job in ocuvex-media.
#include <string>
#include <vector>

#include "core/modes.h"
#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"
#include "tools/ocuvex/settings_options.h"

namespace ocuvex::cli {

namespace {

// The convert command's own options; the settings options follow them.
constexpr CommandOption<ConvertArguments> kConvertOptions[] = {
    {{"-y", "", "", "overwrite OUTPUT when it exists"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.overwrite = true; }},
    {{"--codec", "", "NAME", "video encoder, e.g. libx264 (default) or ffv1 (lossless, in .mkv)"},
     [](ConvertArguments& arguments, std::string_view option, std::string_view value) {
         if (value.empty()) {
             throw UsageError(std::string(option) + ": expected an encoder name");
         }
         arguments.codec = value;
     }},
    {{"--crf", "", "N", "H.264 quality, 0 (lossless) to 51 (worst); default 18"},
     [](ConvertArguments& arguments, std::string_view option, std::string_view value) {
         const std::int32_t crf = parse_int32(value, option);
         if (crf < 0 || crf > 51) {
             throw UsageError(std::string(option) + ": expected 0 to 51: '" + std::to_string(crf) + "'");
         }
         arguments.crf = crf;
     }},
    {{"--frame", "", "N", "still OUTPUT from a video INPUT: convert frame N (from 0; default 0)"},
     [](ConvertArguments& arguments, std::string_view option, std::string_view value) {
         const std::int32_t frame = parse_int32(value, option);
         if (frame < 0) {
             throw UsageError(std::string(option) + ": expected a frame number from 0: '" + std::to_string(frame) +
                              "'");
         }
         arguments.frame = frame;
     }},
    {{"--video-stream", "", "N",
      "convert INPUT's video stream N (from 0, in file order, as ffmpeg counts them in 0:v:N); default the one FFmpeg "
      "finds best; the other video streams are copied"},
     [](ConvertArguments& arguments, std::string_view option, std::string_view value) {
         const std::int32_t index = parse_int32(value, option);
         if (index < 0) {
             throw UsageError(std::string(option) + ": expected a stream number from 0: '" + std::to_string(index) +
                              "'");
         }
         arguments.video_stream = index;
     }},
    {{"--framerate", "", "RATE",
      "frame rate of an image-sequence INPUT such as in%04d.png, e.g. 24, 30000/1001 or ntsc; default 25"},
     // FFmpeg reads the rate when the job starts (ocuvex itself links none of it).
     [](ConvertArguments& arguments, std::string_view, std::string_view value) {
         if (value.empty()) {
             refuse_frame_rate(value);
         }
         arguments.frame_rate = value;
     }},
    {{"--ignore-stereo-metadata", "", "",
      "read INPUT's pictures as the mode defines them even where its stereo metadata (Matroska's StereoMode, "
      "MP4's stereo side data) says the left eye is elsewhere; by default the views are exchanged to follow it"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.ignore_stereo_metadata = true; }},
    {{"--strict", "", "",
      "stop at the first damage (exit 1, OUTPUT not written, an existing one kept even with -y): a packet the "
      "demuxer marks corrupt, or any error the decoder detects, checksums checked; the line names INPUT, the stream "
      "and the time. By default the decoder conceals what it can, frames it cannot decode are skipped, and one line "
      "at the end counts what ffmpeg's log would show: damaged packets, frames decoded with errors, frames dropped"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.strict = true; }},
    {{"--quiet", "-q", "", "print nothing but errors (no progress line, no notes)"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.quiet = true; }},
    {{"--help", "-h", "", "print this help"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.help = true; }},
};

// Examples of the packing options; every mode's own example comes from the
// table of modes.
struct Example {
    const char* what;
    const char* command;
};

constexpr Example kPackingExamples[] = {
    {"sbs-to-ab of a half side-by-side film (1920x1080 at 16:9): half above/below, each view still 16:9",
     "ocuvex convert --half --mode sbs-to-ab film.mkv ab.mkv"},
    {"nop: a full side-by-side video (3840x1080) as half side-by-side for a 3-D TV (1920x1080)",
     "ocuvex convert --output-packing half full.mp4 tv.mp4"},
};

}  // namespace

void refuse_frame_rate(std::string_view value) {
    throw UsageError("--framerate: expected a frame rate such as 25 or 30000/1001: '" + printable(value) + "'");
}

ConvertArguments parse_convert_arguments(std::span<const std::string_view> args) {
    ConvertArguments parsed;
    const std::vector<std::string_view> positional = read_arguments(args, "convert", [&parsed](ArgumentCursor& cursor) {
        return take_command_option<ConvertArguments>(cursor, kConvertOptions, parsed) ||
               take_packing_option(cursor, parsed.packing) || take_settings_option(cursor, parsed.options);
    });
    if (parsed.help) {
        return parsed;
    }
    if (positional.size() != 2) {
        throw UsageError("convert: expected INPUT and OUTPUT (try ocuvex convert --help)");
    }
    parsed.input = std::string(positional[0]);
    parsed.output = std::string(positional[1]);
    if (parsed.output == "-") {
        throw UsageError("convert: OUTPUT must name a file, not standard output (ocuvex raw writes frames to a pipe)");
    }
    return parsed;
}

std::span<const CommandOption<ConvertArguments>> convert_options() { return kConvertOptions; }

void write_convert_help(HelpWriter& out, bool with_settings) {
    out.usage("ocuvex convert [settings] [options] INPUT OUTPUT");
    out.paragraph(
        "Converts every frame of INPUT, a video, image sequence (in%04d.png) or still image FFmpeg can\n"
        "read (- reads standard input, in a format read without seeking: .mkv, .ts, .y4m, .nut), and\n"
        "writes OUTPUT in the format its name asks for, with that container's usual encoder as ffmpeg\n"
        "chooses it: .mp4, .mkv, .mov (H.264), .webm, .avi, .gif, ..., an image sequence (out%04d.png)\n"
        "or a still picture (.png, .jpg, .bmp, .tif). What else INPUT carries is kept where\n"
        "the container can hold it: audio, subtitles, attachments, a cover picture, other video streams,\n"
        "chapters, metadata, the display matrix; what it cannot hold is converted as ffmpeg would (a note)\n"
        "or left out (a warning). OUTPUT starts at 0, as ffmpeg's outputs do.\n"
        "OUTPUT appears only when complete; on any error, Ctrl-C or other signal nothing is left behind.");
    out.heading("Options");
    for (const CommandOption<ConvertArguments>& option : kConvertOptions) {
        out.option(option.text);
    }
    if (with_settings) {
        write_settings_help(out);
        write_packing_help(out);
    }
    out.paragraph(
        "Every mode but the anaglyph moves the decoded pixels as they are, in the source's own pixel format\n"
        "and bit depth, which the output keeps where the encoder takes it (else the nearest it takes, with a\n"
        "note); settings that would cut its chroma samples in two work in 4:4:4, converted once, with a note,\n"
        "and the file is still in the source's format where the encoder takes it. Deinterlace keeps 4:2:0:\n"
        "each view takes the chroma rows of its own parity, as ffmpeg's stereo3d=irr:sbsl does.\n"
        "The anaglyph is made in 8-bit RGB; its H.264 output is 4:2:0. H.264 takes 4:2:0 only with even\n"
        "sides: at an odd size it is 4:4:4 (or 4:2:2), with a note. Colour tags are kept. When INPUT says\n"
        "which eye is where (Matroska's StereoMode, MP4's stereo side data), the views are exchanged as\n"
        "needed so that the output's left view is the left eye. Outputs say their stereo layout where the\n"
        "container can: Matroska's StereoMode (the anaglyph's value not with FFmpeg 5.1, whose muxer drops\n"
        "it), stereo side data in MP4 and MOV where the FFmpeg in use writes it. Neither can say whether the\n"
        "views are half or full; the pixel aspect ratio says how they display.");
    out.heading("Examples, one per mode");
    for (const ModeRow& row : kModes) {
        out.example(std::string(row.name) + ": " + row.example, row.command);
    }
    out.heading("Examples of half and full packings");
    for (const Example& example : kPackingExamples) {
        out.example(example.what, example.command);
    }
}

int run_convert(std::span<const std::string_view> args) {
    if (parse_convert_arguments(args).help) {
        write_convert_help(*text_help_writer(stdout), true);
        return 0;
    }
    return run_in_media_helper("convert", args);
}

}  // namespace ocuvex::cli
