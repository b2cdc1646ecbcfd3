// Frames and planes for tests: a buffer with guard bytes around it, rows
// bottom-up through a positive, padded or negative pitch, and checks that
// nothing outside the frame was touched.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/copy_plan.h"
#include "core/filter_settings.h"
#include "core/frame_view.h"

namespace ocuvex::test {

enum class PitchKind { packed, padded, negative };

// A plane of w x h elements of element_bytes bytes, rows bottom-up: memory
// row 0 is the last row of the buffer when the pitch is negative.
class TestPlane {
  public:
    static constexpr std::uint8_t kGuard = 0xA5;
    static constexpr std::size_t kGuardBytes = 64;

    TestPlane(std::int32_t w, std::int32_t h, std::int32_t element_bytes, PitchKind kind = PitchKind::packed,
              std::int32_t padding_elements = 3)
        : w_(w), h_(h), element_bytes_(element_bytes) {
        row_bytes_ = element_bytes * (w + (kind == PitchKind::packed ? 0 : padding_elements));
        bytes_.assign(2 * kGuardBytes + static_cast<std::size_t>(row_bytes_) * h, kGuard);
        first_row_ = bytes_.data() + kGuardBytes;
        pitch_ = row_bytes_;
        if (kind == PitchKind::negative) {
            // Top-down memory seen bottom-up.
            first_row_ += static_cast<std::size_t>(row_bytes_) * (h > 0 ? h - 1 : 0);
            pitch_ = -row_bytes_;
        }
    }

    std::int32_t w() const { return w_; }
    std::int32_t h() const { return h_; }
    std::int32_t pitch() const { return pitch_; }
    PlaneView plane() const { return {first_row_, pitch_}; }
    std::uint8_t* element(std::int32_t x, std::int32_t row) const {
        return first_row_ + static_cast<std::ptrdiff_t>(row) * pitch_ + static_cast<std::ptrdiff_t>(x) * element_bytes_;
    }
    // The elements' bytes, row by row.
    std::vector<std::uint8_t> elements() const {
        std::vector<std::uint8_t> out;
        for (std::int32_t r = 0; r < h_; ++r) {
            out.insert(out.end(), element(0, r), element(w_, r));
        }
        return out;
    }
    void fill_random_bytes(std::mt19937& rng) {
        for (std::int32_t r = 0; r < h_; ++r) {
            for (std::int32_t i = 0; i < w_ * element_bytes_; ++i) {
                element(0, r)[i] = static_cast<std::uint8_t>(rng());
            }
        }
    }

    // True when every byte outside the elements (guards and row padding) still holds kGuard.
    bool outside_untouched() const {
        std::vector<bool> inside(bytes_.size(), false);
        for (std::int32_t r = 0; r < h_; ++r) {
            const auto start = static_cast<std::size_t>(element(0, r) - bytes_.data());
            for (std::size_t i = 0; i < static_cast<std::size_t>(element_bytes_) * w_; ++i) {
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
    std::int32_t element_bytes_;
    std::int32_t row_bytes_ = 0;
    std::int32_t pitch_ = 0;
    std::vector<std::uint8_t> bytes_;
    std::uint8_t* first_row_ = nullptr;
};

// A 32-bit frame: a plane of 4-byte pixels seen through a FrameView.
class TestFrame : public TestPlane {
  public:
    TestFrame(std::int32_t w, std::int32_t h, PitchKind kind = PitchKind::packed, std::int32_t padding_pixels = 3)
        : TestPlane(w, h, 4, kind, padding_pixels), view_(make_frame_view(element(0, 0), w, h, pitch())) {}

    const FrameView& view() const { return view_; }

    std::uint32_t at(std::int32_t x, std::int32_t row) const {
        std::uint32_t v;
        std::memcpy(&v, element(x, row), 4);
        return v;
    }
    void set(std::int32_t x, std::int32_t row, std::uint32_t v) { std::memcpy(element(x, row), &v, 4); }

    void fill(std::uint32_t v) {
        for (std::int32_t r = 0; r < h(); ++r) {
            for (std::int32_t x = 0; x < w(); ++x) {
                set(x, r, v);
            }
        }
    }
    void fill_random(std::mt19937& rng) {
        for (std::int32_t r = 0; r < h(); ++r) {
            for (std::int32_t x = 0; x < w(); ++x) {
                set(x, r, static_cast<std::uint32_t>(rng()));
            }
        }
    }

  private:
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
