// `ocuvex convert`'s command line: its options, its help and the reading of
// its arguments. Nothing here needs FFmpeg: ocuvex answers --help and
// refuses mistakes itself, and runs the job in ocuvex-media.
#include <string>
#include <vector>

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
      "stop at the first damaged or undecodable frame (exit 1, OUTPUT not written); by default the "
      "decoder conceals what it can, frames it cannot decode are skipped and one line at the end counts them"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.strict = true; }},
    {{"--quiet", "-q", "", "print nothing but errors (no progress line, no notes)"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.quiet = true; }},
    {{"--help", "-h", "", "print this help"},
     [](ConvertArguments& arguments, std::string_view, std::string_view) { arguments.help = true; }},
};

struct Example {
    const char* what;
    const char* command;
};

constexpr Example kConvertExamples[] = {
    {"nop: exchange the two views of a side-by-side video", "ocuvex convert --swap sbs.mp4 swapped.mp4"},
    {"deinterlace: field-sequential (views on alternate lines) to side-by-side",
     "ocuvex convert --mode deinterlace fields.mkv sbs.mkv"},
    {"centering: 64 black pixels more per frame, a quarter beside each view's outer and inner edges",
     "ocuvex convert --mode centering --center-width 64 --fill-color 000000 sbs.mp4 centered.mp4"},
    {"anaglyph: red-cyan (Dubois), as a video and frame 24 as a picture",
     "ocuvex convert --mode anaglyph sbs.mp4 anaglyph.mp4\n"
     "ocuvex convert --mode anaglyph --frame 24 sbs.mp4 anaglyph.png"},
    {"sbs-to-ab: side-by-side to above/below, lossless", "ocuvex convert --mode sbs-to-ab --codec ffv1 sbs.mkv ab.mkv"},
    {"ab-to-sbs: above/below to side-by-side, a still picture", "ocuvex convert --mode ab-to-sbs ab.png sbs.png"},
    {"alignment: offset the views by 6 pixels horizontally and -2 lines vertically",
     "ocuvex convert --mode alignment --align-horz 6 --align-vert -2 sbs.mp4 aligned.mp4"},
    {"cropping: a 560x320 window of each view, from x 40, y 20",
     "ocuvex convert --mode cropping --crop-x 40 --crop-y 20 --crop-width 560 --crop-height 320 \\\n"
     "    sbs.mp4 cropped.mp4"},
};

}  // namespace

void refuse_frame_rate(std::string_view value) {
    throw UsageError("--framerate: expected a frame rate such as 25 or 30000/1001: '" + printable(value) + "'");
}

ConvertArguments parse_convert_arguments(std::span<const std::string_view> args) {
    ConvertArguments parsed;
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
        } else if (!take_command_option<ConvertArguments>(cursor, kConvertOptions, parsed) &&
                   !take_settings_option(cursor, parsed.options)) {
            throw UsageError("convert: unknown option '" + printable(cursor.peek()) + "'");
        }
    }
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
    }
    out.paragraph(
        "Every mode but the anaglyph moves the decoded pixels as they are, in the source's own pixel format\n"
        "and bit depth, which the output keeps where the encoder takes it (else the nearest it takes, with a\n"
        "note); settings that would cut its chroma samples in two work in 4:4:4, converted once, with a note.\n"
        "The anaglyph is made in 8-bit RGB; its H.264 output is 4:2:0. H.264 takes 4:2:0 only with even\n"
        "sides: at an odd size it is 4:4:4 (or 4:2:2), with a note. Colour tags are kept. When INPUT says\n"
        "which eye is where (Matroska's StereoMode, MP4's stereo side data), the views are exchanged as\n"
        "needed so that the output's left view is the left eye. Outputs say their stereo layout where the\n"
        "container can: Matroska's StereoMode (the anaglyph's value not with FFmpeg 5.1, whose muxer drops\n"
        "it), stereo side data in MP4 and MOV where the FFmpeg in use writes it.");
    out.heading("Examples, one per mode");
    for (const Example& example : kConvertExamples) {
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
