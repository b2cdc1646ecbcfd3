// `ocuvex convert`'s job, run by ocuvex-media: every frame of a video or
// still image converted by the core, read and written through FFmpeg's
// libraries.
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

// An image sequence's frame rate as --framerate gives it; 0/1: none given.
AVRational frame_rate(const std::string& text) {
    AVRational rate{0, 1};
    if (!text.empty() && (av_parse_video_rate(&rate, text.c_str()) < 0 || rate.num <= 0 || rate.den <= 0)) {
        refuse_frame_rate(text);
    }
    return rate;
}

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
    const AVRational sequence_rate = frame_rate(arguments.frame_rate);  // refused before anything is opened
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
    request.input.frame_rate = sequence_rate;

    capture_library_log();
    process::install_stop_handlers();
    ConvertJob job(arguments.input, request);
    const Input& input = job.input();
    if (!arguments.frame_rate.empty() && !input.demuxer().frame_rate_taken()) {
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

int run_convert_job(std::span<const std::string_view> args) {
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
