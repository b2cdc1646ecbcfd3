// What becomes of the input's streams besides the converted video, as the
// output's container allows: each is copied unchanged where the container
// can hold it (libavformat's avformat_query_codec says), converted to the
// container's usual codec for its kind where it cannot, as the ffmpeg
// program converts by default (PCM to AAC in MP4, SubRip to mov_text and
// mov_text to ASS, a second video in Theora to H.264 in MP4), or left out
// with a line saying why. Nothing is dropped without a word.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/libav.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

enum class StreamAction {
    Copy,     // its packets copied unchanged (an attachment: its data)
    Convert,  // decoded and encoded again as the container's usual codec
    Attach,   // a cover picture, written as the Matroska attachment players show as a cover
    Carried,  // kept another way: a timecode track by the video's tag, an MP4 chapter track as the chapters
    Omit,     // left out: no conversion can place it in the container
};

struct StreamChoice {
    int index = -1;  // the input stream
    StreamAction action = StreamAction::Omit;
    AVCodecID codec = AV_CODEC_ID_NONE;  // Convert: the codec it becomes
    // One line for the user on what happens to it and why (a note for a
    // conversion, a warning for a stream left out); empty when copied.
    std::string message;
};

// What becomes of every stream of `input` but the converted video
// (`video_index`), in the input's order, when written by `output`, a
// muxer of the file `output_name`.
std::vector<StreamChoice> plan_streams(const AVFormatContext* input, int video_index, const AVOutputFormat* output,
                                       const std::string& output_name);

// "stream 2 (pcm_s16le audio, language fre)", for messages.
std::string describe_stream(const AVStream* stream);

// Decodes the packets of one input stream and encodes them again for the
// output, as a StreamChoice of action Convert says.
class StreamConverter {
  public:
    // Receives each encoded packet, its times in time_base(); it may take the contents.
    using Deliver = std::function<void(AVPacket*)>;
    virtual ~StreamConverter() = default;
    // Converts one packet of the input stream (times in its time base);
    // null drains what the decoder and encoder still hold.
    virtual void convert(const AVPacket* packet, const Deliver& deliver) = 0;
    virtual AVRational time_base() const = 0;
};

// Opens the decoder of `input` and the encoder of `codec`, and sets the
// codec parameters and time base of `output` for the muxer `muxer`.
// Subtitles are drawn for a video of `video_w` x `video_h`. Throws
// MediaError naming `output_name`.
std::unique_ptr<StreamConverter> make_stream_converter(const AVStream* input, AVCodecID codec, AVStream* output,
                                                       const AVOutputFormat* muxer, int video_w, int video_h,
                                                       const std::string& output_name);

// Makes `output` the Matroska attachment of the cover picture `input` (a
// stream with the attached-picture disposition). Throws MediaError.
void make_cover_attachment(const AVStream* input, AVStream* output);

// Copies the chapters of `input` into `output`, `shift` (AV_TIME_BASE units)
// earlier. Throws MediaError when out of memory.
void copy_chapters(const AVFormatContext* input, AVFormatContext* output, std::int64_t shift);

}  // namespace ocuvex::media
