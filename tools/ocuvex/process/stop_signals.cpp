#include "tools/ocuvex/process/stop_signals.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace ocuvex::process {

namespace {

// What the handlers reach: a signal handler has no other way in.
media::StopRequest process_stop;

// The file a second signal removes. Written only while cleanup_armed is 0,
// so the handler never reads a half-written name.
std::array<char, 4096> cleanup_path{};
volatile std::sig_atomic_t cleanup_armed = 0;

constexpr std::array<int, 5> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

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
    if (process_stop.request(signal)) {
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

}  // namespace

media::StopRequest& stop_request() { return process_stop; }

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

}  // namespace ocuvex::process
