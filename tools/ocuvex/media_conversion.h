// The conversion loop shared by `ocuvex convert` and the media fuzz target:
// decoded frames through the core into the writer; packets of carried
// streams straight across.
//
// The copy modes move the decoded frame's own planes, at their own depth and
// subsampling, with the core's plane plans: the source's pixel format is
// kept unless it cannot be moved plane by plane (a palette, packed 4:2:2,
// ...) or the plan would cut its chroma samples (an odd crop of 4:2:0), and
// then the job works in the nearest format that can, converted once. The
// anaglyph, defined on 8-bit RGB, works on the core's 32-bit pixels. Frames
// in another size or format than the first one's reach the core through a
// libavfilter graph (media_pixels.h), scaled to the first one's size.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/anaglyph.h"
#include "core/copy_plan.h"
#include "core/filter_settings.h"
#include "tools/ocuvex/media_planes.h"
#include "tools/ocuvex/media_reader.h"
#include "tools/ocuvex/media_writer.h"

namespace ocuvex::cli {

// How a job converts, worked out once from its first frame.
struct ConversionPlan {
    FilterSettings settings;  // corrected by compute_output_geometry for the source size
    AnaglyphMatrix coefficients = anaglyph_default_coefficients;  // the anaglyph's
    FrameSize source;                                             // the first frame's; later frames are scaled to it
    FrameSize output;
    // The pictures the core works on and the writer takes: the source's own
    // format, a stand-in for it, or the core's B, G, R, X for the anaglyph.
    AVPixelFormat format = AV_PIX_FMT_NONE;
    ColourDescription colour;                         // of those pictures
    AVColorSpace yuv_matrix = AVCOL_SPC_UNSPECIFIED;  // the anaglyph's: a YUV source's matrix
    std::optional<PlaneLayout> planes;                // copy modes: how `format` stores a picture
    CopyPlan copies;                                  // copy modes
    FillElements fill;                                // copy modes: centering's fill colour in `format`
    // One line each on what the user should know: a conversion of the
    // source's format, an anaglyph of numbers it is not defined on.
    std::vector<std::string> notes;
};

// The plan of `settings` (already corrected for `first`'s size, giving
// `output`) for a source whose first frame is `first`. Throws MediaError.
ConversionPlan plan_conversion(const FilterSettings& settings, const AVFrame* first, FrameSize output);

// The writer's settings for the plan's pictures: size, pixel format and colour.
void describe_pictures(const ConversionPlan& plan, VideoSettings& video);

// Converts the frames `reader` hands out by `plan` until the input ends or
// `max_frames` are written (0: no limit). Calls `on_frame` with the count
// written after each frame. Returns the count written. Throws MediaError and
// Interrupted.
std::int64_t convert_frames(MediaReader& reader, MediaWriter& writer, const ConversionPlan& plan,
                            std::int64_t max_frames, const std::function<void(std::int64_t)>& on_frame);

}  // namespace ocuvex::cli
