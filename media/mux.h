// The mux stage: the output's container, its streams, and packets written
// in increasing order with times the muxer takes. It owns the output's
// format context and, once open, its file; the streams are filled in by
// the stages that feed them before the header is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/containers.h"
#include "media/libav.h"
#include "media/stop_request.h"
#include "media/timestamps.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

class Muxer {
  public:
    // A muxer of `format`; `name` names the output in messages. Throws
    // MediaError.
    Muxer(const OutputFormat& format, std::string name, const StopRequest& stop = never_stopped());

    const OutputFormat& format() const { return format_; }
    const AVOutputFormat* muxer() const { return context_->oformat; }
    const Container& container() const { return container_; }
    AVFormatContext* context() { return context_.get(); }
    const std::string& name() const { return name_; }

    // A new stream, whose packets come in `packet_base` until said
    // otherwise (0/1: in the stream's own time base, which the muxer may
    // choose as it writes the header). Returns its index.
    int add_stream(AVRational packet_base = AVRational{0, 1});
    AVStream* stream(int index) { return streams_[static_cast<std::size_t>(index)].stream; }
    void set_packet_base(int index, AVRational packet_base) {
        streams_[static_cast<std::size_t>(index)].packet_base = packet_base;
    }

    // Opens `path` (for a sequence, the pattern of its files; nothing for a
    // muxer without a file, such as "null") and writes the header. Throws
    // MediaError.
    void open(const std::string& path);
    // Writes a packet of stream `index`, its times in the stream's packet
    // base; takes its contents. Throws MediaError and Interrupted.
    void write(int index, AVPacket* packet);
    // Writes the trailer and closes the file. Throws MediaError.
    void finish();

    // A write failure: "cannot write 'out.mp4': REASON". Throws Interrupted
    // instead once a stop was requested.
    [[noreturn]] void fail(int code) const;

  private:
    struct Stream {
        AVStream* stream = nullptr;  // owned by the context
        AVRational packet_base{0, 1};
        MuxTimestamps timestamps;
    };

    OutputFormat format_;
    std::string name_;
    const StopRequest& stop_;
    OutputContextPtr context_;
    const Container& container_;
    std::vector<Stream> streams_;
};

}  // namespace ocuvex::media
