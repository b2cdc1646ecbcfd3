// Reads a video or still image through libavformat and libavcodec and hands
// on its video frames as packed 32-bit B, G, R, X pixels, top row first, and
// the packets of its audio and subtitle streams untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/ocuvex/media_common.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace ocuvex::cli {

class MediaReader {
  public:
    // Opens `path` and its video stream's decoder. Throws MediaError.
    explicit MediaReader(const std::string& path);
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;
    ~MediaReader();

    const std::string& path() const { return path_; }
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    // A single picture (PNG, JPEG, BMP, TIFF, ...) rather than a video.
    bool is_still() const { return is_still_; }
    // Frames the container announces or its duration implies; 0 when unknown.
    std::int64_t expected_frames() const { return expected_frames_; }
    AVFormatContext* format() const { return format_; }
    AVStream* video_stream() const { return format_->streams[video_index_]; }
    AVRational frame_rate() const;
    // True for the audio and subtitle streams a conversion carries over.
    bool is_copied_stream(int index) const;

    enum class Event { VideoFrame, Packet, End };
    // Reads on to the next video frame or copied packet. Throws MediaError
    // when the input is damaged and Interrupted when a stop was requested.
    Event next();

    // After Event::VideoFrame: the frame's top row, the distance between its
    // rows in bytes (positive), and its time in video_stream()->time_base.
    // The pixels stay valid until the next call to next().
    std::uint8_t* frame_pixels() const { return pixels_; }
    std::int32_t frame_pitch() const { return pitch_; }
    std::int64_t frame_pts() const { return pts_; }
    std::int64_t frames_read() const { return frames_read_; }

    // After Event::Packet: the packet; the caller may take its contents.
    AVPacket* packet() const { return packet_; }

  private:
    void open();
    void release();
    [[noreturn]] void fail_damaged(int code) const;
    void check_logged_damage() const;
    void take_frame();

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int scaler_format_ = -1;
    int video_index_ = -1;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool is_still_ = false;
    bool draining_ = false;
    std::int64_t expected_frames_ = 0;
    std::vector<std::uint8_t> buffer_;  // frames that need a pixel-format conversion land here
    std::uint8_t* pixels_ = nullptr;
    std::int32_t pitch_ = 0;
    std::int64_t pts_ = 0;
    std::int64_t next_pts_ = 0;
    std::int64_t frames_read_ = 0;
    long input_errors_seen_ = 0;
};

}  // namespace ocuvex::cli
