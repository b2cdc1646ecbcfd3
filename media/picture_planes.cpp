#include "media/picture_planes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "media/libav.h"
#include "media/libav_compat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

constexpr std::uint64_t kNotPlanes = AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL |
                                     AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;

bool has_alpha(const AVPixFmtDescriptor* desc) { return (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0; }

// Components 1 and 2 of a YUV format with chroma.
bool is_chroma(const AVPixFmtDescriptor* desc, int component) {
    return (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && desc->nb_components >= 3 && (component == 1 || component == 2);
}

bool is_native_endian(const AVPixFmtDescriptor* desc) {
    const bool big = (desc->flags & AV_PIX_FMT_FLAG_BE) != 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return big || desc->comp[0].depth <= 8;
#else
    return !big;
#endif
}

// The format among `candidates` that FFmpeg's own scoring finds nearest,
// of the same depth where one is: the scoring sees no loss in 16 bits for
// 10 and would take whichever comes first.
AVPixelFormat best_of(std::vector<AVPixelFormat>& candidates, AVPixelFormat format) {
    const AVPixFmtDescriptor* source = av_pix_fmt_desc_get(format);
    if (source == nullptr) {
        return AV_PIX_FMT_NONE;
    }
    const int depth = source->comp[0].depth;
    const auto other_depth = [depth](AVPixelFormat candidate) {
        return av_pix_fmt_desc_get(candidate)->comp[0].depth != depth;
    };
    if (!std::all_of(candidates.begin(), candidates.end(), other_depth)) {
        std::erase_if(candidates, other_depth);
    }
    if (candidates.empty()) {
        return AV_PIX_FMT_NONE;
    }
    candidates.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(candidates.data(), format, has_alpha(av_pix_fmt_desc_get(format)) ? 1 : 0,
                                             nullptr);
}

template <typename Accept>
std::vector<AVPixelFormat> plane_formats_where(Accept accept) {
    std::vector<AVPixelFormat> formats;
    for (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_next(nullptr); desc != nullptr;
         desc = av_pix_fmt_desc_next(desc)) {
        const AVPixelFormat format = av_pix_fmt_desc_get_id(desc);
        if (is_native_endian(desc) && plane_layout(format) && accept(desc)) {
            formats.push_back(format);
        }
    }
    return formats;
}

// Luma weights of a YUV matrix.
struct LumaWeights {
    double red;
    double blue;
};

LumaWeights luma_weights(AVColorSpace matrix) {
    switch (matrix) {
    case AVCOL_SPC_BT709:
        return {0.2126, 0.0722};
    case AVCOL_SPC_FCC:
        return {0.30, 0.11};
    case AVCOL_SPC_SMPTE240M:
        return {0.212, 0.087};
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return {0.2627, 0.0593};
    default:
        // BT.601 (BT470BG, SMPTE170M), and what FFmpeg assumes when unknown.
        return {0.299, 0.114};
    }
}

// An integer sample of `depth` bits for `value` in [0, 1] (luma, RGB) or in
// [-0.5, 0.5] (chroma), in full or limited range.
std::uint16_t quantize(double value, int depth, bool chroma, bool full) {
    const double max = std::ldexp(1.0, depth) - 1;
    double sample = 0;
    if (full) {
        sample = max * value + (chroma ? std::ldexp(1.0, depth - 1) : 0.0);
    } else {
        sample = ((chroma ? 224.0 : 219.0) * value + (chroma ? 128.0 : 16.0)) * std::ldexp(1.0, depth - 8);
    }
    return static_cast<std::uint16_t>(std::clamp(std::floor(sample + 0.5), 0.0, max));
}

}  // namespace

std::optional<PlaneLayout> plane_layout(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr || (desc->flags & kNotPlanes) != 0 || is_xyz_format(desc)) {
        return std::nullopt;
    }
    const int count = av_pix_fmt_count_planes(format);
    if (count < 1 || count > 4) {
        return std::nullopt;
    }
    const bool subsampled = desc->log2_chroma_w != 0 || desc->log2_chroma_h != 0;
    PlaneLayout layout;
    layout.count = count;
    for (int plane = 0; plane < count; ++plane) {
        int step = 0;
        bool chroma = false;
        bool other = false;
        for (int c = 0; c < desc->nb_components; ++c) {
            const AVComponentDescriptor& component = desc->comp[c];
            if (component.plane != plane) {
                continue;
            }
            if (step != 0 && component.step != step) {
                return std::nullopt;
            }
            step = component.step;
            (is_chroma(desc, c) ? chroma : other) = true;
        }
        // One element per pixel pair of YUYV would be needed: not a layout of planes.
        if (step < 1 || step > kMaxElementBytes || (chroma && other && subsampled)) {
            return std::nullopt;
        }
        layout.planes[plane] = PlaneFormat{step, chroma ? desc->log2_chroma_w : 0, chroma ? desc->log2_chroma_h : 0};
    }
    return layout;
}

bool fits_planes(const CopyPlan& plan, const PlaneLayout& layout) {
    for (int plane = 0; plane < layout.count; ++plane) {
        const PlaneFormat& format = layout.planes[plane];
        if (!fits_plane_grid(plan, format.shift_x, format.shift_y)) {
            return false;
        }
    }
    return true;
}

AVPixelFormat nearest_plane_format(AVPixelFormat format) {
    std::vector<AVPixelFormat> candidates = plane_formats_where([](const AVPixFmtDescriptor*) { return true; });
    return best_of(candidates, format);
}

AVPixelFormat nearest_full_chroma_format(AVPixelFormat format) {
    const AVPixFmtDescriptor* source = av_pix_fmt_desc_get(format);
    if (source == nullptr) {
        return AV_PIX_FMT_NONE;
    }
    std::vector<AVPixelFormat> candidates = plane_formats_where([source](const AVPixFmtDescriptor* desc) {
        const bool planar = av_pix_fmt_count_planes(av_pix_fmt_desc_get_id(desc)) == desc->nb_components;
        return (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && desc->nb_components >= 3 && planar &&
               desc->log2_chroma_w == 0 && desc->log2_chroma_h == 0 && desc->comp[0].depth >= source->comp[0].depth;
    });
    return best_of(candidates, format);
}

FillElements fill_elements(std::uint32_t rgb, AVPixelFormat format, const ColourDescription& colour) {
    FillElements fill;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const std::optional<PlaneLayout> layout = plane_layout(format);
    if (desc == nullptr || !layout) {
        return fill;
    }
    const double r = ((rgb >> 16) & 0xFF) / 255.0;
    const double g = ((rgb >> 8) & 0xFF) / 255.0;
    const double b = (rgb & 0xFF) / 255.0;
    // Each component as a number in [0, 1], chroma in [-0.5, 0.5].
    std::array<double, 4> values{};
    if (is_rgb(format)) {
        values = {r, g, b, 1.0};
    } else if (colour.matrix == AVCOL_SPC_YCGCO) {
        values = {0.25 * r + 0.5 * g + 0.25 * b, -0.25 * r + 0.5 * g - 0.25 * b, 0.5 * r - 0.5 * b, 1.0};
    } else {
        const LumaWeights weights = luma_weights(colour.matrix);
        const double luma = weights.red * r + (1 - weights.red - weights.blue) * g + weights.blue * b;
        values = {luma, (b - luma) / (2 * (1 - weights.blue)), (r - luma) / (2 * (1 - weights.red)), 1.0};
    }
    // Alpha is the last component (the second of gray with alpha).
    const int alpha = has_alpha(desc) ? desc->nb_components - 1 : -1;
    const bool full = effective_range(format, colour.range) == AVCOL_RANGE_JPEG;

    // Written by FFmpeg into a picture of one pixel, which knows every
    // format's component order, bit packing and byte order.
    FramePtr pixel = allocate_frame();
    pixel->format = format;
    pixel->width = 1;
    pixel->height = 1;
    check_memory(av_frame_get_buffer(pixel.get(), 0));
    for (int plane = 0; plane < layout->count; ++plane) {
        std::memset(pixel->data[plane], 0, static_cast<std::size_t>(layout->planes[plane].element_bytes));
    }
    for (int c = 0; c < desc->nb_components; ++c) {
        const bool chroma = is_chroma(desc, c);
        const int depth = desc->comp[c].depth;
        const std::uint16_t sample =
            c == alpha ? static_cast<std::uint16_t>((1U << depth) - 1)
                       : quantize(values[static_cast<std::size_t>(c)], depth, chroma, full || is_rgb(format));
        av_write_image_line2(&sample, pixel->data, pixel->linesize, desc, 0, 0, c, 1, 2);
    }
    for (int plane = 0; plane < layout->count; ++plane) {
        std::memcpy(fill.planes[static_cast<std::size_t>(plane)].data(), pixel->data[plane],
                    static_cast<std::size_t>(layout->planes[plane].element_bytes));
    }
    return fill;
}

void fill_black(AVFrame* picture) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    ptrdiff_t linesizes[4] = {};
    for (int plane = 0; plane < 4; ++plane) {
        linesizes[plane] = picture->linesize[plane];
    }
    if (av_image_fill_black(picture->data, linesizes, format, effective_range(format, picture->color_range),
                            picture->width, picture->height) >= 0) {
        return;
    }
    // Formats FFmpeg has no black for: zero bytes.
    const std::optional<PlaneLayout> layout = plane_layout(format);
    for (int plane = 0; layout && plane < layout->count; ++plane) {
        const PlaneFormat& shape = layout->planes[plane];
        const FrameSize size = plane_size({picture->width, picture->height}, shape.shift_x, shape.shift_y);
        for (int row = 0; row < size.h; ++row) {
            std::memset(picture->data[plane] + static_cast<std::ptrdiff_t>(row) * picture->linesize[plane], 0,
                        static_cast<std::size_t>(size.w) * shape.element_bytes);
        }
    }
}

bool run_planes(const CopyPlan& plan, const PlaneLayout& layout, const FillElements& fill, const AVFrame* source,
                AVFrame* destination) {
    // Each plane seen bottom-up: its last row first, through the negated line size.
    const auto bottom_up = [](const AVFrame* picture, int plane, FrameSize size) {
        const int pitch = picture->linesize[plane];
        std::uint8_t* data = picture->data[plane];
        if (size.h > 0 && data != nullptr) {
            data += static_cast<std::ptrdiff_t>(pitch) * (size.h - 1);
        }
        return PlaneView{data, -pitch};
    };
    for (int plane = 0; plane < layout.count; ++plane) {
        const PlaneFormat& format = layout.planes[plane];
        const FrameSize source_size = plane_size(plan.src, format.shift_x, format.shift_y);
        const FrameSize destination_size = plane_size(plan.dst, format.shift_x, format.shift_y);
        if (!run_plane_plan(plan, format, fill.planes[static_cast<std::size_t>(plane)].data(),
                            bottom_up(source, plane, source_size), bottom_up(destination, plane, destination_size))) {
            return false;
        }
    }
    return true;
}

}  // namespace ocuvex::media
