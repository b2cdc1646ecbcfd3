// Pixel conversions through libavfilter: a graph
//   buffer -> scale -> format -> buffersink
// that turns pictures of any size and pixel format into pictures of one
// fixed size and format, as the ffmpeg program converts; and the linking of
// any graph's filters from FFmpeg's filter-graph syntax, which the audio
// conversions use too. The graph is built
// for the first picture and rebuilt whenever the pictures' size, pixel
// format or colour description changes, so a stream that changes any of
// them mid-way comes out in the first picture's size all along.
#pragma once

#include <string>

#include "media/libav.h"
#include "media/picture_colour.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace ocuvex::media {

// What every graph's scaler does: bicubic with libswscale's default
// rounding, as the ffmpeg program's own conversions; the more exact rounding
// and full chroma interpolation cost a quarter of a whole H.264 job's time.
inline constexpr const char* kScaleFlags = "bicubic";

struct ScaleTarget {
    int w = 0;
    int h = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    // More options of the scale filter, e.g. the output's colour matrix and
    // range ("out_color_matrix=bt709:out_range=tv"); empty: none.
    std::string scale_options;
};

// Options of the scale filter that convert pictures of `from_format`
// described by `from` into `to_format` described by `to`: each YUV or gray
// side's matrix and range where its description names them, so that YUV to
// YUV keeps a full range full and RGB to YUV uses the chosen matrix; where a
// side names none, FFmpeg's defaults (the picture's own tags). Empty when
// there is nothing to say.
std::string colour_options(AVPixelFormat from_format, const ColourDescription& from, AVPixelFormat to_format,
                           const ColourDescription& to);

// Links `source` through `filters` (FFmpeg's filter-graph syntax, e.g.
// "scale=w=64:h=36,format=pix_fmts=yuv420p") to `sink`, both filters of
// `graph`, and configures the graph. Throws MediaError naming `what`.
void link_filters(AVFilterGraph* graph, AVFilterContext* source, const std::string& filters, AVFilterContext* sink,
                  const std::string& what);

class ScaleGraph {
  public:
    explicit ScaleGraph(ScaleTarget target) : target_(std::move(target)) {}

    const ScaleTarget& target() const { return target_; }
    // `picture` in the target's size and format: `picture` itself when it
    // already is, else the graph's output, valid until the next call and
    // carrying the picture's properties (times, aspect ratio). Throws
    // MediaError.
    const AVFrame* convert(const AVFrame* picture);

  private:
    struct SourceShape {
        int w = 0;
        int h = 0;
        int format = AV_PIX_FMT_NONE;
        AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
        AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
        bool operator==(const SourceShape&) const = default;
    };
    static SourceShape shape_of(const AVFrame* picture);
    void build(const AVFrame* picture);

    ScaleTarget target_;
    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;  // owned by graph_
    AVFilterContext* sink_ = nullptr;    // owned by graph_
    SourceShape shape_;
    FramePtr output_ = allocate_frame();
};

}  // namespace ocuvex::media
