// The decode stage of the converted video, and the judge of its damage.
//
// Damage is judged as the ffmpeg program judges it, by libav*'s own flags
// and return codes: frames the decoder concealed damage in, or whose packets
// the demuxer marked corrupt, are counted and kept; packets the decoder
// cannot decode are counted and skipped, leading ones included; data the
// demuxer cannot read past ends the input, which shows as a video that ends
// before the container said it would. In strict mode the first damage of any
// kind is a MediaError instead.
#pragma once

#include <cstdint>
#include <string>

#include "media/demux.h"
#include "media/libav.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace ocuvex::media {

struct DamageTally {
    std::int64_t damaged = 0;  // decoded with concealed errors, or from packets marked corrupt
    std::int64_t dropped = 0;  // packets the decoder could not decode into a frame
    std::string cut_short;     // "its video ends at 0.50 s of 1.00 s"; empty when it does not
    bool any() const { return damaged != 0 || dropped != 0 || !cut_short.empty(); }
};

class VideoDecoder {
  public:
    // Opens the decoder of `demuxer`'s video stream. Throws MediaError.
    VideoDecoder(const Demuxer& demuxer, const InputOptions& options);

    // Sends a packet of the video; one the demuxer marked corrupt, or one
    // the decoder refuses, is damage. Takes its contents.
    void send(AVPacket* packet, bool judge_damage);
    // Takes the next decoded frame into `frame`: 0, AVERROR(EAGAIN) when it
    // needs another packet, AVERROR_EOF once drained. A frame is judged,
    // its colour tags made safe and its time filled in (never
    // AV_NOPTS_VALUE; a frame without one follows the previous frame).
    // `judge_damage` false passes frames over without counting them
    // (frames skipped on the way to a sought one).
    int receive(AVFrame* frame, bool judge_damage = true);
    // Forgets what it holds, after a seek.
    void flush();

    // The input ended, by `status` (AVERROR_EOF or the demuxer's error for
    // data it cannot read past): judges what that says, then starts
    // draining.
    void input_ended(int status, bool judge_damage);

    // Judges a frame found by seeking, which receive() passed over.
    void judge_sought(const AVFrame* frame, std::int64_t index);

    std::int64_t frames_decoded() const { return frames_decoded_; }
    void set_frames_decoded(std::int64_t count) { frames_decoded_ = count; }
    const DamageTally& damage() const { return damage_; }
    bool draining() const { return draining_; }

  private:
    void take(AVFrame* frame, bool judge_damage);
    void failed(int status, bool judge_damage);
    void check_complete();
    void judge(const AVFrame* frame, bool corrupt_packet, std::int64_t index);
    [[noreturn]] void fail_damaged(std::int64_t index, const std::string& what) const;

    const Demuxer& demuxer_;
    const StopRequest* stop_;
    bool strict_ = false;
    CodecContextPtr context_;
    AVRational frame_rate_{0, 1};
    AVRational time_base_{0, 1};
    bool draining_ = false;
    int errors_in_a_row_ = 0;
    std::int64_t frames_decoded_ = 0;
    std::int64_t corrupt_packets_pending_ = 0;  // sent, their frames not yet out
    std::int64_t next_pts_ = AV_NOPTS_VALUE;
    DamageTally damage_;
};

}  // namespace ocuvex::media
