#include "media/mux.h"

namespace ocuvex::media {

namespace {

AVFormatContext* output_context(const OutputFormat& format, const std::string& name) {
    AVFormatContext* context = nullptr;
    const int status = avformat_alloc_output_context2(&context, nullptr, format.muxer, nullptr);
    check(status, "cannot write " + quoted(name));
    return allocated(context);
}

}  // namespace

Muxer::Muxer(const OutputFormat& format, std::string name, const StopRequest& stop)
    : format_(format),
      name_(std::move(name)),
      stop_(stop),
      context_(output_context(format, name_)),
      container_(container_of(context_->oformat)) {
    context_->interrupt_callback = stop_.interrupt_callback();
}

int Muxer::add_stream(AVRational packet_base) {
    AVStream* stream = allocated(avformat_new_stream(context_.get(), nullptr));
    streams_.push_back(Stream{stream, packet_base, {}});
    return static_cast<int>(streams_.size()) - 1;
}

void Muxer::open(const std::string& path) {
    if (!path.empty()) {
        // The mp4 muxer reopens the file by this name to move its index to
        // the front; the image2 muxer makes each picture's file name from it.
        av_freep(&context_->url);
        context_->url = allocated(av_strdup(("file:" + path).c_str()));
    }
    if ((context_->oformat->flags & AVFMT_NOFILE) == 0) {
        const int status =
            avio_open2(&context_->pb, context_->url, AVIO_FLAG_WRITE, &context_->interrupt_callback, nullptr);
        if (status < 0) {
            fail(status);
        }
    }
    OptionDict options;
    if (container_.index_in_front) {
        options.set("movflags", "+faststart");
    }
    clear_library_error();
    const int status = avformat_write_header(context_.get(), options.get());
    if (status == AVERROR_EXPERIMENTAL) {
        std::string codecs;
        for (std::size_t i = 1; i < streams_.size(); ++i) {
            codecs +=
                std::string(codecs.empty() ? "" : ", ") + avcodec_get_name(streams_[i].stream->codecpar->codec_id);
        }
        throw MediaError(quoted(name_) + " would hold the input's " + codecs +
                         " only as an experimental feature of FFmpeg; try .mkv");
    }
    if (status < 0) {
        fail(status);
    }
    for (Stream& stream : streams_) {
        if (stream.packet_base.num == 0) {
            stream.packet_base = stream.stream->time_base;
        }
    }
}

void Muxer::write(int index, AVPacket* packet) {
    stop_.throw_if_requested();
    Stream& out = streams_[static_cast<std::size_t>(index)];
    av_packet_rescale_ts(packet, out.packet_base, out.stream->time_base);
    packet->stream_index = out.stream->index;
    packet->pos = -1;
    if ((context_->oformat->flags & AVFMT_NOTIMESTAMPS) == 0) {
        out.timestamps.mend(*packet, (context_->oformat->flags & AVFMT_TS_NONSTRICT) != 0);
    }
    const int status = av_interleaved_write_frame(context_.get(), packet);
    if (status < 0) {
        fail(status);
    }
}

void Muxer::finish() {
    int status = av_write_trailer(context_.get());
    if (status < 0) {
        fail(status);
    }
    if (context_->pb != nullptr && (context_->oformat->flags & AVFMT_NOFILE) == 0) {
        avio_flush(context_->pb);
        status = context_->pb->error;
        const int closed = avio_closep(&context_->pb);
        status = status < 0 ? status : closed;
        if (status < 0) {
            fail(status);
        }
    }
}

void Muxer::fail(int code) const {
    stop_.throw_if_requested();
    std::string reason = av_error_text(code);
    if (code == AVERROR(EINVAL) || code == AVERROR_INVALIDDATA) {
        const std::string detail = last_library_error();
        reason = detail.empty() ? reason : detail;
    }
    throw MediaError("cannot write " + quoted(name_) + ": " + reason);
}

}  // namespace ocuvex::media
