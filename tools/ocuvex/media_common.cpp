#include "tools/ocuvex/media_common.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace ocuvex::cli {

std::atomic<int> stop_signal{0};

namespace {

std::mutex log_mutex;
std::string last_error_line;  // guarded by log_mutex: decoder threads log too
std::string pending_line;     // guarded by log_mutex: a message may arrive in parts

// The file a second signal removes. Written only while cleanup_armed is 0,
// so the handler never reads a half-written name.
std::array<char, 4096> cleanup_path{};
volatile std::sig_atomic_t cleanup_armed = 0;

constexpr std::array<int, 5> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

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
}

// Removes a file, or a folder of files (an image sequence's), with calls a
// signal handler may make.
void remove_now(const char* path) {
    if (unlink(path) == 0 || (errno != EISDIR && errno != EPERM)) {
        return;
    }
    const int folder = open(path, O_RDONLY | O_DIRECTORY);
    if (folder < 0) {
        return;
    }
    alignas(dirent64) char entries[4096];
    // Removing entries while reading may skip some, and another thread may
    // still be writing a picture: read again until the folder itself goes.
    for (int round = 0; round < 1000 && rmdir(path) != 0 && errno == ENOTEMPTY; ++round) {
        lseek(folder, 0, SEEK_SET);
        long size = 0;
        while ((size = syscall(SYS_getdents64, folder, entries, sizeof entries)) > 0) {
            for (long at = 0; at < size;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
                const char* name = entry->d_name;
                if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) {
                    unlinkat(folder, name, 0);
                }
                at += entry->d_reclen;
            }
        }
    }
    close(folder);
}

void on_stop_signal(int signal) {
    int first = 0;
    if (stop_signal.compare_exchange_strong(first, signal)) {
        return;
    }
    // A closed pipe keeps failing writes; that is no reason to hurry.
    if (signal == SIGPIPE) {
        return;
    }
    // A second signal: end now, as the user insists, but take the
    // temporary file along.
    if (cleanup_armed != 0) {
        remove_now(cleanup_path.data());
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

int interrupt_requested(void*) { return stop_signal != 0 ? 1 : 0; }

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

void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // One handler at a time: a second signal waits for the first to return.
    for (const int signal : kStopSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
    }
}

void throw_if_stopped() {
    if (const int signal = stop_signal.load(); signal != 0) {
        throw Interrupted(signal);
    }
}

void set_signal_cleanup_path(const std::string& path) {
    cleanup_armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (path.empty() || path.size() >= cleanup_path.size()) {
        return;
    }
    std::memcpy(cleanup_path.data(), path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    cleanup_armed = 1;
}

AVIOInterruptCB stop_interrupt_callback() { return AVIOInterruptCB{interrupt_requested, nullptr}; }

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

}  // namespace ocuvex::cli
