// The converted video's way out: pictures handed in one at a time, placed
// on the encoder's time base, brought to the pixel format the encoder takes
// where theirs differs (and to the size asked, where one is), encoded and
// handed to the muxer. Pictures come in one pixel format (the source's own
// for the copy modes, the core's 32-bit pixels for the anaglyph) and are
// encoded in the first of the formats the file should hold that the encoder
// takes, else in the nearest it takes; the colour tags go along.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/encode.h"
#include "media/mux.h"
#include "media/notice.h"
#include "media/picture_colour.h"
#include "media/scale_graph.h"
#include "media/stereo_metadata.h"
#include "media/timestamps.h"

namespace ocuvex::media {

// The pictures a VideoOutput is handed.
struct PictureFormat {
    int w = 0;
    int h = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    ColourDescription colour;  // what their numbers mean
    // For RGB pictures, the matrix of a YUV encoding (the source's, for the
    // anaglyph of a YUV video); unspecified: BT.709.
    AVColorSpace yuv_matrix = AVCOL_SPC_UNSPECIFIED;
    // The formats the file should hold them in, best first; empty: `format`.
    std::vector<AVPixelFormat> file_formats;
};

// How the video is encoded, as the user asked.
struct VideoEncoding {
    std::string codec;       // empty: the container's usual encoder
    std::optional<int> crf;  // empty: the codec's sensible default
    bool quiet = false;      // silences the encoders' own logs too
    // The encoder's pixel format, whatever the pictures; NONE: chosen.
    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
    // The encoded pictures' size; 0: the pictures' own. Another size
    // scales them with libswscale (a half packing's squeeze).
    int width = 0;
    int height = 0;
};

// What the video stream says besides its pictures.
struct VideoTags {
    AVRational frame_rate{0, 1};                  // the input's; 0/1 when unknown
    AVRational sample_aspect_ratio{0, 1};         // 0/1: none said
    std::optional<StereoLayout> stereo_layout;    // tagged where the container can say it
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;  // the container's flag
    // The input video whose tags (language, title, timecode, ...),
    // disposition, display matrix and HDR metadata the stream keeps; null:
    // none.
    const AVStream* source = nullptr;
};

// What is wrong with the choice of encoder for `format`: `encoding.codec`
// names no video encoder FFmpeg has, or a --crf is given for one without;
// empty when nothing is.
std::string codec_choice_problem(const OutputFormat& format, const VideoEncoding& encoding);

class VideoOutput {
  public:
    // Opens the encoder and adds the video stream to `muxer`, whose header
    // is not written yet; notes on the encoding go to `notices`. Packets go
    // onto `timeline`. Throws MediaError.
    VideoOutput(Muxer& muxer, const PictureFormat& pictures, const VideoEncoding& encoding, const VideoTags& tags,
                const Timeline& timeline, Notices& notices);
    VideoOutput(const VideoOutput&) = delete;
    VideoOutput& operator=(const VideoOutput&) = delete;

    // The frame the next picture goes into: pictures' w x h pixels of their
    // format, top row first. Pixels a conversion leaves alone are black
    // (alpha opaque), as in `ocuvex raw`: a few frames take turns, each
    // black at first, and every picture writes the same pixels.
    AVFrame* next_picture();
    // Encodes that picture as a frame at `pts` lasting `duration` (both in
    // `time_base`; duration 0 when unknown). False when the frame falls
    // behind the ones before it and is dropped.
    bool write_picture(std::int64_t pts, std::int64_t duration, AVRational time_base);
    // The same for `picture`, one of new_picture()'s, which another thread
    // may have converted into while the one before was encoded.
    bool write_picture(AVFrame* picture, std::int64_t pts, std::int64_t duration, AVRational time_base);
    // A new picture of the pictures' format and size, black as
    // next_picture()'s are at first.
    FramePtr new_picture() const;
    // Drains the encoder into the muxer. Throws MediaError.
    void finish();

    AVRational encoder_time_base() const { return encoder_.context()->time_base; }
    AVPixelFormat encoder_pixel_format() const { return encoder_.context()->pix_fmt; }
    std::int64_t frames_dropped() const { return frames_dropped_; }

  private:
    const AVCodec* open_encoder(const VideoEncoding& encoding, AVPixelFormat pixel_format);
    void note_pixel_format(const AVCodec* codec, AVPixelFormat chosen, Notices& notices);
    void tag_stream(const VideoTags& tags, Notices& notices);
    void tag_stereo_layout(const StereoLayout& layout);
    void deliver(AVPacket* packet);

    Muxer& muxer_;
    PictureFormat pictures_;
    const Timeline& timeline_;
    int stream_index_ = -1;
    Encoder encoder_;
    std::vector<FramePtr> pool_;  // they take turns; see next_picture()
    std::size_t current_ = 0;
    std::optional<ScaleGraph> to_encoder_;
    VideoSync sync_;
    AVRational picture_time_base_{0, 1};  // of the times write_picture() is given
    std::int64_t frames_dropped_ = 0;
};

}  // namespace ocuvex::media
