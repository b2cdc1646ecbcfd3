// How a running job learns that it should stop: whoever runs it (the
// command's signal handlers, a test) makes the request, and every stage and
// libavformat's blocking reads and writes watch it.
#pragma once

#include <atomic>
#include <stdexcept>

extern "C" {
#include <libavformat/avio.h>
}

namespace ocuvex::media {

// Thrown inside a job once its stop was requested.
struct Interrupted : std::runtime_error {
    explicit Interrupted(int reason) : std::runtime_error("interrupted"), reason(reason) {}
    int reason;  // what the requester gave, e.g. the signal's number
};

class StopRequest {
  public:
    StopRequest() = default;
    // A request that counts as made whenever `outer` is made too: a part of
    // a job can be stopped on its own (the job's input, when the job's other
    // stages have failed) while the whole job still stops when asked.
    explicit StopRequest(const StopRequest* outer) : outer_(outer) {}

    // Asks the job to stop for `reason` (non-zero). The first reason stays;
    // true for the call that made it. Safe in a signal handler, and two
    // calls on two threads at once make exactly one the first.
    bool request(int reason) noexcept {
        int none = 0;
        return reason_.compare_exchange_strong(none, reason);
    }
    // The first reason given (this request's own before the outer one's),
    // or 0 while no stop was requested.
    int reason() const noexcept {
        const int own = reason_.load();
        return own != 0 || outer_ == nullptr ? own : outer_->reason();
    }
    // Throws Interrupted once a stop was requested.
    void throw_if_requested() const {
        if (const int given = reason(); given != 0) {
            throw Interrupted(given);
        }
    }
    // Lets libavformat abandon a blocking read or write once a stop is requested.
    AVIOInterruptCB interrupt_callback() const {
        return AVIOInterruptCB{[](void* self) { return static_cast<const StopRequest*>(self)->reason() != 0 ? 1 : 0; },
                               const_cast<StopRequest*>(this)};
    }

  private:
    const StopRequest* outer_ = nullptr;
    std::atomic<int> reason_{0};
    static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may use it");
};

// The request of a job nobody stops (a fuzzer's, a test's): never made.
inline const StopRequest& never_stopped() {
    static const StopRequest none;
    return none;
}

}  // namespace ocuvex::media
