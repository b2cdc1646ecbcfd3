#include "media/picture_colour.h"

#include <cstring>
#include <string_view>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// `tag` when FFmpeg names its number; `unspecified` otherwise. The number is
// read as an int, as the enum may hold anything a decoder stored in it.
template <typename Tag>
void forget_if_unknown(Tag& tag, int count, const char* (*name_of)(Tag), Tag unspecified) {
    static_assert(sizeof(Tag) == sizeof(int));
    int number = 0;
    std::memcpy(&number, &tag, sizeof number);
    if (number < 0 || number >= count || name_of(static_cast<Tag>(number)) == nullptr) {
        tag = unspecified;
    }
}

}  // namespace

void forget_unknown_colour_tags(AVFrame* picture) {
    forget_if_unknown(picture->colorspace, AVCOL_SPC_NB, av_color_space_name, AVCOL_SPC_UNSPECIFIED);
    forget_if_unknown(picture->color_range, AVCOL_RANGE_NB, av_color_range_name, AVCOL_RANGE_UNSPECIFIED);
    forget_if_unknown(picture->color_primaries, AVCOL_PRI_NB, av_color_primaries_name, AVCOL_PRI_UNSPECIFIED);
    forget_if_unknown(picture->color_trc, AVCOL_TRC_NB, av_color_transfer_name, AVCOL_TRC_UNSPECIFIED);
    forget_if_unknown(picture->chroma_location, AVCHROMA_LOC_NB, av_chroma_location_name, AVCHROMA_LOC_UNSPECIFIED);
}

ColourDescription colour_of(const AVFrame* picture) {
    return ColourDescription{picture->colorspace, picture->color_range, picture->color_primaries, picture->color_trc,
                             picture->chroma_location};
}

void set_colour(AVFrame* picture, const ColourDescription& colour) {
    picture->colorspace = colour.matrix;
    picture->color_range = colour.range;
    picture->color_primaries = colour.primaries;
    picture->color_trc = colour.transfer;
    picture->chroma_location = colour.chroma_location;
}

bool is_rgb(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

bool is_jpeg_yuv(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && std::string_view(desc->name).starts_with("yuvj");
}

AVColorRange effective_range(AVPixelFormat format, AVColorRange range) {
    if (range == AVCOL_RANGE_MPEG || range == AVCOL_RANGE_JPEG) {
        return range;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr) {
        return AVCOL_RANGE_MPEG;
    }
    // As FFmpeg's scaler takes them: gray is full range too.
    const bool gray = desc->nb_components < 3;
    return is_rgb(format) || gray || is_jpeg_yuv(format) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
}

std::string wide_gamut_or_hdr(const ColourDescription& colour) {
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

ColourDescription converted_colour(AVPixelFormat from_format, const ColourDescription& from, AVPixelFormat to_format,
                                   AVColorSpace yuv_matrix) {
    ColourDescription out = from;
    const AVPixFmtDescriptor* in = av_pix_fmt_desc_get(from_format);
    const AVPixFmtDescriptor* to = av_pix_fmt_desc_get(to_format);
    if (in == nullptr || to == nullptr) {
        return out;
    }
    if (in->log2_chroma_w != to->log2_chroma_w || in->log2_chroma_h != to->log2_chroma_h) {
        out.chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    }
    const bool rgb_in = is_rgb(from_format);
    if (is_rgb(to_format)) {
        if (!rgb_in) {
            out.matrix = AVCOL_SPC_RGB;
            out.range = AVCOL_RANGE_JPEG;
        }
    } else if (is_jpeg_yuv(to_format)) {
        // JFIF: BT.601, full range, whatever the pictures were.
        out.matrix = AVCOL_SPC_BT470BG;
        out.range = AVCOL_RANGE_JPEG;
    } else if (rgb_in) {
        const bool chosen = yuv_matrix != AVCOL_SPC_UNSPECIFIED;
        out.matrix = chosen ? yuv_matrix : AVCOL_SPC_BT709;
        out.range = AVCOL_RANGE_MPEG;
        if (!chosen && out.primaries == AVCOL_PRI_UNSPECIFIED) {
            out.primaries = AVCOL_PRI_BT709;
        }
        if (!chosen && out.transfer == AVCOL_TRC_UNSPECIFIED) {
            out.transfer = AVCOL_TRC_BT709;
        }
    }
    return out;
}

}  // namespace ocuvex::media
