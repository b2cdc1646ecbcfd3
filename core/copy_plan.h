// Copy plans: what a copy mode (every mode but the anaglyph) does to a frame,
// worked out once from the settings and the two frame sizes, then carried out
// on every frame: on a 32-bit frame (convert_frame) or on each plane of a
// planar, semi-planar or packed picture of any depth.
//
// How a caller converts a stream of planar pictures with it (the command-line
// tool does, on decoded frames):
//   1. Once per job: compute_output_geometry() for the source size, then
//      plan = plan_copies(settings, {src_w, src_h}, {out.w, out.h}).
//   2. Once per job and plane: fits_plane_grid(plan, shift_x, shift_y) with
//      the plane's subsampling (0, 0 for luma, alpha, gray, GBR and packed
//      RGB; the chroma shifts for U and V, and for NV12's or P010's
//      interleaved UV plane). If any plane does not fit, the plan would move
//      chroma by part of a sample: convert the job to 4:4:4 of the same depth,
//      where every plan fits, and plan that instead. (Views on alternate rows
//      are the one exception to whole samples: see fits_plane_grid.)
//   3. Per frame and plane: run_plane_plan(plan, format, fill, src, dst) with
//      both planes seen bottom-up, as FrameView sees a frame: data at the
//      plane's last row in memory and the negated line size (plane_size()
//      gives the rows). `fill` is the element centering writes into its
//      margins, already in the plane's own encoding (a little-endian 16-bit
//      word for yuv420p10le, U then V for NV12).
// Element sizes: 1 or 2 bytes for planar 8- to 16-bit planes, 3, 4, 6 or 8
// for packed RGB, 2 (NV12) or 4 (P010) for an interleaved UV plane; packed
// 4:2:2 (YUYV) works as 4-byte elements with shift_x 1. What a plan does not
// write (an odd last column that belongs to neither view) keeps what the
// destination held, as on 32-bit frames.
#pragma once

#include <cstdint>

#include "core/filter_settings.h"

namespace ocuvex {

struct FrameSize {
    std::int32_t w = 0;
    std::int32_t h = 0;

    bool operator==(const FrameSize&) const = default;
};

// One block copy per row: `width` pixels from source row
// src_row + r * src_row_step, column src_col, to destination row dst_row + r,
// column dst_col, for r = 0 .. rows - 1 of the plan. Rows are memory rows,
// bottom-up.
struct RowCopy {
    std::int32_t src_row = 0;
    std::int32_t src_row_step = 1;
    std::int32_t src_col = 0;
    std::int32_t dst_row = 0;
    std::int32_t dst_col = 0;
    std::int32_t width = 0;
};

// `width` pixels of fill from column `col` of destination rows 0 .. rows - 1.
struct RowFill {
    std::int32_t col = 0;
    std::int32_t width = 0;
};

// Everything a copy mode does to a frame, in pixels, worked out from the
// settings and the two frame sizes alone, so it holds for every frame of
// those sizes. A caller converting a stream makes it once; convert_frame,
// which keeps nothing between frames, makes it for each frame (a few dozen
// integer operations). Only the margins that no copy covers are filled, so
// every destination pixel is written at most once. An empty plan (no rows)
// writes nothing.
struct CopyPlan {
    FrameSize src;  // the sizes the plan was made for
    FrameSize dst;
    std::int32_t rows = 0;
    int copy_count = 0;
    RowCopy copies[2] = {};
    int fill_count = 0;
    RowFill fills[3] = {};
    std::uint32_t fill_value = 0;  // settings.fill_color, for 32-bit frames
};

// The plan of a copy mode, or an empty plan for the anaglyph, an unknown
// mode, a negative size, or any step that would fall outside either frame.
CopyPlan plan_copies(const FilterSettings& settings, FrameSize src, FrameSize dst);

// Wider elements than this (a packed RGBA pixel of 32-bit floats) are refused.
inline constexpr std::int32_t kMaxElementBytes = 16;
// Shifts above this are refused; pictures use 0 to 2.
inline constexpr std::int32_t kMaxSubsamplingShift = 4;

// How a plane stores a frame: one element of element_bytes bytes per
// 2^shift_x columns and 2^shift_y rows. A 32-bit frame is {4, 0, 0}.
struct PlaneFormat {
    std::int32_t element_bytes = 4;
    std::int32_t shift_x = 0;
    std::int32_t shift_y = 0;
};

// One plane's memory, rows bottom-up: element row i at data + i * pitch.
struct PlaneView {
    std::uint8_t* data = nullptr;
    std::int32_t pitch = 0;
};

// A plane's elements per row and rows for a frame of the given size:
// w / 2^shift_x and h / 2^shift_y, rounded up. 0 x 0 for a shift out of range.
FrameSize plane_size(FrameSize frame, std::int32_t shift_x, std::int32_t shift_y);

// True when the plan moves whole elements of a plane with these shifts, so
// that every destination element receives one source element, the fill, or
// nothing, and never a sample from another place in the picture; or, for
// views on alternate rows, when each view can take the element rows of its
// own parity. Exactly:
// - columns: every copy's and fill's first column is a multiple of
//   2^shift_x, and its end is one too or the right edge of its frame (where
//   the last element covers fewer columns); two copies that continue each
//   other in both frames were joined by plan_copies and count as one;
// - rows: the grid is anchored at the picture's top line, which is the last
//   memory row, so when a frame's height h is not a multiple of 2^shift_y the
//   element row at memory row 0 covers fewer frame rows (phase
//   p = -h mod 2^shift_y fewer): frame row r lies in element row
//   (r + p) >> shift_y. A copy's source and destination rows must both start
//   on an element row with the same short part (both at memory row 0 of
//   frames with the same phase, or both where an element row begins) and end
//   where one ends. Taken together: memory row r and element row
//   r >> shift_y line up only when the height divides evenly; a lone row
//   fits only as the short element row of both frames; above/below to side
//   by side with an odd height (the skipped middle row) never fits
//   vertically subsampled chroma;
// - every other row (deinterlace) from memory row 0 or 1: under a vertical
//   shift, an element row holds rows of both views, and each view takes the
//   element rows of its own parity (its rows' parity from the picture's top
//   line), as FFmpeg's stereo3d filter gives each field the chroma rows of
//   its parity: 4:2:0 stays 4:2:0. That needs a source height that is a
//   multiple of 2^(shift_y + 1) (no short element row, an even count of
//   them), e.g. 1080 for 4:2:0 but not 1078.
// An empty plan fits everything; a shift out of range fits nothing.
bool fits_plane_grid(const CopyPlan& plan, std::int32_t shift_x, std::int32_t shift_y);

// Carries out a plan on one plane: columns and rows scaled by the format's
// shifts, element_bytes bytes moved per element, `fill_element` (element_bytes
// bytes, read only when the plan has margins) written into the margins. Both
// planes must hold plane_size() of the plan's frame sizes; they never share
// memory. Returns false, having written nothing, when the plan does not fit
// the plane's grid, the format is out of range, a plane with elements has no
// data, a pitch is shorter than a row of elements, or a margin has no fill.
[[nodiscard]] bool run_plane_plan(const CopyPlan& plan, const PlaneFormat& format, const void* fill_element,
                                  const PlaneView& src, const PlaneView& dst);

}  // namespace ocuvex
