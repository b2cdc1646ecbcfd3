// The per-frame conversions: every mode but the anaglyph only moves whole
// rows or half rows of pixels.
#pragma once

#include <cstdint>

#include "core/filter_settings.h"
#include "core/frame_view.h"

namespace ocuvex {

// One block copy per row: `width` pixels from source row
// src_row + r * src_row_step, column src_col, to destination row dst_row + r,
// column dst_col, for r = 0 .. rows - 1 of the plan.
struct RowCopy {
    std::int32_t src_row;
    std::int32_t src_row_step;
    std::int32_t src_col;
    std::int32_t dst_row;
    std::int32_t dst_col;
    std::int32_t width;
};

// `width` pixels of fill colour from column `col` of every destination row.
struct RowFill {
    std::int32_t col;
    std::int32_t width;
};

// Everything a copy mode does to a frame, worked out once from the settings
// and the two frame sizes; the per-frame work is then a loop of row copies.
// Only the margins that no copy covers are filled, so every destination pixel
// is written once.
struct CopyPlan {
    std::int32_t rows = 0;
    int copy_count = 0;
    RowCopy copies[2] = {};  // in the order of their source addresses
    int fill_count = 0;
    RowFill fills[3] = {};
    std::uint32_t fill_value = 0;
    // Walk the rows last to first: the source's rows then come in increasing
    // addresses, which the hardware prefetchers follow far better.
    bool reverse = false;
};

// The plan of a copy mode, or an empty plan (nothing written) for the
// anaglyph, an unknown mode, or any step that would fall outside either frame.
CopyPlan plan_copies(const FilterSettings& settings, const FrameView& src, const FrameView& dst);

// Carries out a plan on one frame.
void run_copy_plan(const CopyPlan& plan, const FrameView& src, const FrameView& dst);

// Converts one frame according to settings.mode. `dst` must have the geometry
// compute_output_geometry() gave for these settings and src's size; where it
// does not, nothing outside either frame is touched. Always returns 0.
std::int32_t convert_frame(const FilterSettings& settings, const FrameView& src, const FrameView& dst);

}  // namespace ocuvex
