// What becomes of the input's streams besides the converted video, as the
// output's container allows: each is copied unchanged where the container
// can hold it (libavformat's avformat_query_codec says), converted to the
// container's usual codec for its kind where it cannot, as the ffmpeg
// program converts by default (PCM to AAC in MP4, SubRip to mov_text and
// mov_text to ASS, a second video in Theora to H.264 in MP4), or left out
// with a line saying why. Nothing is dropped without a word. The file's own
// tags and chapters go along.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/libav.h"
#include "media/mux.h"
#include "media/notice.h"
#include "media/timestamps.h"
#include "media/transcode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

enum class StreamAction {
    Copy,     // its packets copied unchanged (an attachment: its data)
    Convert,  // decoded and encoded again as the container's usual codec
    Attach,   // a cover picture, written as the Matroska attachment players show as a cover
    // Its content reaches the output another way: a timecode track by the
    // video's timecode tag, an MP4's chapter track as the chapters.
    WrittenOtherwise,
    Omit,  // left out: no conversion can place it in the container
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
std::string stream_text(const AVStream* stream);

// Makes `output` the Matroska attachment of the cover picture `input` (a
// stream with the attached-picture disposition). Throws MediaError.
void make_cover_attachment(const AVStream* input, AVStream* output);

// Gives the output the input file's tags and its chapters, moved onto the
// output's timeline (those over before it starts left out). Throws
// MediaError.
void carry_file_tags(const AVFormatContext* input, Muxer& muxer, const Timeline& timeline);

// The input's other streams in the output, as plan_streams() chooses: each
// gets its output stream (added to the muxer before its header is written),
// and its packets go there as they are or through a transcoder, onto the
// output's timeline.
class StreamMap {
  public:
    // Subtitles converted for the output are drawn for a video of
    // `video_w` x `video_h`. Notes and warnings go to `notices`. Throws
    // MediaError.
    StreamMap(const AVFormatContext* input, int video_index, Muxer& muxer, const Timeline& timeline, int video_w,
              int video_h, Notices& notices);

    // Writes a packet of the input (of any stream but the converted video;
    // one of a stream left out is dropped); takes its contents.
    void write(AVPacket* packet);
    // Drains what the transcoders still hold.
    void finish();

  private:
    struct Route {
        int output = -1;  // the muxer's stream; -1: not written
        AVRational input_base{0, 1};
        bool on_timeline = true;
        std::unique_ptr<Transcoder> transcoder;  // null: copied unchanged
    };

    Muxer& muxer_;
    const Timeline& timeline_;
    std::vector<Route> routes_;  // by input stream index
};

}  // namespace ocuvex::media
