// Writes converted frames through libavcodec and libavformat: a video in the
// container OUTPUT's name asks for, carrying what the input holds besides
// its converted video (streams, chapters, metadata, the display matrix), an
// image sequence, or a single still picture (the image2 muxers).
//
// The output streams are a table: the encoded video first, then one entry
// per carried input stream, each with the time base its packets come in,
// the timestamps it has handed to the muxer and, for a stream converted to
// a codec the container holds, its converter. Every timestamp is moved so
// that the output starts at 0, as the ffmpeg program's outputs do.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ocuvex/media_common.h"
#include "tools/ocuvex/media_layout.h"
#include "tools/ocuvex/media_pixels.h"
#include "tools/ocuvex/media_streams.h"
#include "tools/ocuvex/media_timestamps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::cli {

class MediaReader;

enum class OutputKind {
    Video,
    Still,     // one picture
    Sequence,  // one picture file per frame, numbered by the name's pattern (out%04d.png)
};

struct OutputFormat {
    const char* muxer;          // libavformat's name
    const char* default_codec;  // libavcodec's encoder name
    OutputKind kind = OutputKind::Video;
    bool is_still() const { return kind == OutputKind::Still; }
    bool is_sequence() const { return kind == OutputKind::Sequence; }
};

// The format OUTPUT's name asks for, as the ffmpeg program chooses it: the
// muxer its extension names (in any case), with that container's usual
// video encoder. An image format writes one picture (Still), or one file per
// frame when the name holds a frame number pattern such as %04d (Sequence).
// Nothing, with the reason in `why`, when FFmpeg has no muxer for the
// extension or the format holds no video.
std::optional<OutputFormat> find_output_format(std::string_view path, std::string* why = nullptr);
// The same image format writing one picture under the name as it stands:
// what a pattern name gets from a still input.
OutputFormat as_single_picture(const OutputFormat& format);
// A few extensions for messages: ".mp4, .mkv, ...".
std::string known_output_extensions();

struct VideoSettings {
    int w = 0;
    int h = 0;
    AVRational frame_rate{0, 1};  // the input's; 0/1 when unknown
    AVRational sample_aspect_ratio{0, 1};
    std::string codec;                             // empty: the format's default
    std::optional<int> crf;                        // empty: the codec's sensible default
    std::optional<StereoLayout> stereo_layout;     // tagged where the container can say it
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;   // of the container's video stream
    bool quiet = false;                            // silences the encoders' own logs too
    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;  // NONE: choose_pixel_format()'s
};

// What is wrong with the choice of encoder: `codec` names no video encoder
// FFmpeg has, or a --crf is given for one without; empty when nothing is.
std::string codec_choice_problem(const OutputFormat& format, const VideoSettings& video);

// The pixel format the writer encodes a w x h picture in with `codec`: the
// core's own B, G, R, X where the encoder takes it (lossless, e.g. ffv1),
// else packed RGB, else 4:2:0 when both sides are even and 4:4:4 when not.
AVPixelFormat choose_pixel_format(const AVCodec* codec, int w, int h);

class MediaWriter {
  public:
    // Opens the encoder and writes the container's header to `temp_path`
    // (for a sequence, the pattern of its files; nothing for a muxer without
    // a file, such as "null"). `final_path` names the output in messages.
    // What `copy_from` holds besides its converted video is carried as
    // plan_streams() decides, its chapters and metadata too, and the output
    // starts at 0. Throws MediaError.
    MediaWriter(const std::string& temp_path, const std::string& final_path, const OutputFormat& format,
                const VideoSettings& video, const MediaReader* copy_from);
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;
    ~MediaWriter() = default;

    // The frame the next picture goes into: packed B, G, R, X pixels of
    // video.w x video.h, top row first. Pixels a conversion leaves alone keep
    // their value from the picture before (0 at first), as in `ocuvex raw`.
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
    std::int64_t frames_dropped() const { return frames_dropped_; }
    // Lines for the user on what the output could not carry as the input
    // has it: a stream converted (a note), a stream or the display matrix
    // left out (a warning).
    struct Notice {
        bool warning;
        std::string text;
    };
    const std::vector<Notice>& notices() const { return notices_; }

  private:
    // One stream of the output and what its packets need on the way in.
    struct OutputStream {
        AVStream* stream = nullptr;   // owned by the muxer
        AVRational source_time_base;  // of the packets handed in
        MuxTimestamps timestamps;
        AVRational input_time_base{0, 1};            // of the input stream's packets, before conversion
        bool starts_at_zero = true;                  // its times move with the timeline; not a cover picture's
        std::unique_ptr<StreamConverter> converter;  // null: copied unchanged
    };

    void open_encoder(const AVCodec* codec, AVPixelFormat pixel_format);
    void add_video_stream(const MediaReader* source);
    void tag_stereo_layout(AVStream* stream);
    void add_carried_streams(const MediaReader& source);
    void open_file(const std::string& temp_path);
    void drain_encoder(bool flushing);
    void write_to_muxer(OutputStream& stream, AVPacket* packet);
    [[noreturn]] void fail_write(int code) const;

    std::string final_path_;
    OutputFormat format_;
    VideoSettings video_;
    OutputContextPtr muxer_;
    CodecContextPtr encoder_;
    FramePtr picture_ = allocate_frame();
    PacketPtr packet_ = allocate_packet();
    std::optional<PixelGraph> to_encoder_;
    VideoSync sync_;
    AVRational picture_time_base_{0, 1};  // of the times write_picture() is given
    std::vector<OutputStream> streams_;   // [0] the encoded video, in the muxer's time base
    std::vector<int> stream_of_input_;    // input stream index -> streams_ index, or -1
    std::vector<Notice> notices_;
    std::int64_t start_ = 0;  // the input's start, AV_TIME_BASE units: the output's 0
    std::int64_t frames_dropped_ = 0;
};

}  // namespace ocuvex::cli
