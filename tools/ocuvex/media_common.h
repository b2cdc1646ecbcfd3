// What the FFmpeg reader and writer share: their error type, FFmpeg's error
// texts, the captured library log and the stop request raised by a signal.
#pragma once

#include <csignal>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace ocuvex::cli {

// How pixels are converted between the codecs' formats and the core's 32-bit
// pixels, both ways. Bicubic with libswscale's default rounding, as the
// ffmpeg program converts; the more exact rounding and full chroma
// interpolation cost a quarter of a whole H.264 job's time.
inline constexpr int kScalerFlags = SWS_BICUBIC;

// A failure reading or writing media: reported as one line, exit status 1.
struct MediaError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raised inside the conversion loop once SIGINT or SIGTERM has arrived.
struct Interrupted : std::runtime_error {
    explicit Interrupted(int signal) : std::runtime_error("interrupted"), signal(signal) {}
    int signal;
};

// FFmpeg's text for an AVERROR code, e.g. "No such file or directory".
std::string av_error_text(int code);

// Quotes a path for messages: 'dir/name.mkv'.
std::string quoted(const std::string& path);

// Routes FFmpeg's own log into a buffer instead of standard error, so every
// failure stays one line; last_library_error() gives the latest error line
// (empty when none), to explain a failure FFmpeg reports only by code.
void capture_library_log();
std::string last_library_error();
void clear_library_error();
// How many errors decoders and demuxers have logged so far, and the latest.
long input_error_count(std::string* last = nullptr);

// The signal that asked the conversion to stop, or 0. Set by the handlers
// install_stop_handlers() installs; a second signal ends the process at once.
extern volatile std::sig_atomic_t stop_signal;
void install_stop_handlers();
void throw_if_stopped();

// Lets FFmpeg abandon blocking reads and writes once a stop is requested.
AVIOInterruptCB stop_interrupt_callback();

// Dictionary of FFmpeg options, freed on scope exit.
class OptionDict {
  public:
    OptionDict() = default;
    OptionDict(const OptionDict&) = delete;
    OptionDict& operator=(const OptionDict&) = delete;
    ~OptionDict() { av_dict_free(&dict_); }
    void set(const char* key, const char* value) { av_dict_set(&dict_, key, value, 0); }
    AVDictionary** get() { return &dict_; }

  private:
    AVDictionary* dict_ = nullptr;
};

}  // namespace ocuvex::cli
