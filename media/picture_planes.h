// Decoded pictures as the core's copy plans see them: how each plane of a
// pixel format stores the picture (bytes per element, chroma subsampling),
// the format a copy job works in when the source's own cannot take its plan,
// and centering's fill colour in a format's own encoding. The copy modes move a decoded frame's planes as they
// are, at their own depth, so nothing is converted that need not be.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "core/copy_plan.h"
#include "media/picture_colour.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace ocuvex::media {

// How the planes of a pixel format store a picture, one PlaneFormat each:
// the element is one pixel of a plane without subsampling (a 16-bit sample,
// a packed RGB pixel) or one sample pair of an interleaved chroma plane
// (NV12's U and V); chroma planes carry the format's subsampling shifts.
struct PlaneLayout {
    int count = 0;
    std::array<PlaneFormat, 4> planes{};
};

// The layout of `format`, or nothing when its pictures cannot be moved
// plane by plane: hardware frames, bit-packed and palette formats, floating
// point, Bayer mosaics, XYZ, and packed YUV whose one plane mixes full-width
// luma with subsampled chroma (YUYV).
std::optional<PlaneLayout> plane_layout(AVPixelFormat format);

// True when every plane of the layout keeps the plan on its grid
// (fits_plane_grid), so no chroma sample is cut or moved by part of itself.
bool fits_planes(const CopyPlan& plan, const PlaneLayout& layout);

// The format plane_layout() takes that FFmpeg judges nearest to `format`
// (least loss of depth, chroma, alpha; avcodec_find_best_pix_fmt_of_list):
// PAL8 becomes 32-bit RGB with alpha, YUYV 4:2:2 planar 4:2:2.
AVPixelFormat nearest_plane_format(AVPixelFormat format);
// The nearest planar YUV format without chroma subsampling and of at least
// the depth of `format`: yuv420p10le becomes yuv444p10le, NV12 yuv444p,
// yuvj420p yuvj444p, yuva420p yuva444p.
AVPixelFormat nearest_full_chroma_format(AVPixelFormat format);

// One element per plane, in the plane's own encoding, of the fill colour.
struct FillElements {
    std::array<std::array<std::uint8_t, kMaxElementBytes>, 4> planes{};
};

// Centering's fill colour, 0x00RRGGBB, in pictures of `format` whose colour
// description is `colour`: RGB scaled to each component's depth, YUV through
// the matrix (BT.601 when unspecified, as FFmpeg's conversions assume) and
// range, alpha opaque. Rounded to nearest. Throws MediaError when out of
// memory.
FillElements fill_elements(std::uint32_t rgb, AVPixelFormat format, const ColourDescription& colour);

// Makes every pixel of `picture` black in its format and range, alpha opaque.
void fill_black(AVFrame* picture);

// Carries out `plan` on every plane of `source` into `destination`, both in
// the layout's format and of the plan's sizes, top-down as FFmpeg stores
// them and seen bottom-up by the core. False when a plane refuses the plan.
bool run_planes(const CopyPlan& plan, const PlaneLayout& layout, const FillElements& fill, const AVFrame* source,
                AVFrame* destination);

}  // namespace ocuvex::media
