// A job's input: the demuxer and the video's decoder together, handing on
// the decoded frames of the converted video as they come (any size, any
// pixel format: bringing them to the plan's is the conversion's step) and
// the packets of the carried streams untouched, in the order they are read.
// The first frame is decoded on opening, so a job can be planned from it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "media/decode.h"
#include "media/demux.h"

namespace ocuvex::media {

class Input {
  public:
    // Opens `path` ("-": standard input), its video stream's decoder, and
    // decodes the first frame. Throws MediaError.
    explicit Input(const std::string& path, const InputOptions& options = {});
    // The same from `io` (e.g. a file in memory), which must outlive the
    // input; `name` names it in messages.
    Input(AVIOContext* io, const std::string& name, const InputOptions& options = {});
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    const Demuxer& demuxer() const { return demuxer_; }
    const std::string& name() const { return demuxer_.name(); }

    // The first frame's picture size, pixel aspect ratio as FFmpeg judges
    // it (0/1 when unknown), and field order (the container's word, else
    // the frame's flags).
    int width() const { return width_; }
    int height() const { return height_; }
    AVRational sample_aspect_ratio() const { return sample_aspect_ratio_; }
    AVFieldOrder field_order() const { return field_order_; }

    enum class Event { VideoFrame, Packet, End };
    // Reads on to the next video frame or carried packet. Throws MediaError
    // on a read error or, in strict mode, on damage, and Interrupted once a
    // stop was requested.
    Event next();

    // After Event::VideoFrame: the decoded frame, valid until the next call
    // to next(); its pts (never AV_NOPTS_VALUE) is in the video stream's
    // time base, with jumps in the input's timestamps closed up. Before the
    // first call to next() (after opening or seek_frame()): the frame it
    // will hand out first, e.g. to plan the conversion by.
    const AVFrame* frame() const { return frame_.get(); }
    // After Event::VideoFrame: moves that frame into `into` (whatever it
    // held is let go), leaving frame() empty; no picture is copied.
    void take_frame(AVFrame* into);
    // After Event::Packet: the packet, its times mended alike; the caller
    // may take its contents.
    AVPacket* packet() const { return packet_.get(); }

    std::int64_t frames_read() const { return decoder_.frames_decoded(); }
    const DamageTally& damage() const { return decoder_.damage(); }

    // Makes frame `index` (from 0) the one next() returns next: seeks to the
    // nearest earlier key frame where the input allows it, then decodes
    // forward. Packets of carried streams on the way are skipped. False when
    // the input ends before; frames_in_input() then says how many it has.
    bool seek_frame(std::int64_t index);
    std::int64_t frames_in_input() const { return frames_in_input_; }

  private:
    void prime();
    Event read_on(bool hold_packets, bool judge_damage);
    Event next_frame_only();
    bool seek_to(std::int64_t pts);
    std::int64_t frame_index_of(std::int64_t pts) const;

    const StopRequest* stop_;
    Demuxer demuxer_;
    VideoDecoder decoder_;
    PacketPtr packet_ = allocate_packet();
    FramePtr frame_ = allocate_frame();
    int width_ = 0;
    int height_ = 0;
    AVRational sample_aspect_ratio_{0, 1};
    AVFieldOrder field_order_ = AV_FIELD_UNKNOWN;

    // Read ahead while looking for the first frame, handed out first.
    std::deque<PacketPtr> held_packets_;
    std::int64_t held_bytes_ = 0;
    bool holding_frame_ = false;

    bool ended_ = false;
    std::int64_t first_pts_ = AV_NOPTS_VALUE;
    std::int64_t frames_in_input_ = 0;
};

}  // namespace ocuvex::media
