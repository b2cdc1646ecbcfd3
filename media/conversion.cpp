#include "media/conversion.h"

#include "core/frame_conversion.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// A top-down picture as the core sees frames: bottom-up, through a negative
// pitch.
FrameView bottom_up_view(const AVFrame* picture) {
    const int pitch = picture->linesize[0];
    return make_frame_view(picture->data[0] + static_cast<std::ptrdiff_t>(pitch) * (picture->height - 1),
                           picture->width, picture->height, -pitch);
}

std::string format_name(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "unknown";
}

}  // namespace

ConversionPlan plan_conversion(const FilterSettings& settings, const AVFrame* first, FrameSize output) {
    ConversionPlan plan;
    plan.settings = settings;
    plan.source = FrameSize{first->width, first->height};
    plan.pictures.w = output.w;
    plan.pictures.h = output.h;
    const auto source_format = static_cast<AVPixelFormat>(first->format);
    const ColourDescription source_colour = colour_of(first);
    if (settings.mode == MODE_ANAGLYPH) {
        // Into 8-bit RGB with the source's matrix and range (the graph reads
        // them from each frame), out with the output's.
        plan.pictures.format = kCorePixelFormat;
        plan.pictures.file_formats = kCorePixelFileFormats;
        plan.pictures.colour.primaries = source_colour.primaries;
        plan.pictures.colour.transfer = source_colour.transfer;
        plan.pictures.yuv_matrix = is_rgb(source_format) ? AVCOL_SPC_UNSPECIFIED : source_colour.matrix;
        if (const std::string numbers = wide_gamut_or_hdr(source_colour); !numbers.empty()) {
            plan.notes.push_back(Notice{true, "the anaglyph is defined on pixel values, and these are " + numbers +
                                                  " ones: its colours will be off (convert the source to SDR BT.709 "
                                                  "first)"});
        }
        return plan;
    }
    plan.copies = plan_copies(settings, plan.source, output);
    AVPixelFormat format = source_format;
    plan.pictures.colour = source_colour;
    if (!plane_layout(format)) {
        format = nearest_plane_format(format);
        plan.notes.push_back(Notice{false, format_name(source_format) + " pictures cannot be moved plane by plane; " +
                                               "they are converted once to " + format_name(format)});
    }
    std::optional<PlaneLayout> layout = plane_layout(format);
    if (layout && !fits_planes(plan.copies, *layout)) {
        const AVPixelFormat full = nearest_full_chroma_format(format);
        plan.notes.push_back(Notice{false, "these settings do not fall on " + format_name(format) +
                                               "'s chroma samples; the pictures are converted once to " +
                                               format_name(full) +
                                               ", so that no chroma moves by part of a sample, and written in " +
                                               format_name(format) + " where the encoder takes it"});
        // The file stays in the format it would have had: players take 4:2:0.
        plan.pictures.file_formats = {format};
        format = full;
        layout = plane_layout(format);
        plan.pictures.colour.chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    }
    if (!layout) {
        throw MediaError("cannot convert " + format_name(source_format) + " pictures plane by plane");
    }
    plan.pictures.format = format;
    plan.planes = layout;
    plan.fill = fill_elements(settings.fill_color, format, plan.pictures.colour);
    return plan;
}

PictureConverter::PictureConverter(const ConversionPlan& plan)
    : plan_(plan),
      to_source_shape_(ScaleTarget{plan.source.w, plan.source.h, plan.pictures.format,
                                   colour_options(AV_PIX_FMT_NONE, {}, plan.pictures.format, plan.pictures.colour)}) {}

void PictureConverter::convert(const AVFrame* picture, AVFrame* destination) {
    const AVFrame* source = to_source_shape_.convert(picture);
    if (plan_.planes) {
        if (!run_planes(plan_.copies, *plan_.planes, plan_.fill, source, destination)) {
            throw MediaError("cannot convert " + format_name(plan_.pictures.format) + " pictures of " +
                             std::to_string(source->width) + "x" + std::to_string(source->height) +
                             ": a plane does not take the conversion");
        }
    } else {
        convert_frame(plan_.settings, bottom_up_view(source), bottom_up_view(destination), plan_.coefficients);
    }
}

}  // namespace ocuvex::media
