#include "media/scale_graph.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

[[noreturn]] void fail(const AVFrame* picture, const std::string& step, int code) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format));
    throw MediaError("cannot convert " + std::string(name != nullptr ? name : "unknown") + " pictures of " +
                     std::to_string(picture->width) + "x" + std::to_string(picture->height) + " (" + step +
                     "): " + av_error_text(code));
}

// Sets an option of the buffer source that only newer FFmpeg has (the
// colour description, which FFmpeg 7.1 negotiates along the graph).
int set_if_known(AVFilterContext* filter, const char* name, std::int64_t value) {
    const int status = av_opt_set_int(filter, name, value, AV_OPT_SEARCH_CHILDREN);
    return status == AVERROR_OPTION_NOT_FOUND ? 0 : status;
}

// The scale filter's name of a YUV matrix; null for those it has no name for.
const char* scale_matrix_name(AVColorSpace matrix) {
    switch (matrix) {
    case AVCOL_SPC_BT709:
        return "bt709";
    case AVCOL_SPC_FCC:
        return "fcc";
    case AVCOL_SPC_BT470BG:
        return "bt470";
    case AVCOL_SPC_SMPTE170M:
        return "smpte170m";
    case AVCOL_SPC_SMPTE240M:
        return "smpte240m";
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return "bt2020";
    default:
        return nullptr;
    }
}

const char* scale_range_name(AVColorRange range) {
    switch (range) {
    case AVCOL_RANGE_MPEG:
        return "tv";
    case AVCOL_RANGE_JPEG:
        return "pc";
    default:
        return nullptr;
    }
}

}  // namespace

std::string colour_options(AVPixelFormat from_format, const ColourDescription& from, AVPixelFormat to_format,
                           const ColourDescription& to) {
    std::string options;
    const auto add = [&options](const char* key, const char* value) {
        if (value != nullptr) {
            options += (options.empty() ? "" : ":") + std::string(key) + "=" + value;
        }
    };
    if (!is_rgb(from_format)) {
        add("in_color_matrix", scale_matrix_name(from.matrix));
        add("in_range", scale_range_name(from.range));
    }
    if (!is_rgb(to_format)) {
        add("out_color_matrix", scale_matrix_name(to.matrix));
        add("out_range", scale_range_name(to.range));
    }
    return options;
}

PixelGraph::SourceShape PixelGraph::shape_of(const AVFrame* picture) {
    return SourceShape{picture->width, picture->height, picture->format, picture->colorspace, picture->color_range};
}

const AVFrame* PixelGraph::convert(const AVFrame* picture) {
    if (picture->width == target_.w && picture->height == target_.h && picture->format == target_.format) {
        return picture;
    }
    if (graph_ == nullptr || !(shape_of(picture) == shape_)) {
        build(picture);
    }
    av_frame_unref(output_.get());
    int status = av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(picture), AV_BUFFERSRC_FLAG_KEEP_REF);
    if (status < 0) {
        fail(picture, "feeding the graph", status);
    }
    status = av_buffersink_get_frame(sink_, output_.get());
    if (status < 0) {
        fail(picture, "taking the graph's output", status);
    }
    return output_.get();
}

void PixelGraph::build(const AVFrame* picture) {
    graph_.reset();
    source_ = sink_ = nullptr;
    graph_.reset(avfilter_graph_alloc());
    if (graph_ == nullptr) {
        throw MediaError("out of memory");
    }
    AVFilterGraph* graph = graph_.get();
    source_ = avfilter_graph_alloc_filter(graph, avfilter_get_by_name("buffer"), "source");
    if (source_ == nullptr) {
        throw MediaError("out of memory");
    }
    const AVRational aspect = picture->sample_aspect_ratio.num > 0 ? picture->sample_aspect_ratio : AVRational{1, 1};
    int status = av_opt_set_int(source_, "width", picture->width, AV_OPT_SEARCH_CHILDREN);
    const auto then = [&status](int next) { status = status < 0 ? status : next; };
    then(av_opt_set_int(source_, "height", picture->height, AV_OPT_SEARCH_CHILDREN));
    then(av_opt_set_pixel_fmt(source_, "pix_fmt", static_cast<AVPixelFormat>(picture->format), AV_OPT_SEARCH_CHILDREN));
    then(av_opt_set_q(source_, "time_base", AVRational{1, 1}, AV_OPT_SEARCH_CHILDREN));
    then(av_opt_set_q(source_, "pixel_aspect", aspect, AV_OPT_SEARCH_CHILDREN));
    then(set_if_known(source_, "colorspace", picture->colorspace));
    then(set_if_known(source_, "range", picture->color_range));
    then(avfilter_init_str(source_, nullptr));
    if (status < 0) {
        fail(picture, "buffer source", status);
    }

    const std::string scale_arguments = "w=" + std::to_string(target_.w) + ":h=" + std::to_string(target_.h) +
                                        ":flags=" + kScaleFlags +
                                        (target_.scale_options.empty() ? "" : ":" + target_.scale_options);
    AVFilterContext* scale = nullptr;
    status = avfilter_graph_create_filter(&scale, avfilter_get_by_name("scale"), "scale", scale_arguments.c_str(),
                                          nullptr, graph);
    if (status < 0) {
        fail(picture, "scale " + scale_arguments, status);
    }
    const char* target_name = av_get_pix_fmt_name(target_.format);
    AVFilterContext* format = nullptr;
    status = avfilter_graph_create_filter(
        &format, avfilter_get_by_name("format"), "format",
        (std::string("pix_fmts=") + (target_name != nullptr ? target_name : "")).c_str(), nullptr, graph);
    if (status < 0) {
        fail(picture, "format", status);
    }
    status = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "sink", nullptr, nullptr, graph);
    if (status < 0) {
        fail(picture, "buffer sink", status);
    }
    status = avfilter_link(source_, 0, scale, 0);
    then(avfilter_link(scale, 0, format, 0));
    then(avfilter_link(format, 0, sink_, 0));
    then(avfilter_graph_config(graph, nullptr));
    if (status < 0) {
        fail(picture, "configuring the graph", status);
    }
    shape_ = shape_of(picture);
}

}  // namespace ocuvex::media
