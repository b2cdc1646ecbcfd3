// The decode stage of the converted video, and the judge of its damage.
//
// Damage is judged as the ffmpeg program shows it, by libav*'s own flags,
// return codes and error lines: packets the demuxer marked corrupt; frames
// the decoder flagged, or logged an error line for while decoding their
// packet, which are kept; packets that gave no frame with a failure or an
// error line, which are skipped, leading ones included; data the demuxer
// cannot read past, which ends the input and shows as a video that ends
// before the container said it would. Each packet gets a number that its
// frame and the decoder's error lines carry (through reordering), so a
// packet is judged once. The decoder runs in one thread, so the same bytes
// give the same verdict every run. In strict mode it is
// asked to check checksums and to fail on what it finds, and the first
// damage, which is the first in the file, is a MediaError naming the input,
// the stream and the time.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/demux.h"
#include "media/libav.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace ocuvex::media {

// How many, and the earliest time among them (seconds on the input's
// timeline, as ffprobe shows it; none when no time is known).
struct DamageCount {
    std::int64_t count = 0;
    std::optional<double> first_seconds;
    void add(std::optional<double> seconds);
};

struct DamageTally {
    DamageCount damaged_packets;  // marked corrupt by the demuxer
    DamageCount damaged_frames;   // decoded, with errors the decoder flagged or logged
    DamageCount dropped;          // packets that gave no frame, with a failure or an error line
    std::string cut_short;        // "its video ends at 0.50 s of 1.00 s"; empty when it does not
    bool any() const {
        return damaged_packets.count != 0 || damaged_frames.count != 0 || dropped.count != 0 || !cut_short.empty();
    }
};

class VideoDecoder {
  public:
    // Opens the decoder of `demuxer`'s video stream. Throws MediaError.
    VideoDecoder(const Demuxer& demuxer, const InputOptions& options);
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

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
    void judge_sought(const AVFrame* frame);
    // Packets the decoder failed on so far, judged or not.
    std::int64_t failures() const { return failures_; }
    // A sought frame whose time `pts` no decoded picture holds, after the
    // decoder failed on the way: damage in strict mode, where the next
    // frame must not stand in for it. Lenient, the next frame is taken, as
    // ffmpeg's -ss takes it.
    void judge_missing(std::int64_t pts);

    std::int64_t frames_decoded() const { return frames_decoded_; }
    void set_frames_decoded(std::int64_t count) { frames_decoded_ = count; }
    // Complete once receive() has answered AVERROR_EOF.
    const DamageTally& damage() const { return damage_; }
    bool draining() const { return draining_; }

  private:
    // What is known of one packet sent, until its slot is taken again.
    struct PacketRecord {
        std::int64_t number = -1;
        std::optional<double> seconds;
        bool judged = false;     // sent while damage counts
        bool logged = false;     // the decoder logged an error line while decoding it
        bool failed = false;     // the decoder failed on it
        bool has_frame = false;  // a frame came out of it
        bool counted = false;    // its frame counted as damaged
    };

    void take(AVFrame* frame, bool judge_damage);
    void failed(int status, bool judge_damage);
    void judge(const AVFrame* frame, PacketRecord* record);
    void read_log();
    PacketRecord* record_of(std::int64_t number);
    void count_frame(PacketRecord& record, const std::string& what);
    void close_record(PacketRecord& record);
    void close_records();
    void check_complete();
    std::optional<double> seconds_of(std::int64_t pts) const;
    [[noreturn]] void fail_damaged(std::optional<double> seconds, const std::string& what) const;

    const Demuxer& demuxer_;
    const StopRequest* stop_;
    bool strict_ = false;
    std::int64_t failures_ = 0;
    DecoderLog log_;  // outlives the context, whose threads log into it
    CodecContextPtr context_;
    AVRational frame_rate_{0, 1};
    AVRational time_base_{0, 1};
    bool draining_ = false;
    int errors_in_a_row_ = 0;
    std::int64_t frames_decoded_ = 0;
    std::int64_t next_pts_ = AV_NOPTS_VALUE;
    std::int64_t packets_sent_ = 0;
    std::array<PacketRecord, DecoderLog::kSlots> records_;
    std::vector<DecoderLog::Line> lines_;  // reused: no allocation per packet
    DamageTally damage_;
};

}  // namespace ocuvex::media
