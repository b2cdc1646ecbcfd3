// Reads a video or still image through libavformat and libavcodec and hands
// on its decoded video frames as they come (any size, any pixel format:
// turning them into the core's pixels is the caller's step) and the packets
// of its audio and subtitle streams untouched.
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
#include <deque>
#include <string>

#include "media/libav.h"
#include "media/stop_request.h"
#include "media/timestamps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

struct ReaderOptions {
    const StopRequest* stop = &never_stopped();  // watched all along; must outlive the reader
    bool strict = false;  // the first damage is a MediaError
    // Bounds for inputs nobody vouches for; 0: FFmpeg's defaults, no bound.
    std::int64_t probe_bytes = 0;
    std::int64_t analyze_microseconds = 0;
    std::int64_t max_pixels = 0;   // of a decoded picture
    std::int64_t max_packets = 0;  // the input ends after this many
    int threads = 0;               // decoder threads; 0: one per core
    // The video stream converted: the Nth (from 0) of the input's video
    // streams in file order, as ffmpeg's -map 0:v:N counts them; -1: the
    // one FFmpeg finds best.
    int video_stream = -1;
    // The frame rate of an image sequence (the demuxer's "framerate"); 0/1:
    // the demuxer's default. See frame_rate_taken().
    AVRational frame_rate{0, 1};
};

struct DamageTally {
    std::int64_t damaged = 0;  // decoded with concealed errors, or from packets marked corrupt
    std::int64_t dropped = 0;  // packets the decoder could not decode into a frame
    std::string cut_short;     // "its video ends at 0.50 s of 1.00 s"; empty when it does not
    bool any() const { return damaged != 0 || dropped != 0 || !cut_short.empty(); }
};

class MediaReader {
  public:
    // Opens `path`, its video stream's decoder, and decodes the first frame,
    // whose picture size width() and height() give. Throws MediaError.
    explicit MediaReader(const std::string& path, const ReaderOptions& options = {});
    // The same from `io` (e.g. a file in memory), which must outlive the
    // reader; `name` names it in messages.
    MediaReader(AVIOContext* io, const std::string& name, const ReaderOptions& options = {});
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;
    ~MediaReader() = default;

    const std::string& name() const { return name_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // A single picture (PNG, JPEG, BMP, TIFF, ...) rather than a video or
    // an image sequence.
    bool is_still() const { return is_still_; }
    // Frames the container announces, or its duration implies at a constant
    // frame rate; 0 when unknown (a variable frame rate).
    std::int64_t expected_frames() const { return expected_frames_; }
    // Whether the container counts them (MP4's index, an image sequence's
    // files) rather than the duration implying them.
    bool expected_frames_exact() const { return expected_frames_exact_; }
    // Whether the demuxer took ReaderOptions::frame_rate (an image sequence does).
    bool frame_rate_taken() const { return frame_rate_taken_; }
    // Where the input's timeline starts (its earliest stream), in
    // AV_TIME_BASE units; 0 when it does not say.
    std::int64_t start_time() const;
    // The video's field order: the container's word, else the first
    // frame's flags.
    AVFieldOrder field_order() const { return field_order_; }
    const AVFormatContext* format() const { return format_.get(); }
    const AVStream* video_stream() const { return format_->streams[video_index_]; }
    // The video's frame rate as FFmpeg guesses it; 0/1 when unknown.
    AVRational frame_rate() const { return frame_rate_; }
    // The first frame's pixel aspect ratio as FFmpeg judges it; 0/1 when unknown.
    AVRational sample_aspect_ratio() const { return sample_aspect_ratio_; }
    // True for the streams whose packets next() hands on: every stream but
    // the converted video (attachments have none).
    bool is_copied_stream(int index) const;

    enum class Event { VideoFrame, Packet, End };
    // Reads on to the next video frame or copied packet. Throws MediaError
    // on a read error or, in strict mode, on damage, and Interrupted once a
    // stop was requested.
    Event next();

    // After Event::VideoFrame: the decoded frame, valid until the next call
    // to next(); its pts (never AV_NOPTS_VALUE) is in video_stream()'s time
    // base, with jumps in the input's timestamps closed up. Before the first
    // call to next() (after opening or seek_frame()): the frame it will
    // hand out first, e.g. to plan the conversion by.
    const AVFrame* frame() const { return frame_.get(); }
    // After Event::Packet: the packet, its times mended alike; the caller
    // may take its contents.
    AVPacket* packet() const { return packet_.get(); }

    std::int64_t frames_read() const { return frames_read_; }
    const DamageTally& damage() const { return damage_; }

    // Makes frame `index` (from 0) the one next() returns next: seeks to the
    // nearest earlier key frame where the input allows it, then decodes
    // forward. Packets of copied streams on the way are skipped. False when
    // the input ends before; frames_in_input() then says how many it has.
    bool seek_frame(std::int64_t index);
    std::int64_t frames_in_input() const { return frames_in_input_; }

  private:
    void open(const std::string& url, const ReaderOptions& options);
    const AVCodec* choose_video_stream(int wanted);
    void estimate_frames();
    void prime();
    Event read_on(bool hold_packets, bool judge_damage);
    void send_video_packet(bool judge_damage);
    void end_of_input(int status, bool judge_damage);
    void decode_failed(int status, bool judge_damage);
    void take_frame(bool judge_damage);
    void check_complete();
    void judge(const AVFrame* frame, bool corrupt_packet, std::int64_t index);
    [[noreturn]] void fail_damaged(std::int64_t index, const std::string& what) const;
    bool seek_to(std::int64_t pts);
    std::int64_t frame_index_of(std::int64_t pts) const;

    std::string name_;
    const StopRequest* stop_ = &never_stopped();
    bool strict_ = false;
    std::int64_t max_packets_ = 0;
    InputContextPtr format_;
    CodecContextPtr decoder_;
    PacketPtr packet_ = allocate_packet();
    FramePtr frame_ = allocate_frame();
    int video_index_ = -1;
    int width_ = 0;
    int height_ = 0;
    bool is_still_ = false;
    bool frame_rate_taken_ = false;
    AVFieldOrder field_order_ = AV_FIELD_UNKNOWN;
    std::int64_t expected_frames_ = 0;
    bool expected_frames_exact_ = false;
    AVRational frame_rate_{0, 1};
    AVRational sample_aspect_ratio_{0, 1};
    bool timestamps_may_jump_ = false;  // the format allows discontinuities
    DiscontinuityMender mender_{false};

    // Read ahead while looking for the first frame, handed out first.
    std::deque<PacketPtr> held_packets_;
    std::int64_t held_bytes_ = 0;
    bool holding_frame_ = false;

    bool draining_ = false;
    bool ended_ = false;
    std::int64_t packets_read_ = 0;
    std::int64_t first_pts_ = AV_NOPTS_VALUE;
    std::int64_t next_pts_ = AV_NOPTS_VALUE;
    std::int64_t frames_read_ = 0;
    std::int64_t corrupt_packets_pending_ = 0;  // sent, their frames not yet out
    std::int64_t frames_in_input_ = 0;
    // Where the video should end by the container's word (the stream's
    // duration, or the DURATION tag Matroska muxers write); AV_NOPTS_VALUE
    // when it does not say. Demuxers take some damage for the end of the
    // file and report it in their log only: this is how it shows.
    std::int64_t announced_end_ = AV_NOPTS_VALUE;
    DamageTally damage_;
};

}  // namespace ocuvex::media
