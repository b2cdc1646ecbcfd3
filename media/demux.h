// The demux stage: opens a video or still image through libavformat,
// chooses the video stream to convert, and reads the packets of every
// stream a job uses, their times mended where the format allows jumps (see
// DiscontinuityMender). What the container says about the video (its frame
// rate, start, length and frame count) is read here too.
#pragma once

#include <cstdint>
#include <string>

#include "media/libav.h"
#include "media/stop_request.h"
#include "media/timestamps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

struct InputOptions {
    const StopRequest* stop = &never_stopped();  // watched all along; must outlive the input
    bool strict = false;                         // the first damage is a MediaError
    // Bounds for inputs nobody vouches for; 0: FFmpeg's defaults, no bound.
    std::int64_t probe_bytes = 0;
    std::int64_t analyze_microseconds = 0;
    std::int64_t max_pixels = 0;   // of a decoded picture
    std::int64_t max_packets = 0;  // the input ends after this many
    // The video stream converted: the Nth (from 0) of the input's video
    // streams in file order, as ffmpeg's -map 0:v:N counts them; -1: the
    // one FFmpeg finds best.
    int video_stream = -1;
    // The frame rate of an image sequence (the demuxer's "framerate"); 0/1:
    // the demuxer's default. See Demuxer::frame_rate_taken().
    AVRational frame_rate{0, 1};
    // Read the video stream alone (an analysis): every other stream is
    // discarded, and none is carried.
    bool video_only = false;
};

class Demuxer {
  public:
    // Opens `path` ("-": standard input) and chooses its video stream.
    // Throws MediaError.
    Demuxer(const std::string& path, const InputOptions& options);
    // The same from `io` (e.g. a file in memory), which must outlive the
    // demuxer; `name` names it in messages.
    Demuxer(AVIOContext* io, const std::string& name, const InputOptions& options);

    const std::string& name() const { return name_; }
    const AVFormatContext* format() const { return format_.get(); }
    int video_index() const { return video_index_; }
    const AVStream* video_stream() const { return format_->streams[video_index_]; }
    // The decoder of the video stream's codec.
    const AVCodec* video_codec() const { return video_codec_; }
    // True for the streams a job carries into its output: every stream but
    // the converted video and the attachments (which have no packets).
    bool is_carried_stream(int index) const;

    // A single picture (PNG, JPEG, BMP, TIFF, ...) rather than a video or
    // an image sequence.
    bool is_still() const { return is_still_; }
    // An image sequence (in%04d.png).
    bool is_sequence() const { return is_sequence_; }
    // Whether the demuxer took InputOptions::frame_rate (an image sequence does).
    bool frame_rate_taken() const { return frame_rate_taken_; }
    // The video's frame rate as FFmpeg guesses it; 0/1 when unknown.
    AVRational frame_rate() const { return frame_rate_; }
    // Where the input's timeline starts (its earliest stream), in
    // AV_TIME_BASE units; 0 when it does not say.
    std::int64_t start_time() const;
    // Where the video should end by the container's word (the stream's
    // duration, or the DURATION tag Matroska muxers write), in its time
    // base; AV_NOPTS_VALUE when it does not say.
    std::int64_t announced_end() const { return announced_end_; }
    // Frames the container announces, or its duration implies at a constant
    // frame rate; 0 when unknown (a variable frame rate).
    std::int64_t expected_frames() const { return expected_frames_; }
    // Whether the container counts them (MP4's index, an image sequence's
    // files) rather than the duration implying them.
    bool expected_frames_exact() const { return expected_frames_exact_; }
    // Whether the input can seek (a file rather than a pipe).
    bool seekable() const;

    // Reads the next packet of the video or a carried stream into `packet`,
    // its times mended: 0, or AVERROR_EOF at the end (or after
    // InputOptions::max_packets), or the demuxer's error for data it cannot
    // read past. Throws MediaError when the file itself cannot be read, and
    // Interrupted once a stop was requested.
    int read(AVPacket* packet);
    // Seeks the video to the key frame at or before `pts` (its time base).
    // False when the input cannot seek there.
    bool seek(std::int64_t pts);
    // Seeks the video to the first key frame at or after `pts` where the
    // format's index says where it is (elsewhere near `pts`). False when the
    // input cannot seek there.
    bool seek_after(std::int64_t pts);
    // How far the mended times have moved so far, in AV_TIME_BASE units.
    std::int64_t mended_offset() const { return mender_.offset(); }

  private:
    void open(const std::string& url, const InputOptions& options);
    void choose_video_stream(int wanted);
    void read_what_the_container_says();
    bool seek_between(std::int64_t earliest, std::int64_t pts, std::int64_t latest);

    std::string name_;
    const StopRequest* stop_ = &never_stopped();
    std::int64_t max_packets_ = 0;
    bool video_only_ = false;
    InputContextPtr format_;
    int video_index_ = -1;
    const AVCodec* video_codec_ = nullptr;
    bool is_still_ = false;
    bool is_sequence_ = false;
    bool frame_rate_taken_ = false;
    AVRational frame_rate_{0, 1};
    std::int64_t announced_end_ = AV_NOPTS_VALUE;
    std::int64_t expected_frames_ = 0;
    bool expected_frames_exact_ = false;
    bool timestamps_may_jump_ = false;  // the format allows discontinuities
    DiscontinuityMender mender_{false};
    std::int64_t packets_read_ = 0;
};

}  // namespace ocuvex::media
