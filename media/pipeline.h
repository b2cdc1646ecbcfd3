// A convert job's stages at once: decoding, the conversion and encoding each
// on a thread of its own, so that a cheap encoder no longer leaves a core
// idle while the next frame is decoded and converted.
//
//   input thread:    Input::next()  -> decoded frames and carried packets, in input order
//   convert thread:  PictureConverter::convert() into a picture of a pool allocated once
//   calling thread:  VideoOutput::write_picture(), StreamMap::write() -> Muxer
//
// Events pass between the threads in order through two bounded queues whose
// frames and packets are allocated once; the decoded frames and packets are
// moved into them, never copied. The calling thread gets every event in the
// order the input gave it, so the muxer receives exactly what it receives
// when the stages run in turn, from that one thread, and the output is the
// same byte for byte. A failure on a thread (damage in strict mode, a stop
// request) travels as an event in its place: the frames before it are
// written first, as in turn, then it is thrown on the calling thread.
#pragma once

#include <cstdint>
#include <functional>

#include "media/conversion.h"
#include "media/input.h"
#include "media/output.h"
#include "media/stop_request.h"
#include "media/stream_map.h"

namespace ocuvex::media {

struct JobStages {
    Input& input;
    PictureConverter& converter;
    VideoOutput& video;
    StreamMap* streams;  // null: packets of other streams are dropped
    // The input's own stop request: made when the calling thread stops
    // early (a failure), so that a read waiting on a pipe gives up.
    StopRequest& halt_input;
};

// Converts every frame to the input's end, calling `on_frame` on the
// calling thread with the count written after each; returns the count
// written. Throws what the stages throw (MediaError, Interrupted), on the
// calling thread, after the frames before the failure.
std::int64_t run_overlapped(const JobStages& stages, const std::function<void(std::int64_t)>& on_frame);

}  // namespace ocuvex::media
