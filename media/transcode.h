// The carried streams that the output's container cannot hold as they are,
// decoded and encoded again as the container's usual codec for their kind,
// as the ffmpeg program converts them by default: audio through a
// libavfilter graph to a sample format, rate and layout the encoder takes,
// another video stream at its own size and frame times, subtitle events one
// by one (text to text, pictures to pictures).
#pragma once

#include <memory>
#include <string>

#include "media/encode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

class Transcoder {
  public:
    virtual ~Transcoder() = default;
    // Converts one packet of the input stream (times in its time base);
    // null drains what the decoder and encoder still hold. Packets come out
    // through `deliver`, their times in time_base(). Throws MediaError.
    virtual void convert(const AVPacket* packet, const PacketSink& deliver) = 0;
    virtual AVRational time_base() const = 0;
};

// Opens the decoder of `input` and an encoder of `codec` for `output`, a
// stream of an output written by `muxer`, whose codec parameters and time
// base it sets. Subtitles are drawn for a video of `video_w` x `video_h`.
// Messages name the output `output_name`. Throws MediaError.
std::unique_ptr<Transcoder> make_transcoder(const AVStream* input, AVCodecID codec, AVStream* output,
                                            const AVOutputFormat* muxer, int video_w, int video_h,
                                            const std::string& output_name);

}  // namespace ocuvex::media
