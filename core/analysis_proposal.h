// The settings that fix what an analysis measured: the alignment mode's
// offsets, which put the views level and the nearest content at the screen,
// and the cropping mode's window, which gives the aligned views back their
// shape; and how deep the result looks on common screens.
#pragma once

#include <array>
#include <cstdint>

#include "core/analysis_summary.h"
#include "core/copy_plan.h"
#include "core/display_shape.h"
#include "core/filter_settings.h"

namespace ocuvex {

// A screen and how far from it one sits. A view is shown as large as the
// screen holds it at the shape it displays at: across the whole width, or
// when narrower than the screen, up the whole height.
struct Screen {
    const char* name;
    double width_mm;
    double height_mm;
    double distance_mm;
};

inline constexpr std::array<Screen, 4> kCommonScreens = {{
    {"27-inch monitor", 598, 336, 700},          // 16:9
    {"55-inch television", 1218, 685, 2500},     // 16:9
    {"100-inch projection", 2214, 1245, 4000},   // 16:9
    {"12 m cinema screen", 12000, 6486, 16000},  // 1.85:1
}};

// Points further apart on the screen than the eyes make them diverge.
inline constexpr double kEyeSeparationMm = 65;
// The depth range most viewers fuse without strain, as the difference of
// the eyes' convergence angles.
inline constexpr double kComfortDegrees = 1.0;

struct ScreenComfort {
    Screen screen{};
    double range_degrees = 0;  // nearest to farthest, in convergence angle
    double farthest_mm = 0;    // the farthest content's separation on the screen
    bool too_deep = false;     // range_degrees > kComfortDegrees
    bool diverges = false;     // farthest_mm > kEyeSeparationMm
};

struct SettingsProposal {
    bool measured = false;  // false: nothing was measured, nothing is proposed
    // The alignment: MODE_ALIGNMENT with align_horz and align_vert, for the
    // side-by-side frame given; swap_lr as the defaults have it.
    FilterSettings alignment{};
    bool needs_alignment = false;
    FrameSize aligned;  // the alignment's output
    // The cropping: MODE_CROPPING on the alignment's output, a window of
    // each view centred and of the measured views' shape (exactly where
    // whole even pixels allow it at little cost), so that it displays at the
    // views' aspect: the conversions never resample a view, so a window
    // displays at the shape of its pixels times the shape each pixel
    // displays at, whatever the packing.
    FilterSettings cropping{};
    bool needs_cropping = false;
    FrameSize cropped;  // the cropping's output
    // The shape the measured views display at (a half packing's squeezed
    // views at the whole frame's); the comfort below shows them so.
    Ratio view_aspect;
    // The eyes' disparities once aligned (right eye's position less the
    // left eye's, > 0 behind the screen), and their effect on each screen.
    std::int32_t nearest_after = 0;
    std::int32_t farthest_after = 0;
    std::array<ScreenComfort, kCommonScreens.size()> screens{};
};

// The proposal for `source`, the side-by-side frame the alignment mode will
// read (its halves the views measured), whose left half holds the left eye
// when left_eye_first (else the right eye: a right-first file, or --swap).
// `view_aspect` is the shape the measured views display at
// (DisplayAspect::view_aspect); 0/1: their own, of square pixels.
SettingsProposal propose_settings(const AnalysisSummary& summary, FrameSize source, bool left_eye_first,
                                  Ratio view_aspect = {});

}  // namespace ocuvex
