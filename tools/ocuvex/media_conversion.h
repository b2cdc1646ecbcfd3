// The conversion loop shared by `ocuvex convert` and the media fuzz target:
// decoded frames into the core's 32-bit pixels (a libavfilter graph this
// loop owns, in the first frame's size), through the core, into the writer;
// packets of carried streams straight across.
#pragma once

#include <cstdint>
#include <functional>

#include "core/filter_settings.h"
#include "tools/ocuvex/media_reader.h"
#include "tools/ocuvex/media_writer.h"

namespace ocuvex::cli {

// Converts the frames `reader` hands out with `settings` (already corrected
// by compute_output_geometry for the reader's picture size, which gives the
// writer's) until the input ends or `max_frames` are written (0: no limit).
// Calls `on_frame` with the count written after each frame. Returns the
// count written. Throws MediaError and Interrupted.
std::int64_t convert_frames(MediaReader& reader, MediaWriter& writer, const FilterSettings& settings,
                            std::int64_t max_frames, const std::function<void(std::int64_t)>& on_frame);

}  // namespace ocuvex::cli
