// Frames for tests: a buffer with guard bytes around it, rows bottom-up
// through a positive, padded or negative pitch, and checks that nothing
// outside the frame was touched.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/filter_settings.h"
#include "core/frame_view.h"

namespace ocuvex::test {

enum class PitchKind { packed, padded, negative };

class TestFrame {
  public:
    static constexpr std::uint8_t kGuard = 0xA5;
    static constexpr std::size_t kGuardBytes = 64;

    TestFrame(std::int32_t w, std::int32_t h, PitchKind kind = PitchKind::packed, std::int32_t padding_pixels = 3)
        : w_(w), h_(h) {
        row_bytes_ = 4 * w + (kind == PitchKind::packed ? 0 : 4 * padding_pixels);
        bytes_.assign(2 * kGuardBytes + static_cast<std::size_t>(row_bytes_) * h, kGuard);
        std::uint8_t* first = bytes_.data() + kGuardBytes;
        if (kind == PitchKind::negative) {
            // Top-down memory seen bottom-up: memory row 0 is the last row of the buffer.
            view_ =
                make_frame_view(first + static_cast<std::size_t>(row_bytes_) * (h > 0 ? h - 1 : 0), w, h, -row_bytes_);
        } else {
            view_ = make_frame_view(first, w, h, row_bytes_);
        }
    }

    const FrameView& view() const { return view_; }
    std::int32_t w() const { return w_; }
    std::int32_t h() const { return h_; }

    std::uint32_t at(std::int32_t x, std::int32_t row) const {
        std::uint32_t v;
        std::memcpy(&v, view_.row(row) + 4 * x, 4);
        return v;
    }
    void set(std::int32_t x, std::int32_t row, std::uint32_t v) { std::memcpy(view_.row(row) + 4 * x, &v, 4); }

    void fill(std::uint32_t v) {
        for (std::int32_t r = 0; r < h_; ++r) {
            for (std::int32_t x = 0; x < w_; ++x) {
                set(x, r, v);
            }
        }
    }
    void fill_random(std::mt19937& rng) {
        for (std::int32_t r = 0; r < h_; ++r) {
            for (std::int32_t x = 0; x < w_; ++x) {
                set(x, r, static_cast<std::uint32_t>(rng()));
            }
        }
    }

    // True when every byte outside the frame's pixels (guards and row padding) still holds kGuard.
    bool outside_untouched() const {
        std::vector<bool> inside(bytes_.size(), false);
        for (std::int32_t r = 0; r < h_; ++r) {
            const auto start = static_cast<std::size_t>(view_.row(r) - bytes_.data());
            for (std::size_t i = 0; i < 4 * static_cast<std::size_t>(w_); ++i) {
                inside[start + i] = true;
            }
        }
        for (std::size_t i = 0; i < bytes_.size(); ++i) {
            if (!inside[i] && bytes_[i] != kGuard) {
                return false;
            }
        }
        return true;
    }

  private:
    std::int32_t w_;
    std::int32_t h_;
    std::int32_t row_bytes_ = 0;
    std::vector<std::uint8_t> bytes_;
    FrameView view_{};
};

// The settings of one mode, defaults elsewhere.
inline FilterSettings settings_for(std::int32_t mode, bool swap = false) {
    FilterSettings s = default_settings();
    s.mode = mode;
    s.swap_lr = swap ? 1 : 0;
    return s;
}

}  // namespace ocuvex::test
