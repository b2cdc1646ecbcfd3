#include "media/scale_graph.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// "cannot convert yuv420p pictures of 64x36", the start of a failure's message.
std::string failure_text(const AVFrame* picture) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format));
    return "cannot convert " + std::string(name != nullptr ? name : "unknown") + " pictures of " +
           std::to_string(picture->width) + "x" + std::to_string(picture->height);
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

ScaleGraph::SourceShape ScaleGraph::shape_of(const AVFrame* picture) {
    return SourceShape{picture->width, picture->height, picture->format, picture->colorspace, picture->color_range};
}

const AVFrame* ScaleGraph::convert(const AVFrame* picture) {
    if (picture->width == target_.w && picture->height == target_.h && picture->format == target_.format) {
        return picture;
    }
    if (graph_ == nullptr || !(shape_of(picture) == shape_)) {
        build(picture);
    }
    av_frame_unref(output_.get());
    check(av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(picture), AV_BUFFERSRC_FLAG_KEEP_REF),
          failure_text(picture) + " (feeding the graph)");
    check(av_buffersink_get_frame(sink_, output_.get()), failure_text(picture) + " (taking the graph's output)");
    return output_.get();
}

void link_filters(AVFilterGraph* graph, AVFilterContext* source, const std::string& filters, AVFilterContext* sink,
                  const std::string& what) {
    // The open ends of the parsed chain: its input takes the source's
    // output ("in"), its output feeds the sink ("out").
    FilterInOutPtr source_end(allocated(avfilter_inout_alloc()));
    FilterInOutPtr sink_end(allocated(avfilter_inout_alloc()));
    source_end->name = allocated(av_strdup("in"));
    source_end->filter_ctx = source;
    sink_end->name = allocated(av_strdup("out"));
    sink_end->filter_ctx = sink;
    AVFilterInOut* inputs = sink_end.release();
    AVFilterInOut* outputs = source_end.release();
    const int status = avfilter_graph_parse_ptr(graph, filters.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    check(status, what + " (" + filters + ")");
    check(avfilter_graph_config(graph, nullptr), what + " (" + filters + ")");
}

void ScaleGraph::build(const AVFrame* picture) {
    const std::string what = failure_text(picture);
    graph_.reset();
    graph_.reset(allocated(avfilter_graph_alloc()));
    AVFilterGraph* graph = graph_.get();
    source_ = allocated(avfilter_graph_alloc_filter(graph, avfilter_get_by_name("buffer"), "source"));
    const AVRational aspect = picture->sample_aspect_ratio.num > 0 ? picture->sample_aspect_ratio : AVRational{1, 1};
    const std::string buffer = what + " (buffer source)";
    check(av_opt_set_int(source_, "width", picture->width, AV_OPT_SEARCH_CHILDREN), buffer);
    check(av_opt_set_int(source_, "height", picture->height, AV_OPT_SEARCH_CHILDREN), buffer);
    check(av_opt_set_pixel_fmt(source_, "pix_fmt", static_cast<AVPixelFormat>(picture->format), AV_OPT_SEARCH_CHILDREN),
          buffer);
    check(av_opt_set_q(source_, "time_base", AVRational{1, 1}, AV_OPT_SEARCH_CHILDREN), buffer);
    check(av_opt_set_q(source_, "pixel_aspect", aspect, AV_OPT_SEARCH_CHILDREN), buffer);
    check(set_if_known(source_, "colorspace", picture->colorspace), buffer);
    check(set_if_known(source_, "range", picture->color_range), buffer);
    check(avfilter_init_str(source_, nullptr), buffer);
    check(avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "sink", nullptr, nullptr, graph),
          what + " (buffer sink)");
    const char* target_name = av_get_pix_fmt_name(target_.format);
    link_filters(graph, source_,
                 "scale=w=" + std::to_string(target_.w) + ":h=" + std::to_string(target_.h) + ":flags=" + kScaleFlags +
                     (target_.scale_options.empty() ? "" : ":" + target_.scale_options) +
                     ",format=pix_fmts=" + (target_name != nullptr ? target_name : ""),
                 sink_, what);
    shape_ = shape_of(picture);
}

}  // namespace ocuvex::media
