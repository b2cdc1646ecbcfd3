// The per-frame conversions of 32-bit frames: every mode but the anaglyph
// only moves whole rows or half rows of pixels, by a copy plan.
#pragma once

#include <cstdint>

#include "core/anaglyph.h"
#include "core/copy_plan.h"
#include "core/filter_settings.h"
#include "core/frame_view.h"

namespace ocuvex {

// Carries out a plan on one 32-bit frame: the 4-byte, unsubsampled case of
// run_plane_plan(), with the plan's fill_value in the margins. Writes nothing
// unless both views are well formed and of the sizes the plan was made for.
void run_copy_plan(const CopyPlan& plan, const FrameView& src, const FrameView& dst);

// Converts one frame according to settings.mode; the anaglyph by
// `coefficients`. `dst` must have the geometry compute_output_geometry() gave
// for these settings and src's size; where it does not, nothing outside
// either frame is touched. Always returns 0.
std::int32_t convert_frame(const FilterSettings& settings, const FrameView& src, const FrameView& dst,
                           const AnaglyphMatrix& coefficients = anaglyph_default_coefficients);

}  // namespace ocuvex
