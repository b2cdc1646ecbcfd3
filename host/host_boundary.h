// Where the host calls into the module. The host calls through plain C
// function pointers and cannot unwind a C++ exception of ours: one that
// reached it would end the editor (or the script host) with it.
#pragma once

namespace ocuvex::host {

// Runs the body of a callback, a script function or a window procedure. An
// exception that escapes the body (out of memory included) stops here, and
// the call answers what `failed` returns: the host's own way of failing it.
template <typename Body, typename Failed>
auto guard_host_call(Body&& body, Failed&& failed) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return failed();
    }
}

}  // namespace ocuvex::host
