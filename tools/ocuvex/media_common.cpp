#include "tools/ocuvex/media_common.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "tools/ocuvex/settings_options.h"

extern "C" {
#include <libavutil/log.h>
}

namespace ocuvex::cli {

volatile std::sig_atomic_t stop_signal = 0;

namespace {

std::mutex log_mutex;
std::string last_error_line;   // guarded by log_mutex: decoder threads log too
std::string last_input_error;  // guarded by log_mutex
long input_errors = 0;         // guarded by log_mutex

void log_callback(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char part[512];
    int print_prefix = 0;
    av_log_format_line2(context, level, format, args, part, sizeof part, &print_prefix);
    const AVClass* avclass = context != nullptr ? *static_cast<AVClass**>(context) : nullptr;
    const std::lock_guard<std::mutex> lock(log_mutex);
    // One message may arrive in several parts; a newline ends it.
    static std::string pending;
    pending += part;
    std::string text = pending;
    if (!text.empty() && text.back() == '\n') {
        pending.clear();
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (avclass != nullptr && avclass->item_name != nullptr) {
        text = std::string(avclass->item_name(context)) + ": " + text;
    }
    last_error_line = text;
    // Decoders and demuxers report most damage only here, and go on.
    if (avclass != nullptr) {
        const AVClassCategory category =
            avclass->get_category != nullptr ? avclass->get_category(context) : avclass->category;
        if (category == AV_CLASS_CATEGORY_DECODER || category == AV_CLASS_CATEGORY_DEMUXER) {
            ++input_errors;
            last_input_error = text;
        }
    }
}

void on_stop_signal(int signal) { stop_signal = signal; }

int interrupt_requested(void*) { return stop_signal != 0 ? 1 : 0; }

}  // namespace

std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string quoted(const std::string& path) { return "'" + printable(path) + "'"; }

void capture_library_log() { av_log_set_callback(log_callback); }

std::string last_library_error() {
    const std::lock_guard<std::mutex> lock(log_mutex);
    return last_error_line;
}

long input_error_count(std::string* last) {
    const std::lock_guard<std::mutex> lock(log_mutex);
    if (last != nullptr) {
        *last = last_input_error;
    }
    return input_errors;
}

void clear_library_error() {
    const std::lock_guard<std::mutex> lock(log_mutex);
    last_error_line.clear();
}

void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C gets the default action: a stuck process can still be ended.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void throw_if_stopped() {
    if (stop_signal != 0) {
        throw Interrupted(stop_signal);
    }
}

AVIOInterruptCB stop_interrupt_callback() { return AVIOInterruptCB{interrupt_requested, nullptr}; }

}  // namespace ocuvex::cli
