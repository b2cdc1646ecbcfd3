// The convert stage: decoded pictures through the core, by a plan worked
// out once from the first frame.
//
// The copy modes move the decoded frame's own planes, at their own depth and
// subsampling, with the core's plane plans: the source's pixel format is
// kept unless it cannot be moved plane by plane (a palette, packed 4:2:2,
// ...) or the plan would cut its chroma samples (an odd crop of 4:2:0), and
// then the job works in the nearest format that can, converted once. The
// anaglyph, defined on 8-bit RGB, works on the core's 32-bit pixels. Frames
// in another size or format than the first one's reach the core through a
// scale graph, scaled to the first one's size.
#pragma once

#include <optional>
#include <vector>

#include "core/anaglyph.h"
#include "core/copy_plan.h"
#include "core/filter_settings.h"
#include "media/notice.h"
#include "media/output.h"
#include "media/picture_planes.h"
#include "media/scale_graph.h"

namespace ocuvex::media {

// The core's pixels as FFmpeg names them: 32-bit words 0x00RRGGBB, which
// are B, G, R, X in memory.
inline constexpr AVPixelFormat kCorePixelFormat = AV_PIX_FMT_BGR0;
// The formats pictures of the core's pixels go into a file in, best first:
// as they are where the encoder takes them (lossless, e.g. ffv1), else
// packed RGB, else 4:2:0, which plays everywhere, else 4:4:4.
inline const std::vector<AVPixelFormat> kCorePixelFileFormats = {
    kCorePixelFormat, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV444P,
};

// How a job converts, worked out once from its first frame.
struct ConversionPlan {
    FilterSettings settings;  // corrected by compute_output_geometry for the source size
    AnaglyphMatrix coefficients = anaglyph_default_coefficients;  // the anaglyph's
    FrameSize source;                                             // the first frame's; later frames are scaled to it
    // The pictures the conversion makes, of the output's size: the source's
    // own format, a stand-in for it, or the core's pixels for the anaglyph.
    PictureFormat pictures;
    std::optional<PlaneLayout> planes;  // copy modes: how the pictures' format stores a picture
    CopyPlan copies;                    // copy modes
    FillElements fill;                  // copy modes: centering's fill colour in the pictures' format
    // What the user should know: a conversion of the source's format, an
    // anaglyph of numbers it is not defined on.
    Notices notes;
};

// The plan of `settings` (already corrected for `first`'s size, giving
// `output`) for a source whose first frame is `first`. Throws MediaError.
ConversionPlan plan_conversion(const FilterSettings& settings, const AVFrame* first, FrameSize output);

class PictureConverter {
  public:
    explicit PictureConverter(const ConversionPlan& plan);

    // Converts the decoded `picture` into `destination`, a picture of the
    // plan's. Throws MediaError.
    void convert(const AVFrame* picture, AVFrame* destination);

  private:
    const ConversionPlan& plan_;
    // Frames in the first one's size and format pass untouched; others are
    // converted into them (with the first one's colour description).
    ScaleGraph to_source_shape_;
};

}  // namespace ocuvex::media
