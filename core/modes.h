// The conversion modes: their values and, one row per mode, everything said
// about them. The host's filter list, the command line's names, its help and
// manual page, and the dialog's radio buttons all take them from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ocuvex {

// The values double as the dialog's radio-button ids, so a mode is stored as
// the id of the button that selects it; saved scripts hold them too. The
// resource compiler reads these lines as well (cmake/mode_ids.cmake), so each
// stays written as NAME = NUMBER.
enum ConversionMode : std::int32_t {
    MODE_NOP = 200,
    MODE_DEINTERLACE = 201,
    MODE_CENTERING = 202,
    MODE_ANAGLYPH = 203,
    MODE_SBS_TO_AB = 204,
    MODE_AB_TO_SBS = 205,
    MODE_ALIGNMENT = 206,
    MODE_CROPPING = 207,
};

struct ModeRow {
    ConversionMode mode;
    const char* name;         // on the command line, --mode NAME
    const char* description;  // in the host's filter list; swapped adds kSwappedSuffix
    const char* summary;      // one line in the help's list of modes
    const char* example;      // what the help's example of the mode does, after "NAME: "
    const char* command;      // the example's command lines, '\n' between them
};

inline constexpr std::string_view kSwappedSuffix = " (swapped L/R)";

// In value order, one row per value from the first to the last.
inline constexpr std::array<ModeRow, 8> kModes = {{
    {MODE_NOP, "nop", ": NOP", "the frame as it is (with --swap, its two views exchanged)",
     "exchange the two views of a side-by-side video", "ocuvex convert --swap sbs.mp4 swapped.mp4"},
    {MODE_DEINTERLACE, "deinterlace", ": Deinterlace",
     "field-sequential (views on alternate lines) to side-by-side, half as high",
     "field-sequential (views on alternate lines) to side-by-side",
     "ocuvex convert --mode deinterlace fields.mkv sbs.mkv"},
    {MODE_CENTERING, "centering", ": Centering",
     "side-by-side with margins beside each view (--center-width, --fill-color)",
     "64 black pixels more per frame, a quarter beside each view's outer and inner edges",
     "ocuvex convert --mode centering --center-width 64 --fill-color 000000 sbs.mp4 centered.mp4"},
    {MODE_ANAGLYPH, "anaglyph", ": Anaglyph", "side-by-side to a red-cyan anaglyph, half as wide (--coefficients)",
     "red-cyan (Dubois), as a video and frame 24 as a picture",
     "ocuvex convert --mode anaglyph sbs.mp4 anaglyph.mp4\n"
     "ocuvex convert --mode anaglyph --frame 24 sbs.mp4 anaglyph.png"},
    {MODE_SBS_TO_AB, "sbs-to-ab", ": SbS --> A/B", "side-by-side to above/below, the left view below",
     "side-by-side to above/below, lossless", "ocuvex convert --mode sbs-to-ab --codec ffv1 sbs.mkv ab.mkv"},
    {MODE_AB_TO_SBS, "ab-to-sbs", ": A/B --> SbS", "above/below, the left view below, to side-by-side",
     "above/below to side-by-side, a still picture", "ocuvex convert --mode ab-to-sbs ab.png sbs.png"},
    {MODE_ALIGNMENT, "alignment", ": Alignment",
     "side-by-side, one view moved against the other (--align-horz, --align-vert)",
     "offset the views by 6 pixels horizontally and -2 lines vertically",
     "ocuvex convert --mode alignment --align-horz 6 --align-vert -2 sbs.mp4 aligned.mp4"},
    {MODE_CROPPING, "cropping", ": Cropping",
     "side-by-side, the same window cut from each view (--crop-x, --crop-y, ...)",
     "a 560x320 window of each view, from x 40, y 20",
     "ocuvex convert --mode cropping --crop-x 40 --crop-y 20 --crop-width 560 --crop-height 320 \\\n"
     "    sbs.mp4 cropped.mp4"},
}};

inline constexpr std::int32_t kFirstMode = kModes.front().mode;
inline constexpr std::int32_t kLastMode = kModes.back().mode;
inline constexpr int kModeCount = static_cast<int>(kModes.size());

// Every value from the first to the last is a mode: records are checked by
// range, and a row is found by its value's offset.
consteval bool rows_follow_the_values() {
    for (std::size_t i = 0; i < kModes.size(); ++i) {
        if (kModes[i].mode != kFirstMode + static_cast<std::int32_t>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(rows_follow_the_values(), "kModes holds one row per value, in value order");

constexpr bool is_known_mode(std::int32_t mode) { return mode >= kFirstMode && mode <= kLastMode; }

// The row of `mode`; null for a value that is no mode (a record from a script or a fuzzer).
constexpr const ModeRow* find_mode(std::int32_t mode) {
    return is_known_mode(mode) ? &kModes[static_cast<std::size_t>(mode - kFirstMode)] : nullptr;
}

}  // namespace ocuvex
