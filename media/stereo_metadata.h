// What a file says about how its pictures lie, and what the output should
// say: the stereo layout (which eye is where) and the field order.
//
// The conversions read their input by fixed conventions (core/copy_plan.cpp):
// a side-by-side frame's left view is its left half; an above/below frame's
// left view is its lower half, the first rows in memory, which run
// bottom-up; deinterlace's left view is the even memory rows, counted from
// the bottom of the picture. When the input's metadata says which eye is
// where, the swap is set so that the output's left view is the left eye.
#pragma once

#include <optional>
#include <string>

#include "core/copy_plan.h"
#include "core/display_shape.h"
#include "core/filter_settings.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

enum class StereoPacking {
    SideBySide,
    AboveBelow,
    Lines,        // the views on alternate lines
    Anaglyph,     // red-cyan (Matroska's "anaglyph_cyan_red")
    Unspecified,  // two views, their packing not said (FFmpeg 7's reading of a MOV's vexu box)
    Other,        // 2-D, frame-sequential, checkerboard, columns: nothing a mode reads
};

struct StereoLayout {
    StereoPacking packing = StereoPacking::Other;
    // The left eye in the left half, the top half or on the top line (for
    // SideBySide, AboveBelow, Lines); false: the right eye there.
    bool left_first = true;
    bool operator==(const StereoLayout&) const = default;
};

// The layout `stream` declares (its stereo-3D side data, which FFmpeg's
// Matroska and MP4/MOV demuxers both set), or nothing when it declares none.
std::optional<StereoLayout> declared_stereo_layout(const AVStream* stream);

// "side-by-side, left eye in the left half", for messages.
std::string layout_text(const StereoLayout& layout);
// The packing of the core's layout of two views (the anaglyph's one picture:
// Anaglyph).
StereoPacking stereo_packing(ViewLayout layout);

// Whether the conversions that read `packing` take their left view from its
// first place (the left half, the top half, the top line's parity) in a
// source `h` lines high: the left half; the lower half, the first rows in
// memory; the even memory rows, which hold the top line when h is odd.
bool left_view_taken_first(StereoPacking packing, std::int32_t h);

// What the input's stereo metadata means for a conversion.
struct StereoReading {
    // The swap that makes the output's left view the left eye, to combine
    // (exclusive or) with the user's --swap.
    bool metadata_swap = false;
    // Whether the conversion's left view is known to be the left eye: the
    // metadata says so, or there is none to use and the convention holds.
    bool left_view_is_left_eye = true;
    std::string message;  // one line for the user; empty: nothing to say
};

// How `mode` reads the input described by `declared` (nothing: no
// metadata) for a source `source_h` lines high; `name` names the input in
// the message.
StereoReading read_stereo_layout(std::int32_t mode, std::int32_t source_h, const std::optional<StereoLayout>& declared,
                                 const std::string& name);

// The layout of the output of `settings` (the swap already combined with
// the metadata's), when the conversion's left view is the left eye as
// `reading` says; nothing for nop on an input without side-by-side metadata
// (nop makes no claim) and for an unknown mode.
std::optional<StereoLayout> output_stereo_layout(const FilterSettings& settings, const StereoReading& reading,
                                                 const std::optional<StereoLayout>& declared);

// Matroska's name of a layout (its StereoMode), e.g. "bottom_top", or null.
const char* matroska_stereo_mode(const StereoLayout& layout);

// The field order of the output of `settings` from a source of `src` to
// frames of `dst`, when the source's is `input`. Each view keeps its rows:
// when every view's rows keep their parity the order is the input's, when
// every one's flips (an odd crop) the other field comes first, and when the
// views disagree (one view moved by an odd number of lines) it is unknown.
// Deinterlace makes each view of one field: its output is progressive.
AVFieldOrder output_field_order(const FilterSettings& settings, ocuvex::FrameSize src, ocuvex::FrameSize dst,
                                AVFieldOrder input);

}  // namespace ocuvex::media
