// What every stage of the media layer shares: its error type, owners for
// libav* objects, FFmpeg's error texts and the captured library log.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/printable.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

// A failure reading or writing media: reported as one line, exit status 1.
struct MediaError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Owners of libav* objects, each freed by the library's matching function.
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct CodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct InputContextClose {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// An output context owns the file it opened (not a custom or absent one).
struct OutputContextFree {
    void operator()(AVFormatContext* context) const;
};
struct FilterGraphFree {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
// A custom AVIOContext together with its buffer, which FFmpeg may replace.
struct IOContextFree {
    void operator()(AVIOContext* context) const;
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextClose>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFree>;
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextFree>;

struct FilterInOutFree {
    void operator()(AVFilterInOut* list) const { avfilter_inout_free(&list); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutFree>;

// Allocators that throw MediaError("out of memory") rather than return null.
FramePtr allocate_frame();
PacketPtr allocate_packet();

// `pointer`, which a libav* allocator returned: throws MediaError("out of
// memory") when it is null.
template <typename Object>
Object* allocated(Object* pointer) {
    if (pointer == nullptr) {
        throw MediaError("out of memory");
    }
    return pointer;
}
// The status of a libav* call that fails only when memory runs out (storing
// a dictionary entry, copying parameters): throws MediaError("out of
// memory") when it is negative.
int check_memory(int status);

// FFmpeg's text for an AVERROR code, e.g. "No such file or directory".
std::string av_error_text(int code);

// The status of a libav* call: returned as it is unless negative, which
// throws MediaError "WHAT: REASON" with FFmpeg's text for the code
// (ENOMEM: "out of memory" alone).
int check(int status, const std::string& what);
// The same with the library's own explanation where it logged one since
// clear_library_error() (an encoder's "width not divisible by 2"), which
// says more than the code; call clear_library_error() before the call.
int check_logged(int status, const std::string& what);

// Routes FFmpeg's own log into a buffer instead of standard error, so every
// failure stays one line; last_library_error() gives the latest error line
// (empty when none), to explain a failure FFmpeg reports only by code.
void capture_library_log();
std::string last_library_error();
void clear_library_error();

// The error lines one decoder logs, each told by the number of the packet it
// was decoding, as the ffmpeg program shows them at -v error (they stay out
// of the terminal all the same). The log callback is the process's own: a
// codec context, and every copy its frame threads decode in, carries
// `opaque`, which the library copies to a frame thread with each packet;
// here it points at the slot of that packet's number, and the callback gives
// the lines of a context whose class is the codec context's and whose
// `opaque` lies in a watch to that watch. No words are matched.
class DecoderLog {
  public:
    struct Line {
        std::int64_t packet;  // the number given to decoding(); -1 before the first
        std::string text;
    };
    DecoderLog();
    DecoderLog(const DecoderLog&) = delete;
    DecoderLog& operator=(const DecoderLog&) = delete;
    // Stops watching; the context must be freed by then.
    ~DecoderLog();
    // Lines `context` logs from now on belong to packet `number`, until the
    // next call; a frame thread's lines to the packet it was given.
    void decoding(AVCodecContext* context, std::int64_t number);
    // Moves the lines logged since the last call into `lines` (cleared
    // first), oldest first.
    void take(std::vector<Line>& lines);

    // Packets in flight at once, at most: far more than frame threads and
    // reordering hold.
    static constexpr std::size_t kSlots = 256;

  private:
    friend struct DecoderLogAccess;
    std::array<std::int64_t, kSlots> slots_{};  // guarded by the log's lock
    std::vector<Line> lines_;                   // guarded by the log's lock
};

// Dictionary of FFmpeg options, freed on scope exit.
class OptionDict {
  public:
    OptionDict() = default;
    OptionDict(const OptionDict&) = delete;
    OptionDict& operator=(const OptionDict&) = delete;
    ~OptionDict() { av_dict_free(&dict_); }
    // Throws MediaError when FFmpeg cannot store it.
    void set(const char* key, const char* value);
    void set(const char* key, std::int64_t value);
    AVDictionary** get() { return &dict_; }

  private:
    AVDictionary* dict_ = nullptr;
};

}  // namespace ocuvex::media
