#include "tools/ocuvex/media_common.h"

#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace ocuvex::cli {

volatile std::sig_atomic_t stop_signal = 0;

namespace {

std::mutex log_mutex;
std::string last_error_line;  // guarded by log_mutex: decoder threads log too

void log_callback(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512];
    int print_prefix = 1;
    av_log_format_line2(context, level, format, args, line, sizeof line, &print_prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    const std::lock_guard<std::mutex> lock(log_mutex);
    last_error_line = text;
}

void on_stop_signal(int signal) { stop_signal = signal; }

int interrupt_requested(void*) { return stop_signal != 0 ? 1 : 0; }

}  // namespace

std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

void capture_library_log() { av_log_set_callback(log_callback); }

std::string last_library_error() {
    const std::lock_guard<std::mutex> lock(log_mutex);
    return last_error_line;
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
