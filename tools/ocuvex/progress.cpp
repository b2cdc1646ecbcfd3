#include "tools/ocuvex/progress.h"

#include <cmath>
#include <cstdio>

namespace ocuvex::cli {

std::string clock_text(double seconds) {
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

Progress::~Progress() {
    if (drawn_ && !closed_) {
        std::fputc('\n', stderr);
    }
}

void Progress::update(std::int64_t done, bool last) {
    if (!enabled_) {
        return;
    }
    const auto now = Clock::now();
    if (!last && now - shown_ < std::chrono::milliseconds(250)) {
        return;
    }
    shown_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double per_second = elapsed > 0 ? done / elapsed : 0;
    std::string line = unit_.name + (" " + std::to_string(done));
    if (!exact_ && (done > total_ || (last && done != total_))) {
        total_ = 0;
    }
    if (total_ > 0) {
        line += (exact_ || last ? "/" : "/~") + std::to_string(total_);
    }
    char rate[48];
    std::snprintf(rate, sizeof rate, "  %.1f %s", per_second, unit_.rate);
    line += rate;
    line += "  elapsed " + clock_text(elapsed);
    if (total_ > done && per_second > 0) {
        line += "  ETA " + clock_text((total_ - done) / per_second);
    }
    std::fprintf(stderr, "\r%s\033[K%s", line.c_str(), last ? "\n" : "");
    drawn_ = true;
    closed_ = last;
}

}  // namespace ocuvex::cli
