#include "core/frame_conversion.h"

namespace ocuvex {

void run_copy_plan(const CopyPlan& plan, const FrameView& src, const FrameView& dst) {
    if (!is_well_formed(src) || !is_well_formed(dst) || FrameSize{src.w, src.h} != plan.src ||
        FrameSize{dst.w, dst.h} != plan.dst) {
        return;
    }
    static constexpr PlaneFormat kPixels{.element_bytes = 4, .shift_x = 0, .shift_y = 0};
    // Without subsampling every plan fits, and well-formed views hold their rows.
    const bool ran = run_plane_plan(plan, kPixels, &plan.fill_value, {src.data, src.pitch}, {dst.data, dst.pitch});
    static_cast<void>(ran);
}

std::int32_t convert_frame(const FilterSettings& settings, const FrameView& src, const FrameView& dst,
                           const AnaglyphMatrix& coefficients) {
    if (settings.mode == MODE_ANAGLYPH) {
        convert_anaglyph(coefficients, settings, src, dst);
    } else {
        // Made for every frame: the host keeps no state of ours between frames.
        run_copy_plan(plan_copies(settings, {src.w, src.h}, {dst.w, dst.h}), src, dst);
    }
    return 0;
}

}  // namespace ocuvex
