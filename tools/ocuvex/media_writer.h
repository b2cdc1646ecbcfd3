// Writes converted frames through libavcodec and libavformat: a video in the
// container OUTPUT's extension names, with the input's audio and subtitle
// streams copied unchanged, or a single still picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ocuvex/media_common.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace ocuvex::cli {

class MediaReader;

struct OutputFormat {
    const char* extension;      // lower case, with the dot
    const char* muxer;          // libavformat's name; null for a still picture
    const char* default_codec;  // libavcodec's encoder name
    bool is_still() const { return muxer == nullptr; }
};

// The format OUTPUT's extension names (case does not matter), or null.
const OutputFormat* find_output_format(std::string_view path);
// The extensions find_output_format() knows, for messages: ".mp4, .mkv, ...".
std::string known_output_extensions();

struct VideoSettings {
    std::int32_t w = 0;
    std::int32_t h = 0;
    AVRational time_base{1, 25};  // of the timestamps handed to write_frame()
    AVRational frame_rate{0, 1};  // 0/1 when unknown
    AVRational sample_aspect_ratio{0, 1};
    std::string codec;                  // empty: the format's default
    std::optional<int> crf;             // empty: the codec's sensible default
    const char* stereo_mode = nullptr;  // Matroska's name of the layout, or null
};

// Checks that `codec` names a video encoder FFmpeg has (empty: the format's
// default) and that it takes --crf when one is given. Throws UsageError.
void check_codec_choice(const OutputFormat& format, const VideoSettings& video);

// The pixel format the writer encodes a w x h picture in with `codec`: the
// core's own B, G, R, X where the encoder takes it (lossless, e.g. ffv1),
// else packed RGB, else 4:2:0 when both sides are even and 4:4:4 when not.
AVPixelFormat choose_pixel_format(const AVCodec* codec, std::int32_t w, std::int32_t h);

class MediaWriter {
  public:
    // Opens the encoder and writes the container's header to `temp_path`.
    // `final_path` names the output in messages. Streams of `copy_from` that
    // it carries over (audio, subtitles) are copied unchanged. Throws MediaError.
    MediaWriter(const std::string& temp_path, const std::string& final_path, const OutputFormat& format,
                const VideoSettings& video, const MediaReader* copy_from);
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;
    ~MediaWriter();

    // Where the next frame goes: packed B, G, R, X pixels, top row first,
    // rows frame_pitch() bytes apart. Pixels a conversion leaves alone keep
    // their value from the frame before (0 at first), as in `ocuvex raw`.
    std::uint8_t* frame_pixels() { return staging_.data(); }
    std::int32_t frame_pitch() const { return 4 * video_.w; }

    // Encodes the pixels at frame_pixels() with time `pts` (in video.time_base).
    void write_frame(std::int64_t pts);
    // Writes a packet of a copied stream of `copy_from`; takes its contents.
    void write_packet(AVPacket* packet);
    // Drains the encoder and completes the file. Throws MediaError.
    void finish();

  private:
    void open(const std::string& temp_path);
    void release();
    void drain_encoder(bool flushing);
    [[noreturn]] void fail_write(int code) const;

    std::string final_path_;
    OutputFormat format_;
    VideoSettings video_;
    const MediaReader* source_ = nullptr;
    AVFormatContext* muxer_ = nullptr;
    AVIOContext* still_io_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* video_stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<int> stream_map_;  // input stream index -> output stream index, or -1
    std::vector<std::uint8_t> staging_;
};

}  // namespace ocuvex::cli
