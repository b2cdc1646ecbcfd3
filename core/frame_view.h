// A 32-bit frame buffer as the conversions see it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ocuvex {

// 32-bit 0x00RRGGBB pixels, rows bottom-up, row i at data + i * pitch. A
// negative pitch walks a top-down buffer bottom-up; a pitch larger than 4 * w
// leaves padding after each row.
struct FrameView {
    std::uint8_t* data;
    std::int32_t w;
    std::int32_t h;
    std::int32_t pitch;
    std::int32_t modulo;  // pitch - 4 * w

    std::uint8_t* row(std::int32_t i) const { return data + static_cast<std::ptrdiff_t>(i) * pitch; }
    std::uint32_t* pixels(std::int32_t i) const { return reinterpret_cast<std::uint32_t*>(row(i)); }
};

// True when the view's rows can hold its width: w, h >= 0 and |pitch| >= 4 * w.
bool is_well_formed(const FrameView& view);

// A view of w x h pixels over a buffer of rows `pitch` bytes apart.
FrameView make_frame_view(void* data, std::int32_t w, std::int32_t h, std::int32_t pitch);

}  // namespace ocuvex
