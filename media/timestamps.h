// How timestamps are mended between demuxer, decoder, encoder and muxer, as
// the ffmpeg program mends them by default: jumps in formats that allow them
// (transport streams cut and joined) are closed up, frames are placed on the
// encoder's time base and dropped only when they fall behind, and every
// packet reaches the muxer in increasing order.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

namespace ocuvex::media {

// The frame rate an encoder is opened with, whose inverse is its time base:
// the input's (25 when unknown), the nearest of `supported` when the encoder
// takes only some (null: any), with numerator and denominator at most 65535
// so that every encoder can express it (MPEG-4 Part 2 needs that).
AVRational choose_encoder_frame_rate(AVRational input_rate, const AVRational* supported);

// Closes up timestamp jumps in inputs whose format allows them
// (AVFMT_TS_DISCONT): a video or audio packet that lands more than 0.1 s
// before its stream's latest time, or more than 10 s away from where its
// stream would go on, moves one offset for the whole input so that it
// continues its stream. Every packet is shifted by the offset so far.
class DiscontinuityMender {
  public:
    explicit DiscontinuityMender(bool enabled) : enabled_(enabled) {}

    // `decides`: a video or audio packet, whose jumps count.
    void mend(AVPacket& packet, AVRational time_base, bool decides);
    std::int64_t offset() const { return offset_; }  // in AV_TIME_BASE units

  private:
    struct StreamPosition {
        std::int64_t next = AV_NOPTS_VALUE;    // where the stream would go on
        std::int64_t latest = AV_NOPTS_VALUE;  // the latest pts or dts seen
    };
    bool enabled_;
    std::int64_t offset_ = 0;
    std::vector<StreamPosition> streams_;  // by stream index, AV_TIME_BASE units
};

// Places decoded frames on the encoder's time base for a variable-frame-rate
// output, as the ffmpeg program does: each frame at its own time rounded to
// a tick; a frame at or a little before the previous one's time moves to the
// next free tick; a frame more than 0.6 frames behind is dropped. Ticks count
// from the first frame's time, the origin, so that the grid of whole frames
// keeps that time exactly: the writer adds it back for the muxer.
class VideoSync {
  public:
    // The frame's tick after the origin, or nothing when it is dropped.
    // `pts` and `duration` are in `source`, AV_NOPTS_VALUE and 0 when
    // unknown; `encoder` is the encoder's time base, whose tick is one frame
    // at its frame rate.
    std::optional<std::int64_t> place(std::int64_t pts, std::int64_t duration, AVRational source, AVRational encoder);
    // The first frame's time, in the `source` units place() was given.
    std::int64_t origin() const { return origin_ == AV_NOPTS_VALUE ? 0 : origin_; }

  private:
    std::int64_t origin_ = AV_NOPTS_VALUE;
    std::int64_t next_ = AV_NOPTS_VALUE;
};

// The output's timeline, as the ffmpeg program's outputs have it: every
// stream starts the input's start earlier, so that the output starts at 0
// and the streams stay as far apart as they were.
class Timeline {
  public:
    explicit Timeline(std::int64_t start = 0) : start_(start) {}
    // Where the input starts, in AV_TIME_BASE units: the output's 0.
    std::int64_t start() const { return start_; }
    // Moves `packet`, whose times are in `time_base` on the input's
    // timeline, onto the output's.
    void shift(AVPacket& packet, AVRational time_base) const;
    // Brings a packet of the converted video from the encoder's ticks
    // (counted from the first frame, whose time is `origin` in `origin_base`
    // on the input's timeline) to the output's timeline in `stream_base`.
    void place_encoded(AVPacket& packet, AVRational encoder_base, std::int64_t origin, AVRational origin_base,
                       AVRational stream_base) const;

  private:
    std::int64_t start_;
};

// Keeps one output stream's packets in decoding order for its muxer: a dts
// after its pts is replaced by the median of both and the next free tick,
// and a dts that does not increase (or, with `nonstrict`, decreases) moves to
// the next one, taking the pts along.
class MuxTimestamps {
  public:
    void mend(AVPacket& packet, bool nonstrict);

  private:
    std::int64_t last_dts_ = AV_NOPTS_VALUE;
};

}  // namespace ocuvex::media
