// `ocuvex analyze`: how one view of a stereo video lies against the other,
// measured on frames sampled over the whole file (core/stereo_analysis.h),
// and the alignment and cropping settings that fix what can be fixed.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis_proposal.h"
#include "core/analysis_summary.h"
#include "core/display_shape.h"
#include "core/output_geometry.h"
#include "core/stereo_analysis.h"
#include "media/frame_sampler.h"
#include "media/stereo_metadata.h"
#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"
#include "tools/ocuvex/json_writer.h"
#include "tools/ocuvex/progress.h"
#include "tools/ocuvex/settings_options.h"

namespace ocuvex::cli {

using namespace ocuvex::media;

namespace {

// A packing the analysis reads (named as --layout and layout_name() name
// it), and the convert mode that reads it (whose left view the eyes are
// found by, as convert finds them).
struct Layout {
    ViewLayout view_layout;
    std::int32_t mode;
    const char* first_place;  // where the packing's first view lies
    const char* second_place;

    std::string_view name() const { return layout_name(view_layout); }
    StereoPacking packing() const { return stereo_packing(view_layout); }
};

constexpr Layout kLayouts[] = {
    {ViewLayout::SideBySide, MODE_ALIGNMENT, "the left half", "the right half"},
    {ViewLayout::AboveBelow, MODE_AB_TO_SBS, "the top half", "the bottom half"},
    {ViewLayout::Rows, MODE_DEINTERLACE, "the even lines", "the odd lines"},
};

constexpr ProgressUnit kSamples{"sample", "samples/s"};

// The measurements of the samples, kept until the sampler has said which
// stand (decoding through, it thins them out); their matches are copied
// into slots made once.
class SampledMeasurements {
  public:
    explicit SampledMeasurements(std::int32_t capacity) : slots_(static_cast<std::size_t>(capacity)) {}

    void add(const FrameMeasurement& frame, double seconds, std::int64_t position, const FrameSampler& sampler) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < used_; ++i) {
            if (sampler.keeps(slots_[i].position)) {
                std::swap(slots_[kept++], slots_[i]);
            }
        }
        used_ = kept;
        if (used_ == slots_.size()) {
            return;  // the sampler hands out no more than that
        }
        Slot& slot = slots_[used_++];
        slot.frame = frame;
        slot.matches.assign(frame.matches.begin(), frame.matches.end());
        slot.seconds = seconds;
        slot.position = position;
    }

    void add_to(AnalysisAccumulator& accumulator) {
        for (std::size_t i = 0; i < used_; ++i) {
            FrameMeasurement frame = slots_[i].frame;
            frame.matches = slots_[i].matches;
            accumulator.add(frame, slots_[i].seconds);
        }
    }

  private:
    struct Slot {
        FrameMeasurement frame;
        std::vector<BlockMatch> matches;
        double seconds = 0;
        std::int64_t position = 0;
    };
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

// A word the shell reads back as `text`: as it is when it holds nothing the
// shell treats specially, else quoted ($'...' for control characters).
std::string shell_word(const std::string& text) {
    bool plain = !text.empty();
    bool control = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          std::string_view("_-+./,:=@%").find(c) != std::string_view::npos;
        plain = plain && safe;
        control = control || byte < 0x20 || byte == 0x7F;
    }
    if (plain) {
        return text;
    }
    std::string out = control ? "$'" : "'";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (control && (byte < 0x20 || byte == 0x7F || c == '\\' || c == '\'')) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else if (!control && c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

const char* verdict_name(FrameVerdict verdict) {
    switch (verdict) {
    case FrameVerdict::measured:
        return "measured";
    case FrameVerdict::flat:
        return "flat";
    case FrameVerdict::unmatched:
        return "unmatched";
    case FrameVerdict::unusable:
        break;
    }
    return "unusable";
}

const char* method_name(SamplingMethod method) {
    switch (method) {
    case SamplingMethod::still:
        return "still";
    case SamplingMethod::seeking:
        return "seeking";
    case SamplingMethod::decoding:
        break;
    }
    return "decoding";
}

std::string signed_text(std::int64_t value) { return (value > 0 ? "+" : "") + std::to_string(value); }

std::string fixed(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    char text[32];
    std::snprintf(text, sizeof text, "%+.*f", decimals, rounded == 0 ? 0.0 : rounded);  // never "-0.00"
    return text;
}

std::string screen_text(const Screen& screen) {
    char text[96];
    std::snprintf(text, sizeof text, "%s at %g m", screen.name, screen.distance_mm / 1000);
    return text;
}

// What was read and how: the facts every report starts with.
struct Reading {
    std::string input;
    int width = 0;
    int height = 0;
    const Layout* layout = nullptr;
    bool left_eye_first = true;       // the first place holds the left eye
    bool swap = false;                // the user's --swap
    bool eyes_by_convention = false;  // no metadata said where the left eye is
    // How the views are packed (--half; views on alternate lines are always
    // half) and the shape each displays at.
    Packing packing = Packing::Full;
    Ratio view_aspect;
    SamplingMethod method = SamplingMethod::seeking;
    std::int32_t samples_wanted = 0;
    std::int64_t frames_decoded = 0;
    bool still = false;
};

// A convert command line that carries out part of a proposal, and what it does.
struct ProposedCommand {
    std::string purpose;
    std::string line;
};

// The convert commands that carry out a proposal, in order.
std::vector<ProposedCommand> proposed_commands(const Reading& reading, const SettingsProposal& proposal) {
    std::vector<ProposedCommand> commands;
    if (!proposal.needs_alignment) {
        return commands;
    }
    // The steps' files in this folder, named after INPUT: film-aligned.mkv.
    const std::string extension = reading.still ? ".png" : ".mkv";
    std::string stem = reading.input.substr(reading.input.find_last_of('/') + 1);
    stem = stem.substr(0, stem.find_last_of('.') == 0 ? stem.size() : stem.find_last_of('.'));
    stem = stem.empty() || stem == "-" ? "" : stem + "-";
    std::replace(stem.begin(), stem.end(), '%', '_');  // not a sequence's pattern
    const std::string packed = stem + "sbs" + extension, aligned = stem + "aligned" + extension,
                      cropped = stem + "cropped" + extension;
    // Names that start with '-' would read as options: "--" ends them.
    const auto files = [](const std::string& in, const std::string& out) {
        const bool dashed = (in.starts_with("-") && in != "-") || out.starts_with("-");
        return std::string(dashed ? " -- " : " ") + shell_word(in) + " " + shell_word(out);
    };
    std::string source = reading.input;
    if (reading.layout->packing() != StereoPacking::SideBySide) {
        // The alignment reads side-by-side frames.
        commands.push_back({"put the views side by side", std::string("ocuvex convert --mode ") +
                                                              mode_name(reading.layout->mode) + files(source, packed)});
        source = packed;
    }
    const FilterSettings& a = proposal.alignment;
    char purpose[128];
    std::snprintf(purpose, sizeof purpose,
                  "level the views and put the nearest content at the screen (disparities then %s to %s px)",
                  signed_text(proposal.nearest_after).c_str(), signed_text(proposal.farthest_after).c_str());
    commands.push_back({purpose, "ocuvex convert --mode alignment --align-horz " + std::to_string(a.align_horz) +
                                     " --align-vert " + std::to_string(a.align_vert) + files(source, aligned)});
    if (proposal.needs_cropping) {
        const FilterSettings& c = proposal.cropping;
        std::snprintf(purpose, sizeof purpose, "cut the bare edges, the views back in their shape (%dx%d frames)",
                      proposal.cropped.w, proposal.cropped.h);
        commands.push_back({purpose, "ocuvex convert --mode cropping --crop-x " + std::to_string(c.crop_x) +
                                         " --crop-y " + std::to_string(c.crop_y) + " --crop-width " +
                                         std::to_string(c.crop_width) + " --crop-height " +
                                         std::to_string(c.crop_height) + files(aligned, cropped)});
    }
    // Every step reads its input as INPUT is packed (views on alternate
    // lines are half packed, and so is the side-by-side frame deinterlace
    // makes of them), so that each file declares the aspect its views
    // display at. The user's --swap goes to
    // the last step: each step's output says where it put the eyes, and the
    // next step follows that, which would exchange the views back after an
    // earlier --swap.
    constexpr std::size_t kAfterConvert = std::string_view("ocuvex convert").size();
    for (ProposedCommand& command : commands) {
        if (reading.packing == Packing::Half) {
            command.line.insert(kAfterConvert, " --half");
        }
    }
    if (reading.swap) {
        commands.back().line.insert(kAfterConvert, " --swap");
    }
    return commands;
}

std::string layout_sentence(const Reading& reading) {
    const Layout& layout = *reading.layout;
    return std::string(layout.name()) + ", left eye in " +
           (reading.left_eye_first ? layout.first_place : layout.second_place);
}

void print_summary(const Reading& reading, const AnalysisSummary& s, const SettingsProposal& p,
                   const std::vector<ProposedCommand>& commands) {
    std::printf("%s: %dx%d %s; views %dx%d, %s, each displayed at %s\n", quoted(reading.input).c_str(), reading.width,
                reading.height, layout_sentence(reading).c_str(), s.view_w, s.view_h, packing_name(reading.packing),
                ratio_text(reading.view_aspect).c_str());
    std::string counts = std::to_string(s.measured) + " measured";
    const std::pair<std::int32_t, const char*> skipped[] = {
        {s.flat, "flat"}, {s.unmatched, "unmatched"}, {s.unusable, "unusable"}};
    for (const auto& [count, what] : skipped) {
        if (count > 0) {
            counts += ", " + std::to_string(count) + " " + what;
        }
    }
    const std::string of_wanted =
        s.frames < reading.samples_wanted ? " of " + std::to_string(reading.samples_wanted) + " wanted" : "";
    std::printf("%d frame%s sampled%s (%s): %s\n", s.frames, s.frames == 1 ? "" : "s", of_wanted.c_str(),
                method_name(reading.method), counts.c_str());
    if (s.frames > s.unusable) {
        std::printf(
            "noise: %.1f levels (each view's standard deviation, the frames' median), allowed for in matching\n",
            s.noise);
    }
    if (!s.anything_measured()) {
        std::printf(
            "nothing measured (flat frames have too little detail, unmatched ones too few blocks found in "
            "the other view): nothing to propose\n");
        return;
    }
    if (s.vertical_matches > 0) {
        std::printf(
            "vertical offset: %s lines (right eye's view against the left's, > 0 lower), quartiles %s to %s, "
            "%.0f %% of %lld matches within a line\n",
            signed_text(s.vertical_offset).c_str(), signed_text(s.vertical_q1).c_str(),
            signed_text(s.vertical_q3).c_str(), 100 * s.vertical_agreement, static_cast<long long>(s.vertical_matches));
    } else {
        std::printf("vertical offset: no block matched vertically\n");
    }
    if (s.horizontal_matches > 0) {
        std::printf(
            "disparity: nearest %s px (%s %% of the view width), farthest %s px (%s %%), median %s px "
            "(< 0 in front of the screen)\n",
            signed_text(s.nearest).c_str(), fixed(s.percent_of_width(s.nearest), 1).c_str(),
            signed_text(s.farthest).c_str(), fixed(s.percent_of_width(s.farthest), 1).c_str(),
            signed_text(s.disparity_median).c_str());
    } else {
        std::printf("disparity: no block matched horizontally\n");
    }
    if (s.fitted_frames > 0) {
        std::printf("right view against the left: turned %s degrees, scaled %s %%, %s lines at the centre\n",
                    fixed(s.rotation_degrees, 2).c_str(), fixed(s.scale_percent, 2).c_str(),
                    fixed(s.centre_offset, 1).c_str());
    }
    if (s.rotated) {
        std::printf(
            "warning: the views are turned %s degrees against each other: no offset fixes that; the one "
            "proposed levels them at the centre\n",
            fixed(s.rotation_degrees, 2).c_str());
    }
    if (s.scaled) {
        std::printf(
            "warning: the right view is %s %% larger than the left: no offset fixes that; the one proposed "
            "levels them at the centre\n",
            fixed(s.scale_percent, 2).c_str());
    }
    if (s.vertical_drift) {
        std::printf(
            "warning: the vertical offset changes along the file, from %s to %s lines (the rig moved): "
            "one offset cannot fit all of it\n",
            signed_text(s.vertical_low).c_str(), signed_text(s.vertical_high).c_str());
    }
    if (s.vertical_spread) {
        std::printf(
            "warning: the blocks disagree on the vertical offset (quartiles %s to %s) with no turn or scale "
            "to explain it: lens distortion, a toed-in rig's keystone, or poor matches\n",
            signed_text(s.vertical_q1).c_str(), signed_text(s.vertical_q3).c_str());
    }
    if (s.depth_inverted) {
        const std::string left_place =
            reading.left_eye_first ? reading.layout->first_place : reading.layout->second_place;
        const std::string found = reading.swap ? "--swap put the left eye in " + left_place
                                  : reading.eyes_by_convention
                                      ? "no stereo metadata says where the left eye is: it was taken to be in " +
                                            left_place + " by convention"
                                      : "the stereo metadata puts the left eye in " + left_place;
        std::printf(
            "note: most of the picture lies in front of the screen (median disparity %s px) and some behind it, "
            "which a rig's views rarely show: if the depth looks inside out, the eyes are the other way round "
            "(%s); %s\n",
            signed_text(s.disparity_median).c_str(), found.c_str(),
            reading.swap ? "analyse without --swap" : "analyse with --swap");
    }
    std::string too_deep, diverges;
    for (const ScreenComfort& screen : p.screens) {
        if (screen.too_deep) {
            too_deep += (too_deep.empty() ? "" : ", ") + screen_text(screen.screen);
        }
        if (screen.diverges) {
            diverges += (diverges.empty() ? "" : ", ") + screen_text(screen.screen);
        }
    }
    if (!too_deep.empty()) {
        std::printf(
            "warning: once aligned, too deep for comfortable viewing (more than %g degree from nearest to "
            "farthest) on a %s\n",
            kComfortDegrees, too_deep.c_str());
    }
    if (!diverges.empty()) {
        std::printf(
            "warning: once aligned, the farthest content lies more than %g mm apart (the eyes diverge) on "
            "a %s\n",
            kEyeSeparationMm, diverges.c_str());
    }
    if (commands.empty()) {
        std::printf("the views are level and the nearest content is at the screen: nothing to align\n");
        return;
    }
    for (const ProposedCommand& command : commands) {
        std::printf("%s %s:\n  %s\n", &command == commands.data() ? "\nto" : "then to", command.purpose.c_str(),
                    command.line.c_str());
    }
}

void write_json(const Reading& reading, const AnalysisSummary& s, const SettingsProposal& p,
                const std::vector<ProposedCommand>& commands) {
    JsonWriter json;
    json.begin_object();
    json.string("input", reading.input);
    json.integer("width", reading.width);
    json.integer("height", reading.height);
    json.string("layout", reading.layout->name());
    json.string("left_eye", reading.left_eye_first ? reading.layout->first_place : reading.layout->second_place);
    json.boolean("swap", reading.swap);
    json.string("sampling", method_name(reading.method));
    json.integer("samples_wanted", reading.samples_wanted);
    json.integer("frames_decoded", reading.frames_decoded);
    json.integer("view_width", s.view_w);
    json.integer("view_height", s.view_h);
    json.string("packing", packing_name(reading.packing));
    json.string("view_aspect", ratio_text(reading.view_aspect));
    json.number("noise", s.noise);

    json.begin_object("frames");
    json.integer("sampled", s.frames);
    json.integer("measured", s.measured);
    json.integer("flat", s.flat);
    json.integer("unmatched", s.unmatched);
    json.integer("unusable", s.unusable);
    json.end_object();

    json.begin_object("vertical");
    json.integer("matches", s.vertical_matches);
    json.integer("offset", s.vertical_offset);
    json.integer("q1", s.vertical_q1);
    json.integer("q3", s.vertical_q3);
    json.number("agreement", s.vertical_agreement);
    json.integer("low", s.vertical_low);
    json.integer("high", s.vertical_high);
    json.end_object();

    json.begin_object("disparity");
    json.integer("matches", s.horizontal_matches);
    json.integer("nearest", s.nearest);
    json.integer("farthest", s.farthest);
    json.integer("median", s.disparity_median);
    json.number("nearest_percent", s.percent_of_width(s.nearest));
    json.number("farthest_percent", s.percent_of_width(s.farthest));
    json.number("median_percent", s.percent_of_width(s.disparity_median));
    json.integer("nearest_in_a_frame", s.nearest_in_a_frame);
    json.integer("farthest_in_a_frame", s.farthest_in_a_frame);
    json.end_object();

    json.begin_object("geometry");
    json.integer("fitted_frames", s.fitted_frames);
    json.number("rotation_degrees", s.rotation_degrees);
    json.number("scale_percent", s.scale_percent);
    json.number("centre_offset", s.centre_offset);
    json.end_object();

    json.begin_object("warnings");
    json.boolean("rotated", s.rotated);
    json.boolean("scaled", s.scaled);
    json.boolean("vertical_drift", s.vertical_drift);
    json.boolean("vertical_spread", s.vertical_spread);
    json.boolean("depth_inverted", s.depth_inverted);
    bool too_deep = false, diverges = false;
    for (const ScreenComfort& screen : p.screens) {
        too_deep = too_deep || screen.too_deep;
        diverges = diverges || screen.diverges;
    }
    json.boolean("too_deep", p.measured && too_deep);
    json.boolean("diverges", p.measured && diverges);
    json.end_object();

    json.begin_object("proposal");
    json.boolean("measured", p.measured);
    json.integer("source_width",
                 reading.layout->packing() == StereoPacking::SideBySide ? reading.width : 2 * reading.width);
    json.integer("source_height",
                 reading.layout->packing() == StereoPacking::SideBySide ? reading.height : reading.height / 2);
    json.boolean("needs_alignment", p.needs_alignment);
    json.integer("align_horz", p.alignment.align_horz);
    json.integer("align_vert", p.alignment.align_vert);
    json.integer("aligned_width", p.aligned.w);
    json.integer("aligned_height", p.aligned.h);
    json.boolean("needs_cropping", p.needs_cropping);
    json.integer("crop_x", p.cropping.crop_x);
    json.integer("crop_y", p.cropping.crop_y);
    json.integer("crop_width", p.cropping.crop_width);
    json.integer("crop_height", p.cropping.crop_height);
    json.integer("cropped_width", p.cropped.w);
    json.integer("cropped_height", p.cropped.h);
    json.integer("nearest_after", p.nearest_after);
    json.integer("farthest_after", p.farthest_after);
    json.begin_array("screens");
    for (const ScreenComfort& screen : p.screens) {
        json.begin_object();
        json.string("screen", screen.screen.name != nullptr ? screen.screen.name : "");
        json.number("width_mm", screen.screen.width_mm);
        json.number("distance_mm", screen.screen.distance_mm);
        json.number("range_degrees", screen.range_degrees);
        json.number("farthest_mm", screen.farthest_mm);
        json.boolean("too_deep", screen.too_deep);
        json.boolean("diverges", screen.diverges);
        json.end_object();
    }
    json.end_array();
    json.end_object();

    json.begin_array("commands");
    for (const ProposedCommand& command : commands) {
        json.string({}, command.line);
    }
    json.end_array();

    json.begin_array("frame_records");
    for (const FrameRecord& r : s.frame_records) {
        json.begin_object();
        json.number("time", r.time);
        json.string("verdict", verdict_name(r.verdict));
        json.integer("vertical_matches", r.vertical_matches);
        json.integer("horizontal_matches", r.horizontal_matches);
        json.integer("vertical_median", r.vertical_median);
        json.integer("nearest", r.nearest);
        json.integer("farthest", r.farthest);
        json.number("noise", r.noise);
        json.end_object();
    }
    json.end_array();
    json.end_object();
    std::printf("%s\n", json.text().c_str());
}

// The layout to read: --layout, else the input's metadata where it names
// one the analysis reads, else side by side; a note when the metadata says
// something else.
const Layout& choose_layout(const AnalyzeArguments& arguments, const std::optional<StereoLayout>& declared,
                            const std::string& name, std::string& note) {
    const Layout* layout = nullptr;
    for (const Layout& known : kLayouts) {
        if (arguments.layout ? *arguments.layout == known.view_layout
                             : layout == nullptr && declared && declared->packing == known.packing()) {
            layout = &known;
        }
    }
    const Layout& chosen = layout != nullptr ? *layout : kLayouts[0];
    if (declared && declared->packing != chosen.packing() && declared->packing != StereoPacking::Unspecified) {
        note = quoted(name) + " says its pictures are " + layout_text(*declared) + "; they are read as " +
               std::string(chosen.name()) + (arguments.layout ? ", as --layout asks" : "");
    }
    return chosen;
}

void analyze(const AnalyzeArguments& arguments) {
    capture_library_log();
    FrameSampler sampler(arguments.input, arguments.frames);
    const std::optional<StereoLayout> declared = declared_stereo_layout(sampler.demuxer().video_stream());
    std::string note;
    Reading reading;
    reading.input = arguments.input;
    reading.width = sampler.width();
    reading.height = sampler.height();
    reading.layout = &choose_layout(arguments, declared, sampler.name(), note);
    reading.swap = arguments.swap;
    reading.method = sampler.method();
    reading.samples_wanted = sampler.method() == SamplingMethod::still ? 1 : arguments.frames;
    reading.still = sampler.method() == SamplingMethod::still;
    // The eyes as convert finds them: the mode's left view, exchanged where
    // the metadata says so, and again by --swap.
    const StereoReading stereo = read_stereo_layout(reading.layout->mode, reading.height, declared, sampler.name());
    const bool swapped = stereo.metadata_swap != arguments.swap;
    reading.left_eye_first = left_view_taken_first(reading.layout->packing(), reading.height) != swapped;
    reading.eyes_by_convention = !declared || declared->packing != reading.layout->packing();
    // How the views display, as convert reads them.
    FilterSettings reader = default_settings();
    reader.mode = reading.layout->mode;
    const OutputGeometry read = compute_output_geometry(reader, reading.width, reading.height);
    const AVRational sar = sampler.sample_aspect_ratio();
    const DisplayAspect shown = display_aspect(reader, {reading.width, reading.height}, {read.w, read.h},
                                               make_ratio(sar.num, sar.den), arguments.packing);
    reading.packing = shown.input_packing;
    reading.view_aspect = shown.view_aspect;
    if (!arguments.quiet && !note.empty()) {
        std::fprintf(stderr, "ocuvex: note: %s\n", note.c_str());
    }

    const FrameSize view = view_size(reading.layout->view_layout, reading.width, reading.height);
    PairAnalyzer analyzer(view.w, view.h);
    SampledMeasurements measurements(arguments.frames);
    LumaReader luma;
    const bool decoding = sampler.method() == SamplingMethod::decoding;
    const bool terminal = isatty(STDERR_FILENO) != 0 && !arguments.quiet;
    Progress progress(terminal, decoding ? sampler.frames_expected() : reading.samples_wanted,
                      !decoding || sampler.demuxer().expected_frames_exact(), decoding ? kFrames : kSamples);
    const auto on_frame = [&progress](std::int64_t frames) { progress.update(frames); };
    std::int64_t samples = 0;
    while (true) {
        const SampledFrame& sample = decoding ? sampler.next(on_frame) : sampler.next();
        if (sample.picture == nullptr) {
            break;
        }
        const std::array<LumaView, 2> places = view_places(luma.luma(sample.picture), reading.layout->view_layout);
        const LumaView& left = places[reading.left_eye_first ? 0 : 1];
        const LumaView& right = places[reading.left_eye_first ? 1 : 0];
        measurements.add(analyzer.measure(left, right), sample.seconds, sample.position, sampler);
        if (!decoding) {
            progress.update(++samples);
        }
    }
    progress.update(decoding ? sampler.frames_decoded() : samples, true);
    reading.frames_decoded = sampler.frames_decoded();

    AnalysisAccumulator accumulator(analyzer, arguments.frames);
    measurements.add_to(accumulator);
    const AnalysisSummary summary = accumulator.summarize();
    // The alignment reads side-by-side frames: other packings are put side
    // by side first (ab-to-sbs, deinterlace), the left eye then on the left.
    const bool side_by_side = reading.layout->packing() == StereoPacking::SideBySide;
    const FrameSize frame =
        side_by_side ? FrameSize{reading.width, reading.height} : FrameSize{2 * reading.width, reading.height / 2};
    // Side by side, the alignment reads INPUT's own halves (--swap moves
    // only where it writes them); the packing step puts the metadata's left
    // eye on the left, the user's --swap being left to the last step.
    const SettingsProposal proposal =
        propose_settings(summary, frame, side_by_side ? reading.left_eye_first : !arguments.swap, reading.view_aspect);
    const std::vector<ProposedCommand> commands = proposed_commands(reading, proposal);
    if (arguments.json) {
        write_json(reading, summary, proposal, commands);
    } else {
        print_summary(reading, summary, proposal, commands);
    }
}

}  // namespace

int run_analyze_job(std::span<const std::string_view> args) {
    const AnalyzeArguments arguments = parse_analyze_arguments(args);
    if (arguments.help) {
        write_analyze_help(*text_help_writer(stdout), true);
        return 0;
    }
    analyze(arguments);
    return 0;
}

}  // namespace ocuvex::cli
