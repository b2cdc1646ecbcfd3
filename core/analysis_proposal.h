// The settings that fix what an analysis measured: the alignment mode's
// offsets, which put the views level and the nearest content at the screen,
// and the cropping mode's window, which gives the aligned views back their
// shape; and how deep the result looks on common screens.
#pragma once

#include <array>
#include <cstdint>

#include "core/analysis_summary.h"
#include "core/copy_plan.h"
#include "core/filter_settings.h"

namespace ocuvex {

// A screen and how far from it one sits.
struct Screen {
    const char* name;
    double width_mm;
    double distance_mm;
};

inline constexpr std::array<Screen, 4> kCommonScreens = {{
    {"27-inch monitor", 598, 700},
    {"55-inch television", 1218, 2500},
    {"100-inch projection", 2214, 4000},
    {"12 m cinema screen", 12000, 16000},
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
    // each view centred and of the measured views' aspect.
    FilterSettings cropping{};
    bool needs_cropping = false;
    FrameSize cropped;  // the cropping's output
    // The eyes' disparities once aligned (right eye's position less the
    // left eye's, > 0 behind the screen), and their effect on each screen,
    // the views shown at the screen's width.
    std::int32_t nearest_after = 0;
    std::int32_t farthest_after = 0;
    std::array<ScreenComfort, kCommonScreens.size()> screens{};
};

// The proposal for `source`, the side-by-side frame the alignment mode will
// read (its halves the views measured), whose left half holds the left eye
// when left_eye_first (else the right eye: a right-first file, or --swap).
SettingsProposal propose_settings(const AnalysisSummary& summary, FrameSize source, bool left_eye_first);

}  // namespace ocuvex
