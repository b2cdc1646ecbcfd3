#include "tools/ocuvex/media_conversion.h"

#include "core/frame_conversion.h"
#include "tools/ocuvex/libav_compat.h"
#include "tools/ocuvex/media_pixels.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::cli {

namespace {

// A top-down picture seen bottom-up through a negative pitch, as the host
// hands frames over.
FrameView bottom_up_view(const AVFrame* picture) {
    const int pitch = picture->linesize[0];
    return make_frame_view(picture->data[0] + static_cast<std::ptrdiff_t>(pitch) * (picture->height - 1),
                           picture->width, picture->height, -pitch);
}

std::string format_name(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "unknown";
}

// What makes the anaglyph of these numbers questionable, e.g. "BT.2020 HDR (PQ)".
std::string wide_gamut_or_hdr_text(const ColourDescription& colour) {
    std::string text;
    if (colour.primaries == AVCOL_PRI_BT2020 || colour.matrix == AVCOL_SPC_BT2020_NCL ||
        colour.matrix == AVCOL_SPC_BT2020_CL) {
        text = "BT.2020";
    }
    if (colour.transfer == AVCOL_TRC_SMPTE2084 || colour.transfer == AVCOL_TRC_ARIB_STD_B67) {
        text += std::string(text.empty() ? "" : " ") + "HDR (" +
                (colour.transfer == AVCOL_TRC_SMPTE2084 ? "PQ" : "HLG") + ")";
    }
    return text;
}

}  // namespace

ConversionPlan plan_conversion(const FilterSettings& settings, const AVFrame* first, FrameSize output) {
    ConversionPlan plan;
    plan.settings = settings;
    plan.source = FrameSize{first->width, first->height};
    plan.output = output;
    const auto source_format = static_cast<AVPixelFormat>(first->format);
    const ColourDescription source_colour = colour_of(first);
    if (settings.mode == MODE_ANAGLYPH) {
        // Into 8-bit RGB with the source's matrix and range (the graph reads
        // them from each frame), out with the output's.
        plan.format = AV_PIX_FMT_BGR0;
        plan.colour.primaries = source_colour.primaries;
        plan.colour.transfer = source_colour.transfer;
        plan.yuv_matrix = is_rgb(source_format) ? AVCOL_SPC_UNSPECIFIED : source_colour.matrix;
        if (is_wide_gamut_or_hdr(source_colour)) {
            plan.notes.push_back("warning: the anaglyph is defined on pixel values, and these are " +
                                 wide_gamut_or_hdr_text(source_colour) +
                                 " ones: its colours will be off (convert the source to SDR BT.709 first)");
        }
        return plan;
    }
    plan.copies = plan_copies(settings, plan.source, output);
    AVPixelFormat format = source_format;
    plan.colour = source_colour;
    if (!plane_layout(format)) {
        format = nearest_plane_format(format);
        plan.notes.push_back("note: " + format_name(source_format) + " pictures cannot be moved plane by plane; " +
                             "they are converted once to " + format_name(format));
    }
    std::optional<PlaneLayout> layout = plane_layout(format);
    if (layout && !fits_planes(plan.copies, *layout)) {
        const AVPixelFormat full = nearest_full_chroma_format(format);
        plan.notes.push_back("note: these settings do not fall on " + format_name(format) +
                             "'s chroma samples; the pictures are converted once to " + format_name(full) +
                             ", so that no chroma moves by part of a sample");
        format = full;
        layout = plane_layout(format);
        plan.colour.chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    }
    if (!layout) {
        throw MediaError("cannot convert " + format_name(source_format) + " pictures plane by plane");
    }
    plan.format = format;
    plan.planes = layout;
    plan.fill = fill_elements(settings.fill_color, format, plan.colour);
    return plan;
}

void describe_pictures(const ConversionPlan& plan, VideoSettings& video) {
    video.w = plan.output.w;
    video.h = plan.output.h;
    video.source_format = plan.planes ? plan.format : AV_PIX_FMT_NONE;
    video.colour = plan.colour;
    video.yuv_matrix = plan.yuv_matrix;
}

std::int64_t convert_frames(MediaReader& reader, MediaWriter& writer, const ConversionPlan& plan,
                            std::int64_t max_frames, const std::function<void(std::int64_t)>& on_frame) {
    // Frames in the first one's size and format pass untouched; others are
    // converted into them (with the first one's colour description).
    PixelGraph to_core(PixelTarget{plan.source.w, plan.source.h, plan.format,
                                   colour_options(AV_PIX_FMT_NONE, {}, plan.format, plan.colour)});
    const AVRational time_base = reader.video_stream()->time_base;
    std::int64_t written = 0;
    while (max_frames == 0 || written < max_frames) {
        switch (reader.next()) {
        case MediaReader::Event::VideoFrame: {
            const AVFrame* decoded = reader.frame();
            const AVFrame* source = to_core.convert(decoded);
            AVFrame* destination = writer.next_picture();
            if (plan.planes) {
                if (!run_planes(plan.copies, *plan.planes, plan.fill, source, destination)) {
                    throw MediaError("cannot convert " + format_name(plan.format) + " pictures of " +
                                     std::to_string(source->width) + "x" + std::to_string(source->height) +
                                     ": a plane does not take the conversion");
                }
            } else {
                convert_frame(plan.settings, bottom_up_view(source), bottom_up_view(destination), plan.coefficients);
            }
            if (writer.write_picture(decoded->pts, frame_duration(decoded), time_base)) {
                ++written;
                if (on_frame) {
                    on_frame(written);
                }
            }
            break;
        }
        case MediaReader::Event::Packet:
            writer.write_packet(reader.packet());
            break;
        case MediaReader::Event::End:
            return written;
        }
    }
    return written;
}

}  // namespace ocuvex::cli
