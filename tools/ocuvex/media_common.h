// What the FFmpeg reader, writer and pixel graphs share: their error types,
// owners for libav* objects, FFmpeg's error texts, the captured library log
// and the stop request raised by a signal.
#pragma once

#include <atomic>
#include <csignal>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/ocuvex/printable.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::cli {

// A failure reading or writing media: reported as one line, exit status 1.
struct MediaError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raised inside the conversion once a signal asked the process to stop.
struct Interrupted : std::runtime_error {
    explicit Interrupted(int signal) : std::runtime_error("interrupted"), signal(signal) {}
    int signal;
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
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextClose>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFree>;
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextFree>;

// Allocators that throw MediaError("out of memory") rather than return null.
FramePtr allocate_frame();
PacketPtr allocate_packet();

// FFmpeg's text for an AVERROR code, e.g. "No such file or directory".
std::string av_error_text(int code);

// Routes FFmpeg's own log into a buffer instead of standard error, so every
// failure stays one line; last_library_error() gives the latest error line
// (empty when none), to explain a failure FFmpeg reports only by code.
void capture_library_log();
std::string last_library_error();
void clear_library_error();

// The signal that asked the conversion to stop, or 0. Set by the handlers
// install_stop_handlers() installs for every signal that ends the process
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE); a second one ends the process
// at once, after removing the file named by set_signal_cleanup_path().
// Atomic: FFmpeg's threads take signals too, and two signals may be handled
// on two threads at once; exactly one of them is the first.
extern std::atomic<int> stop_signal;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may use it");
void install_stop_handlers();
void throw_if_stopped();
// The file (or folder of files) a second signal removes before the process
// ends; empty: none.
void set_signal_cleanup_path(const std::string& path);

// Lets FFmpeg abandon blocking reads and writes once a stop is requested.
AVIOInterruptCB stop_interrupt_callback();

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

}  // namespace ocuvex::cli
