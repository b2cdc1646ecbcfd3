// A convert job's stages at once: decoding, the conversion and encoding each
// on a thread of its own, so that a cheap encoder no longer leaves a core
// idle while the next frame is decoded and converted.
//
//   calling thread:  Input::next()  -> decoded frames and carried packets, in input order
//   convert thread:  PictureConverter::convert() into a picture of a pool allocated once
//   output thread:   VideoOutput::write_picture(), StreamMap::write() -> Muxer
//
// Events pass between the threads in order through two bounded queues whose
// frames and packets are allocated once; the decoded frames and packets are
// moved into them, never copied. The output thread gets every event in the
// order the input gave it, so the muxer receives exactly what it receives
// when the stages run in turn, all from that one thread, and the output is
// the same byte for byte. A failure on the input or convert thread (damage
// in strict mode, a stop request) travels as an event in its place: the
// frames before it are written first, as in turn. The input stays on the
// calling thread, which takes the process's signals: a signal interrupts a
// read waiting on a pipe there as it does when the stages run in turn.
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
    // The input's own stop request: made when the output thread fails, so
    // that the input gives up at its next chance (its next read or frame).
    StopRequest& halt_input;
};

// Converts every frame to the input's end, calling `on_frame` on the output
// thread with the count written after each; returns the count written.
// Throws, on the calling thread, the first failure in the order of the
// events (MediaError, Interrupted), after the frames before it.
std::int64_t run_overlapped(const JobStages& stages, const std::function<void(std::int64_t)>& on_frame);

}  // namespace ocuvex::media
