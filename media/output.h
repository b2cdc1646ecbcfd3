// Writes converted frames through libavcodec and libavformat: a video in the
// container OUTPUT's name asks for, carrying what the input holds besides
// its converted video (streams, chapters, metadata, the display matrix), an
// image sequence, or a single still picture (the image2 muxers).
// Pictures come in one pixel format (the source's own for the copy modes,
// the core's 32-bit pixels for the anaglyph) and are encoded in it where the
// encoder takes it, else in the nearest format it takes; the colour tags go
// along.
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

#include "media/libav.h"
#include "media/stop_request.h"
#include "media/stereo_metadata.h"
#include "media/scale_graph.h"
#include "media/picture_planes.h"
#include "media/stream_map.h"
#include "media/timestamps.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

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
    std::string codec;                            // empty: the format's default
    std::optional<int> crf;                       // empty: the codec's sensible default
    std::optional<StereoLayout> stereo_layout;    // tagged where the container can say it
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;  // of the container's video stream
    bool quiet = false;                           // silences the encoders' own logs too
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
    // (for a sequence, the pattern of its files; nothing for a muxer without
    // a file, such as "null"). `final_path` names the output in messages.
    // What `copy_from` holds besides its converted video is carried as
    // plan_streams() decides, its chapters and metadata too, and the output
    // starts at 0. Throws MediaError.
    MediaWriter(const std::string& temp_path, const std::string& final_path, const OutputFormat& format,
                const VideoSettings& video, const MediaReader* copy_from,
                const StopRequest& stop = never_stopped());
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
    std::int64_t frames_dropped() const { return frames_dropped_; }
    // Lines for the user on what the output could not carry as the input
    // has it: a stream converted (a note), a stream or the display matrix
    // left out (a warning); and on the video's encoding: another pixel
    // format than the pictures' (a note), a profile an odd size forces (a
    // note).
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
    void note_pixel_format(const AVCodec* codec, AVPixelFormat pixel_format);
    FramePtr new_picture() const;
    void add_video_stream(const MediaReader* source);
    void tag_stereo_layout(AVStream* stream);
    void add_carried_streams(const MediaReader& source);
    void open_file(const std::string& temp_path);
    void drain_encoder(bool flushing);
    void write_to_muxer(OutputStream& stream, AVPacket* packet);
    [[noreturn]] void fail_write(int code) const;

    std::string final_path_;
    const StopRequest& stop_;
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
    std::vector<Notice> notices_;
    std::int64_t start_ = 0;  // the input's start, AV_TIME_BASE units: the output's 0
    std::int64_t frames_dropped_ = 0;
};

}  // namespace ocuvex::media
