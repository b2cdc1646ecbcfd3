// The progress line of the commands that take a while: one line on a
// terminal's standard error, redrawn in place a few times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ocuvex::cli {

// What is counted: its name on the line and the name of its rate.
struct ProgressUnit {
    const char* name;  // "frame"
    const char* rate;  // "fps"
};
inline constexpr ProgressUnit kFrames{"frame", "fps"};

// "1:02:03" or "2:03".
std::string clock_text(double seconds);

class Progress {
  public:
    // `total`: the units to come, 0 when unknown; `exact` when the container
    // counts them, else an estimate from its duration, shown as one ("/~73")
    // and dropped once the count proves it wrong.
    Progress(bool enabled, std::int64_t total, bool exact, ProgressUnit unit = kFrames)
        : enabled_(enabled), total_(total), exact_(exact), unit_(unit) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    // A message after an unfinished line starts on a line of its own.
    ~Progress();

    void update(std::int64_t done, bool last = false);

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    std::int64_t total_;
    bool exact_;
    ProgressUnit unit_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shown_{};
    bool drawn_ = false;
    bool closed_ = false;
};

}  // namespace ocuvex::cli
