// `ocuvex raw` and `ocuvex geometry`: frames of packed 32-bit pixels on
// standard input converted to standard output, and the planned output size.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/display_shape.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "core/settings_fields.h"
#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/help.h"
#include "tools/ocuvex/json_writer.h"
#include "tools/ocuvex/raw_frame_io.h"
#include "tools/ocuvex/settings_options.h"

namespace ocuvex::cli {

namespace {

// Frames larger than this are refused rather than half-allocated.
constexpr std::int64_t kMaxFrameBytes = std::int64_t{1} << 30;

struct RawArguments {
    FrameSize size;
    bool have_size = false;
    SettingsOptions options;
    bool help = false;
    // geometry's: the source's pixel aspect and the packings
    Ratio sample_aspect{1, 1};
    PackingChoice packing;
};

// The options of raw and geometry besides the settings.
constexpr CommandOption<RawArguments> kRawOptions[] = {
    {{"--size", "", "WxH", "the width and height of the source frames, in pixels (required)"},
     [](RawArguments& arguments, std::string_view option, std::string_view value) {
         arguments.size = parse_frame_size(value, option);
         arguments.have_size = true;
     }},
    {{"--help", "-h", "", "print this help"},
     [](RawArguments& arguments, std::string_view, std::string_view) { arguments.help = true; }},
};

// geometry's options besides raw's: what the frames' aspect follows from.
constexpr CommandOption<RawArguments> kGeometryOptions[] = {
    {{"--sar", "", "N:M", "the source's pixel (sample) aspect ratio, e.g. 16:15; default 1:1"},
     [](RawArguments& arguments, std::string_view option, std::string_view value) {
         arguments.sample_aspect = parse_ratio(value, option);
     }},
};

RawArguments parse_arguments(std::span<const std::string_view> args, const char* command, bool aspect) {
    RawArguments parsed;
    ArgumentCursor cursor(args);
    while (!cursor.done()) {
        if (!take_command_option<RawArguments>(cursor, kRawOptions, parsed) &&
            !(aspect && (take_command_option<RawArguments>(cursor, kGeometryOptions, parsed) ||
                         take_packing_option(cursor, parsed.packing))) &&
            !take_settings_option(cursor, parsed.options)) {
            throw UsageError(std::string(command) + ": unknown option '" + printable(cursor.peek()) + "'");
        }
    }
    if (!parsed.have_size && !parsed.help) {
        throw UsageError(std::string(command) + ": --size WxH is required");
    }
    return parsed;
}

void write_options_help(HelpWriter& out, bool with_settings, bool aspect) {
    out.heading("Options");
    for (const CommandOption<RawArguments>& option : kRawOptions) {
        out.option(option.text);
        // geometry's own after --size, before --help
        for (std::size_t i = 0; aspect && &option == kRawOptions && i < std::size(kGeometryOptions); ++i) {
            out.option(kGeometryOptions[i].text);
        }
    }
    if (with_settings) {
        write_settings_help(out);
        if (aspect) {
            write_packing_help(out);
        }
    }
}

// "aspect": how the output displays (the anaglyph has no packing: null).
void write_aspect(JsonWriter& json, const DisplayAspect& a) {
    json.begin_object("aspect");
    json.string("input_layout", layout_name(a.input_layout));
    json.string("input_packing", packing_name(a.input_packing));
    json.string("view_aspect", ratio_text(a.view_aspect));
    json.string("output_layout", layout_name(a.output_layout));
    if (a.output_layout == ViewLayout::Single) {
        json.null("output_packing");
    } else {
        json.string("output_packing", packing_name(a.output_packing));
    }
    json.integer("width", a.size.w);
    json.integer("height", a.size.h);
    json.boolean("squeezed", a.squeezed);
    json.string("sample_aspect", ratio_text(a.sample_aspect));
    json.string("display_aspect", ratio_text(a.frame_aspect));
    json.end_object();
}

}  // namespace

void write_raw_help(HelpWriter& out, bool with_settings) {
    out.usage("ocuvex raw --size WxH [settings] < in > out");
    out.paragraph(
        "Converts frames of W x H pixels, 4 bytes each (B, G, R, X), top row first,\n"
        "from standard input to standard output in the same layout.");
    write_options_help(out, with_settings, false);
}

void write_geometry_help(HelpWriter& out, bool with_settings) {
    out.usage("ocuvex geometry --size WxH [--sar N:M] [--half] [--output-packing full|half] [settings]");
    out.paragraph(
        "Prints the output width, height and pitch, the settings after correction, and how the output displays\n"
        "(\"aspect\": how the mode reads INPUT and its packing, the shape each view displays at, the output's\n"
        "layout and packing, its size after any squeeze, its pixel and display aspect ratios), as JSON.");
    write_options_help(out, with_settings, true);
}

int run_raw(std::span<const std::string_view> args) {
    const RawArguments parsed = parse_arguments(args, "raw", false);
    if (parsed.help) {
        write_raw_help(*text_help_writer(stdout), true);
        return 0;
    }
    const FrameSize size = parsed.size;
    if (size.w == 0 || size.h == 0 || std::int64_t{size.w} * size.h * 4 > kMaxFrameBytes) {
        throw UsageError("raw: --size must be at least 1x1 and at most 1 GiB a frame");
    }
    FilterSettings settings = parsed.options.settings;
    const OutputGeometry out = compute_output_geometry(settings, size.w, size.h);
    report_corrections(parsed.options.settings, settings, size);
    // Centering can widen a frame to half a billion pixels: refuse rather than allocate gigabytes.
    if (std::int64_t{out.pitch} * out.h > kMaxFrameBytes) {
        throw UsageError("raw: the output frame would be larger than 1 GiB");
    }

    // Both frames are top-down buffers seen bottom-up through a negative
    // pitch, as the host hands them over. The destination keeps the host's
    // padded pitch. It is zeroed once: every frame the plan writes the same
    // pixels, so those it never writes stay 0 without clearing it again.
    const std::int32_t in_row_bytes = 4 * size.w;
    const std::size_t in_frame_bytes = static_cast<std::size_t>(in_row_bytes) * size.h;
    const auto out_row_bytes = static_cast<std::size_t>(out.w) * 4;
    const MappedRegion out_buffer = allocate_frame_buffer(static_cast<std::size_t>(out.pitch) * out.h);
    const FrameView dst = make_frame_view(
        out.h == 0 ? out_buffer.data() : out_buffer.data() + static_cast<std::size_t>(out.pitch) * (out.h - 1), out.w,
        out.h, -out.pitch);
    FrameReader reader(STDIN_FILENO, in_frame_bytes);
    FrameWriter writer(STDOUT_FILENO, out_row_bytes * out.h);

    while (const std::uint8_t* frame = reader.next()) {
        // The conversion only reads the source; its view type takes writable memory.
        auto* const last_row = const_cast<std::uint8_t*>(frame) + static_cast<std::size_t>(in_row_bytes) * (size.h - 1);
        convert_frame(settings, make_frame_view(last_row, size.w, size.h, -in_row_bytes), dst,
                      parsed.options.coefficients);
        if (!writer.write_rows(out_buffer.data(), out_row_bytes, out.pitch, static_cast<std::size_t>(out.h))) {
            std::fprintf(stderr, "ocuvex: raw: cannot write to standard output: %s\n", std::strerror(errno));
            return 1;
        }
    }
    if (reader.cut_short()) {
        std::fprintf(stderr, "ocuvex: raw: cannot read standard input: the file was cut short while being read\n");
        return 1;
    }
    if (reader.error() != 0) {
        std::fprintf(stderr, "ocuvex: raw: cannot read standard input: %s\n", std::strerror(reader.error()));
        return 1;
    }
    if (reader.partial_bytes() != 0) {
        std::fprintf(stderr, "ocuvex: raw: input ends with a partial frame: %zu of %zu bytes\n", reader.partial_bytes(),
                     in_frame_bytes);
        return 2;
    }
    return 0;
}

int run_geometry(std::span<const std::string_view> args) {
    const RawArguments parsed = parse_arguments(args, "geometry", true);
    if (parsed.help) {
        write_geometry_help(*text_help_writer(stdout), true);
        return 0;
    }
    if (const std::string problem = packing_problem(parsed.packing, parsed.options.settings.mode); !problem.empty()) {
        throw UsageError(problem);
    }
    FilterSettings s = parsed.options.settings;
    const OutputGeometry out = compute_output_geometry(s, parsed.size.w, parsed.size.h);
    report_corrections(parsed.options.settings, s, parsed.size);
    const DisplayAspect aspect = display_aspect(s, parsed.size, {out.w, out.h}, parsed.sample_aspect, parsed.packing);
    JsonWriter json;
    json.begin_object();
    json.integer("width", out.w);
    json.integer("height", out.h);
    json.integer("pitch", out.pitch);
    json.begin_object("settings");
    for (const SettingsField& field : kSettingsFields) {
        json.integer(field.name, field_value(field, s));
    }
    json.end_object();
    write_aspect(json, aspect);
    json.end_object();
    std::printf("%s\n", json.text().c_str());
    return 0;
}

}  // namespace ocuvex::cli
