// The encode stage: one Encoder for every stream a job encodes, the
// converted video and each carried stream converted for the container, so
// that all of them start from the same defaults: libavcodec's threads, a
// global header where the container wants one, and for video a time base of
// one tick a frame at the input's frame rate, as the ffmpeg program opens
// its encoders.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "media/libav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

// Receives an encoded packet, its times in the encoder's time base; it may
// take the packet's contents.
using PacketSink = std::function<void(AVPacket*)>;

class Encoder {
  public:
    // An encoder of `codec`, to be set up through context() and opened.
    explicit Encoder(const AVCodec* codec);

    AVCodecContext* context() { return context_.get(); }
    const AVCodecContext* context() const { return context_.get(); }

    // Opens it for `stream` of an output written by `muxer`; the stream
    // takes its codec parameters and time base. `what` names what is
    // encoded in messages, e.g. "cannot encode 'out.mp4' with libx264".
    // Throws MediaError with the encoder's own explanation.
    void open(AVStream* stream, const AVOutputFormat* muxer, const std::string& what);

    // Sends `frame` (null: the end) and hands each packet it gives back to
    // `deliver`. Throws MediaError.
    void encode(const AVFrame* frame, const PacketSink& deliver);
    // Encodes one subtitle event into a packet starting at its pts, valid
    // until the next call. Throws MediaError.
    AVPacket* encode(const AVSubtitle& subtitle);

  private:
    CodecContextPtr context_;
    PacketPtr packet_ = allocate_packet();
    std::string what_;
    std::vector<std::uint8_t> subtitle_buffer_;
};

// The video encoder named `name`, or null.
const AVCodec* find_video_encoder(const std::string& name);

// What every video encoder of a job starts from: pictures of w x h in
// `format`, `sample_aspect_ratio`, and the frame rate (and its inverse, the
// time base) that the input's rate gives (choose_encoder_frame_rate).
void set_video_defaults(AVCodecContext* encoder, int w, int h, AVPixelFormat format, AVRational input_rate,
                        AVRational sample_aspect_ratio);

// The pixel format w x h pictures of `pictures` are encoded in with
// `codec`: the first of `preferred` (the formats the file should hold, best
// first) the encoder takes, else the one nearest to the first of them that
// it takes (FFmpeg's judgement), else that first one itself for an encoder
// that takes any (rawvideo). H.264 and H.265 encoders take chroma
// subsampled across a side only when that side is even: 4:2:0 needs both,
// 4:2:2 an even width. JPEG is full range: the yuvj format nearest to the
// first of `preferred`, as the ffmpeg program chooses (yuvj420p for
// yuv420p, yuvj444p for RGB).
AVPixelFormat choose_pixel_format(const AVCodec* codec, AVPixelFormat pictures,
                                  std::span<const AVPixelFormat> preferred, int w, int h);

// The profile an H.264 or H.265 encoder gives pictures of `format`, for notes.
std::string profile_name(AVCodecID codec, AVPixelFormat format);

// Whether the encoder takes chroma subsampled across an odd side.
bool takes_odd_subsampled_sides(const AVCodec* codec);

}  // namespace ocuvex::media
