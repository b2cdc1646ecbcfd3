// The shape a conversion's output displays at: its sample (pixel) aspect
// ratio, worked out from the input's, the mode's geometry and how the frames
// pack their views. The conversions never resample a view, so the pixels
// stay what they are and only the declared aspect follows the packing:
//
// - A full packing holds each view at its own shape: a 3840x1080 side-by-side
//   frame of square pixels holds two 1920x1080 views of 16:9.
// - A half packing squeezes each view to half the frame's width (side by
//   side) or height (above/below), and a player stretches it back: a
//   1920x1080 half side-by-side frame at 16:9 holds two 960x1080 views, each
//   meant to display at the frame's 16:9. Field-sequential frames (views on
//   alternate rows, what deinterlace reads) are half packings by nature:
//   each view has half the lines and displays at the frame's shape.
//
// The output keeps the input's packing unless another is asked for, as
// FFmpeg's stereo3d filter does (sbs2l in, ab2l out). Half to full only
// declares the aspect; full to half squeezes the converted frame to half its
// width or height (the caller resamples it: the core never does). The
// anaglyph has one picture, which displays at the view's true shape.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/copy_plan.h"
#include "core/filter_settings.h"

namespace ocuvex {

// A ratio of two whole numbers, kept reduced with num and den at most
// INT32_MAX (what a file's aspect fields hold), den > 0. 0/1: none.
struct Ratio {
    std::int64_t num = 0;
    std::int64_t den = 1;

    bool operator==(const Ratio&) const = default;
};

// num/den reduced; the nearest ratio of numbers up to INT32_MAX when they
// are larger (as FFmpeg's av_reduce). A negative or zero part gives 0/1.
Ratio make_ratio(std::int64_t num, std::int64_t den);
// "16:9".
std::string ratio_text(Ratio ratio);

enum class Packing : std::uint8_t {
    Full,  // each view at its own shape
    Half,  // each view squeezed to fill the frame's display shape
};

// How a frame holds its views.
enum class ViewLayout : std::uint8_t {
    SideBySide,
    AboveBelow,
    Rows,    // on alternate rows (field-sequential)
    Single,  // one picture (the anaglyph)
};

// Their names in option values and JSON: "full", "half"; "side-by-side",
// "above-below", "rows", "single".
const char* packing_name(Packing packing);
const char* layout_name(ViewLayout layout);

// What the user says about the packings.
struct PackingChoice {
    Packing input = Packing::Full;  // --half: INPUT's views are squeezed
    std::optional<Packing> output;  // --output-packing; empty: the input's
};

struct DisplayAspect {
    ViewLayout input_layout = ViewLayout::SideBySide;  // how the mode reads INPUT
    Packing input_packing = Packing::Full;             // rows are always Half
    ViewLayout output_layout = ViewLayout::SideBySide;
    Packing output_packing = Packing::Full;  // Full for a single picture
    // The delivered frame: the converted frame, or that frame squeezed to
    // half its width (side by side) or height (above/below), rounded up.
    FrameSize size;
    bool squeezed = false;
    Ratio sample_aspect;  // the output's pixel aspect
    Ratio frame_aspect;   // the shape the whole output frame displays at
    // The shape each of INPUT's views displays at as read, and as it would
    // with the other packing (side by side and above/below; else the same).
    Ratio view_aspect;
    Ratio other_view_aspect;
    // INPUT's views as read would display narrower than 1:1 or wider than
    // 3:1 where the other packing would not, and reading them so would
    // change the output: likely the wrong packing. (nop, centering,
    // alignment and cropping keep the input's aspect either way, unless a
    // packing is asked of the output.)
    bool shape_doubtful = false;
};

// How `settings.mode` lays out its input and its output.
ViewLayout input_layout(std::int32_t mode);
ViewLayout output_layout(std::int32_t mode);

// The aspect of the output of `settings` (corrected by
// compute_output_geometry for `source`, giving `output`) for an input whose
// pixels are `input_sar` (0/1 when unknown: taken as square).
DisplayAspect display_aspect(const FilterSettings& settings, FrameSize source, FrameSize output, Ratio input_sar,
                             const PackingChoice& packing);

}  // namespace ocuvex
