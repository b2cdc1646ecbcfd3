// `ocuvex convert`: every frame of a video or still image converted by the
// core, read and written through FFmpeg's libraries.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "core/modes.h"
#include "core/output_geometry.h"
#include "media/job.h"
#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"
#include "tools/ocuvex/process/output_file.h"
#include "tools/ocuvex/process/stop_signals.h"
#include "tools/ocuvex/progress.h"
#include "tools/ocuvex/settings_options.h"

extern "C" {
#include <libavutil/parseutils.h>
}

namespace ocuvex::cli {

using namespace ocuvex::media;
using process::check_output_path;
using process::OutputFile;

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
     [](ConvertArguments& arguments, std::string_view option, std::string_view value) {
         AVRational rate{0, 1};
         if (av_parse_video_rate(&rate, std::string(value).c_str()) < 0 || rate.num <= 0 || rate.den <= 0) {
             throw UsageError(std::string(option) + ": expected a frame rate such as 25 or 30000/1001: '" +
                              printable(value) + "'");
         }
         arguments.frame_rate_num = rate.num;
         arguments.frame_rate_den = rate.den;
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

// One line on how much of the input was damaged, when any was, with the
// time each kind of damage was first found.
void report_damage(const ConvertArguments& arguments, const DamageTally& damage, std::int64_t dropped_late) {
    const std::int64_t dropped = damage.dropped.count + dropped_late;
    if (!damage.any() && dropped == 0) {
        return;
    }
    const auto counted = [](std::int64_t n, const char* one, const char* many, const char* what) {
        return (n == 1 ? std::string(one) : std::to_string(n) + " " + many) + what;
    };
    const auto since = [](const DamageCount& count) {
        if (!count.first_seconds) {
            return std::string();
        }
        char text[40];
        std::snprintf(text, sizeof text, " %s %.2f s", count.count == 1 ? "at" : "from", *count.first_seconds);
        return std::string(text);
    };
    std::string parts;
    const auto add = [&parts](const std::string& part) { parts += (parts.empty() ? " " : ", ") + part; };
    if (damage.damaged_packets.count > 0) {
        add(counted(damage.damaged_packets.count, "a damaged packet", "damaged packets", "") +
            since(damage.damaged_packets));
    }
    if (damage.damaged_frames.count > 0) {
        add(counted(damage.damaged_frames.count, "1 frame", "frames", " decoded with errors") +
            since(damage.damaged_frames));
    }
    if (dropped > 0) {
        add(counted(dropped, "1 frame", "frames", " dropped") + since(damage.dropped));
    }
    if (!damage.cut_short.empty()) {
        add(damage.cut_short);
    }
    std::fprintf(stderr, "ocuvex: %s is damaged:%s; %s written\n", quoted(arguments.input).c_str(), parts.c_str(),
                 quoted(arguments.output).c_str());
}

// The line that says INPUT's views look like the other packing, and how to read them so.
std::string packing_note(const std::string& input, const DisplayAspect& aspect) {
    const std::string layout = aspect.input_layout == ViewLayout::SideBySide ? "side-by-side" : "above/below";
    if (aspect.input_packing == Packing::Full) {
        return "each view of " + quoted(input) + " displays at " + ratio_text(aspect.view_aspect) +
               "; if its views are squeezed (half " + layout + "), --half displays each at " +
               ratio_text(aspect.other_view_aspect);
    }
    return "with --half each view of " + quoted(input) + " displays at " + ratio_text(aspect.view_aspect) +
           "; if its views are not squeezed (full " + layout + "), each displays at " +
           ratio_text(aspect.other_view_aspect) + " without --half";
}

// Notes and warnings on what the output could not carry as the input has
// it, and on how the pictures are converted.
void report_notices(const Notices& notices) {
    for (const Notice& notice : notices) {
        std::fprintf(stderr, "ocuvex: %s: %s\n", notice.warning ? "warning" : "note", notice.text.c_str());
    }
}

void convert(const ConvertArguments& arguments) {
    std::string why;
    std::optional<OutputFormat> format = find_output_format(arguments.output, &why);
    if (!format) {
        throw UsageError(quoted(arguments.output) + ": " + why);
    }
    JobRequest request;
    request.encoding.codec = arguments.codec;
    request.encoding.crf = arguments.crf;
    request.encoding.quiet = arguments.quiet;
    if (format->is_still() && (!request.encoding.codec.empty() || request.encoding.crf)) {
        throw UsageError(quoted(arguments.output) + ": --codec and --crf apply to video outputs only");
    }
    if (const std::string problem = codec_choice_problem(*format, request.encoding); !problem.empty()) {
        throw UsageError(problem);
    }
    if (const std::string problem = packing_problem(arguments.packing, arguments.options.settings.mode);
        !problem.empty()) {
        throw UsageError(problem);
    }
    request.packing = arguments.packing;
    request.settings = arguments.options.settings;
    request.coefficients = arguments.options.coefficients;
    request.follow_stereo_metadata = !arguments.ignore_stereo_metadata;
    request.input.strict = arguments.strict;
    request.input.stop = &process::stop_request();
    request.input.video_stream = arguments.video_stream;
    request.input.frame_rate = AVRational{arguments.frame_rate_num, arguments.frame_rate_den};

    capture_library_log();
    process::install_stop_handlers();
    ConvertJob job(arguments.input, request);
    const Input& input = job.input();
    if (arguments.frame_rate_num > 0 && !input.demuxer().frame_rate_taken()) {
        throw UsageError("--framerate: " + quoted(arguments.input) + " is not an image sequence");
    }
    if (input.demuxer().is_still()) {
        format = as_single_picture(*format);  // one picture, named as given
    }
    const FrameSize source{input.width(), input.height()};
    const FrameSize output = job.output_size();
    if (!arguments.quiet) {
        if (!job.stereo().message.empty()) {
            std::fprintf(stderr, "ocuvex: note: %s\n", job.stereo().message.c_str());
        }
        report_corrections(job.asked_settings(), job.settings(), source);
        if (job.aspect().shape_doubtful) {
            std::fprintf(stderr, "ocuvex: note: %s\n", packing_note(arguments.input, job.aspect()).c_str());
        }
    }
    if (output.w <= 0 || output.h <= 0) {
        throw UsageError(quoted(arguments.input) + ": mode " + mode_name(job.settings().mode) +
                         " with these settings gives " + std::to_string(output.w) + "x" + std::to_string(output.h) +
                         " frames from " + std::to_string(source.w) + "x" + std::to_string(source.h) +
                         "; nothing to write");
    }
    const bool still_out = format->is_still();
    if ((!still_out || input.demuxer().is_still()) && arguments.frame != 0) {
        throw UsageError("--frame: only for a still OUTPUT from a video INPUT");
    }
    check_output_path(arguments.input, arguments.output, arguments.overwrite, format->is_sequence());
    if (still_out && !job.seek_frame(arguments.frame)) {
        throw MediaError(quoted(arguments.input) + " has only " + std::to_string(input.frames_in_input()) +
                         " frames; --frame counts from 0");
    }

    OutputFile file(arguments.output, arguments.overwrite, format->is_sequence());
    job.open_output(*format, file.temp_path(), arguments.output);
    if (!arguments.quiet) {
        report_notices(job.notices());
    }
    const bool terminal = isatty(STDERR_FILENO) != 0;
    Progress progress(terminal && !arguments.quiet, still_out ? 1 : input.demuxer().expected_frames(),
                      still_out || input.demuxer().expected_frames_exact());
    const std::int64_t written = job.run([&progress](std::int64_t done) { progress.update(done); });
    if (written == 0) {
        throw MediaError(quoted(arguments.input) + " has no frames to convert");
    }
    job.finish();
    file.commit();
    progress.update(written, true);
    if (!arguments.quiet) {
        report_damage(arguments, job.damage(), job.frames_dropped());
    }
}

}  // namespace

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
    const ConvertArguments arguments = parse_convert_arguments(args);
    if (arguments.help) {
        write_convert_help(*text_help_writer(stdout), true);
        return 0;
    }
    try {
        convert(arguments);
    } catch (const Interrupted& stop) {
        std::fprintf(stderr, "ocuvex: interrupted; %s not written\n", quoted(arguments.output).c_str());
        return 128 + stop.reason;
    } catch (const MediaError&) {
        if (const int signal = process::stop_request().reason(); signal != 0) {
            std::fprintf(stderr, "ocuvex: interrupted; %s not written\n", quoted(arguments.output).c_str());
            return 128 + signal;
        }
        throw;
    }
    return 0;
}

}  // namespace ocuvex::cli
