#include "media/libav.h"

#include <algorithm>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace ocuvex::media {

namespace {

std::mutex log_mutex;
std::string last_error_line;            // guarded by log_mutex: decoder threads log too
std::string pending_line;               // guarded by log_mutex: a message may arrive in parts
std::vector<DecoderLog*> decoder_logs;  // guarded by log_mutex: the watches alive

}  // namespace

struct DecoderLogAccess {
    // The watch whose slots hold `opaque`, and the packet number there.
    static DecoderLog* owner(const void* opaque, std::int64_t* packet) {
        for (DecoderLog* log : decoder_logs) {
            const std::int64_t* first = log->slots_.data();
            if (opaque >= static_cast<const void*>(first) &&
                opaque < static_cast<const void*>(first + log->slots_.size())) {
                *packet = *static_cast<const std::int64_t*>(opaque);
                return log;
            }
        }
        return nullptr;
    }
    static void add(DecoderLog* log, std::int64_t packet, const std::string& text) {
        log->lines_.push_back(DecoderLog::Line{packet, text});
    }
};

namespace {

void log_callback(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char part[512];
    int print_prefix = 0;
    if (av_log_format_line2(context, level, format, args, part, sizeof part, &print_prefix) < 0) {
        return;
    }
    const AVClass* avclass = context != nullptr ? *static_cast<AVClass**>(context) : nullptr;
    const std::lock_guard<std::mutex> lock(log_mutex);
    pending_line += part;
    std::string text = pending_line;
    if (!text.empty() && text.back() == '\n') {
        pending_line.clear();
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (avclass != nullptr && avclass->item_name != nullptr) {
        text = std::string(avclass->item_name(context)) + ": " + text;
    }
    last_error_line = printable(text);
    if (avclass == avcodec_get_class() && pending_line.empty()) {
        std::int64_t packet = -1;
        if (DecoderLog* log = DecoderLogAccess::owner(static_cast<AVCodecContext*>(context)->opaque, &packet)) {
            DecoderLogAccess::add(log, packet, last_error_line);
        }
    }
}

}  // namespace

void OutputContextFree::operator()(AVFormatContext* context) const {
    if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
        avio_closep(&context->pb);
    }
    avformat_free_context(context);
}

void IOContextFree::operator()(AVIOContext* context) const {
    av_freep(&context->buffer);
    avio_context_free(&context);
}

FramePtr allocate_frame() {
    FramePtr frame(av_frame_alloc());
    if (frame == nullptr) {
        throw MediaError("out of memory");
    }
    return frame;
}

PacketPtr allocate_packet() {
    PacketPtr packet(av_packet_alloc());
    if (packet == nullptr) {
        throw MediaError("out of memory");
    }
    return packet;
}

int check_memory(int status) {
    if (status < 0) {
        throw MediaError("out of memory");
    }
    return status;
}

int check(int status, const std::string& what) {
    if (status >= 0) {
        return status;
    }
    if (status == AVERROR(ENOMEM)) {
        throw MediaError("out of memory");
    }
    throw MediaError(what + ": " + av_error_text(status));
}

int check_logged(int status, const std::string& what) {
    if (status >= 0 || status == AVERROR(ENOMEM)) {
        return check(status, what);
    }
    const std::string detail = last_library_error();
    throw MediaError(what + ": " + (detail.empty() ? av_error_text(status) : detail));
}

std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void capture_library_log() { av_log_set_callback(log_callback); }

std::string last_library_error() {
    const std::lock_guard<std::mutex> lock(log_mutex);
    return last_error_line;
}

void clear_library_error() {
    const std::lock_guard<std::mutex> lock(log_mutex);
    last_error_line.clear();
}

DecoderLog::DecoderLog() {
    slots_.fill(-1);
    const std::lock_guard<std::mutex> lock(log_mutex);
    decoder_logs.push_back(this);
}

DecoderLog::~DecoderLog() {
    const std::lock_guard<std::mutex> lock(log_mutex);
    decoder_logs.erase(std::find(decoder_logs.begin(), decoder_logs.end(), this));
}

void DecoderLog::decoding(AVCodecContext* context, std::int64_t number) {
    std::int64_t& slot = slots_[static_cast<std::size_t>(number) % kSlots];
    {
        const std::lock_guard<std::mutex> lock(log_mutex);
        slot = number;
    }
    context->opaque = &slot;
}

void DecoderLog::take(std::vector<Line>& lines) {
    lines.clear();
    const std::lock_guard<std::mutex> lock(log_mutex);
    lines.swap(lines_);
}

void OptionDict::set(const char* key, const char* value) {
    if (av_dict_set(&dict_, key, value, 0) < 0) {
        throw MediaError("out of memory");
    }
}

void OptionDict::set(const char* key, std::int64_t value) {
    if (av_dict_set_int(&dict_, key, value, 0) < 0) {
        throw MediaError("out of memory");
    }
}

}  // namespace ocuvex::media
