#include "core/frame_view.h"

namespace ocuvex {

bool is_well_formed(const FrameView& view) {
    const std::int64_t pitch = view.pitch;
    return view.w >= 0 && view.h >= 0 && (pitch < 0 ? -pitch : pitch) >= 4 * std::int64_t{view.w} &&
           (view.data != nullptr || std::int64_t{view.w} * view.h == 0);
}

FrameView make_frame_view(void* data, std::int32_t w, std::int32_t h, std::int32_t pitch) {
    // Wraps rather than overflows for sizes no real buffer has.
    const auto modulo =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(pitch) - 4U * static_cast<std::uint32_t>(w));
    return FrameView{static_cast<std::uint8_t*>(data), w, h, pitch, modulo};
}

}  // namespace ocuvex
