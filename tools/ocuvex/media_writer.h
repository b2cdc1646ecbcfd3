// Writes converted frames through libavcodec and libavformat: a video in the
// container OUTPUT's extension names, with the input's audio and subtitle
// streams copied unchanged, or a single still picture (the image2 muxer).
// Pictures come in one pixel format (the source's own for the copy modes,
// the core's 32-bit pixels for the anaglyph) and are encoded in it where the
// encoder takes it, else in the nearest format it takes; the colour tags go
// along.
//
// The output streams are a table: the encoded video first, then one entry
// per carried input stream, each with the time base its packets come in and
// the timestamps it has handed to the muxer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ocuvex/media_common.h"
#include "tools/ocuvex/media_pixels.h"
#include "tools/ocuvex/media_planes.h"
#include "tools/ocuvex/media_timestamps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::cli {

class MediaReader;

struct OutputFormat {
    const char* extension;      // lower case, with the dot
    const char* muxer;          // libavformat's name
    const char* default_codec;  // libavcodec's encoder name
    bool still;                 // one picture rather than a video
    bool is_still() const { return still; }
};

// The format OUTPUT's extension names (case does not matter), or null.
const OutputFormat* find_output_format(std::string_view path);
// The extensions find_output_format() knows, for messages: ".mp4, .mkv, ...".
std::string known_output_extensions();

struct VideoSettings {
    int w = 0;
    int h = 0;
    AVRational frame_rate{0, 1};  // the input's; 0/1 when unknown
    AVRational sample_aspect_ratio{0, 1};
    std::string codec;                  // empty: the format's default
    std::optional<int> crf;             // empty: the codec's sensible default
    const char* stereo_mode = nullptr;  // Matroska's name of the layout, or null
    // The pictures handed in: a source's own pixels in this format (the copy
    // modes), or with NONE the core's 32-bit B, G, R, X pixels (the anaglyph).
    AVPixelFormat source_format = AV_PIX_FMT_NONE;
    ColourDescription colour;  // what the pictures' numbers mean
    // For RGB pictures, the matrix of a YUV encoding (the source's, for the
    // anaglyph of a YUV video); unspecified: BT.709, with BT.709 primaries
    // and transfer where those are unspecified too.
    AVColorSpace yuv_matrix = AVCOL_SPC_UNSPECIFIED;
    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;  // the encoder's; NONE: choose_pixel_format()'s

    AVPixelFormat picture_format() const { return source_format != AV_PIX_FMT_NONE ? source_format : AV_PIX_FMT_BGR0; }
};

// What is wrong with the choice of encoder: `codec` names no video encoder
// FFmpeg has, or a --crf is given for one without; empty when nothing is.
std::string codec_choice_problem(const OutputFormat& format, const VideoSettings& video);

// The pixel format the writer encodes w x h pictures in with `codec`. A
// source's own pixels (`source_format`): in that format where the encoder
// takes it, else in the nearest it takes (FFmpeg's judgement). The core's
// 32-bit pixels (`source_format` NONE): as they are where the encoder takes
// them (lossless, e.g. ffv1), else packed RGB, else 4:2:0, which plays
// everywhere, else 4:4:4. H.264 and H.265 encoders take chroma subsampled
// across a side only when that side is even: 4:2:0 needs both, 4:2:2 an even
// width. JPEG is full range: a source's yuvj format, else yuvj444p.
AVPixelFormat choose_pixel_format(const AVCodec* codec, AVPixelFormat source_format, int w, int h);

class MediaWriter {
  public:
    // Opens the encoder and writes the container's header to `temp_path`
    // (nothing for a muxer without a file, such as "null"). `final_path`
    // names the output in messages. Streams of `copy_from` that it carries
    // (audio, subtitles) are copied unchanged. Throws MediaError.
    MediaWriter(const std::string& temp_path, const std::string& final_path, const OutputFormat& format,
                const VideoSettings& video, const MediaReader* copy_from);
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;
    ~MediaWriter() = default;

    // The frame the next picture goes into: video.w x video.h pixels of
    // video.picture_format(), top row first. Pixels a conversion leaves alone
    // are black (alpha opaque), as in `ocuvex raw`: a few frames take turns,
    // each black at first, and every picture writes the same pixels.
    AVFrame* next_picture();
    // Encodes that picture as a frame at `pts` lasting `duration` (both in
    // `time_base`; duration 0 when unknown). False when the frame falls
    // behind the ones before it and is dropped.
    bool write_picture(std::int64_t pts, std::int64_t duration, AVRational time_base);
    // Writes a packet of a carried stream of `copy_from`; takes its contents.
    void write_packet(AVPacket* packet);
    // Drains the encoder and completes the file. Throws MediaError.
    void finish();

    AVRational encoder_time_base() const { return encoder_->time_base; }
    AVPixelFormat encoder_pixel_format() const { return encoder_->pix_fmt; }
    // One line each on what the user should know about the encoding: another
    // pixel format than the pictures', or a profile an odd size forces.
    const std::vector<std::string>& notes() const { return notes_; }
    std::int64_t frames_dropped() const { return frames_dropped_; }

  private:
    // One stream of the output and what its packets need on the way in.
    struct OutputStream {
        AVStream* stream = nullptr;   // owned by the muxer
        AVRational source_time_base;  // of the packets handed in
        MuxTimestamps timestamps;
    };

    void open_encoder(const AVCodec* codec, AVPixelFormat pixel_format);
    void note_pixel_format(const AVCodec* codec, AVPixelFormat pixel_format);
    FramePtr new_picture() const;
    void add_video_stream();
    void add_copied_streams(const MediaReader& source);
    void open_file(const std::string& temp_path);
    void drain_encoder(bool flushing);
    void write_to_muxer(OutputStream& stream, AVPacket* packet);
    [[noreturn]] void fail_write(int code) const;

    std::string final_path_;
    OutputFormat format_;
    VideoSettings video_;
    OutputContextPtr muxer_;
    CodecContextPtr encoder_;
    std::vector<FramePtr> pictures_;  // they take turns; see next_picture()
    std::size_t current_ = 0;
    PacketPtr packet_ = allocate_packet();
    std::optional<PixelGraph> to_encoder_;
    VideoSync sync_;
    AVRational picture_time_base_{0, 1};  // of the times write_picture() is given
    std::vector<OutputStream> streams_;   // [0] the encoded video, in the muxer's time base
    std::vector<int> stream_of_input_;    // input stream index -> streams_ index, or -1
    std::int64_t frames_dropped_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace ocuvex::cli
