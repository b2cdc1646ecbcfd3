// What a picture's numbers mean, as FFmpeg tags them (matrix, range,
// primaries, transfer, chroma location), and how that changes when the
// pictures are converted to another pixel format.
#pragma once

#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace ocuvex::media {

// What a picture's numbers mean, as FFmpeg tags it; unspecified where the
// file does not say.
struct ColourDescription {
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVChromaLocation chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    bool operator==(const ColourDescription&) const = default;
};

ColourDescription colour_of(const AVFrame* picture);
// Decoders copy a damaged stream's colour numbers into the picture as they
// find them; a number FFmpeg has no name for is no tag to carry (nor a value
// C++ may read as the enum), so it becomes "unspecified". Call it on every
// decoded picture before anything reads its colour.
void forget_unknown_colour_tags(AVFrame* picture);
void set_colour(AVFrame* picture, const ColourDescription& colour);

// RGB (or GBR) pictures, as opposed to YUV and gray ones.
bool is_rgb(AVPixelFormat format);
// JPEG's own full-range YUV formats: yuvj420p, yuvj444p, ...
bool is_jpeg_yuv(AVPixelFormat format);
// The range a picture of `format` is in: `range` when given, else as
// FFmpeg's scaler takes it: full for RGB, gray and the JPEG formats
// (yuvj420p, ...), limited for the rest.
AVColorRange effective_range(AVPixelFormat format, AVColorRange range);
// What makes numbers of `colour` mean something else than the BT.709 ones
// an 8-bit RGB conversion assumes, e.g. "BT.2020 HDR (PQ)": BT.2020
// primaries or matrix, a PQ or HLG transfer. Empty when nothing does.
std::string wide_gamut_or_hdr(const ColourDescription& colour);

// What pictures of `from_format` described by `from` mean once converted to
// `to_format`: RGB to YUV takes `yuv_matrix` (unspecified: BT.709, with
// BT.709 primaries and transfer where those are unspecified too) in limited
// range; YUV to RGB is full range; JPEG's yuvj formats are BT.601 full
// range (JFIF); a change of chroma subsampling forgets where chroma sits.
ColourDescription converted_colour(AVPixelFormat from_format, const ColourDescription& from, AVPixelFormat to_format,
                                   AVColorSpace yuv_matrix);

}  // namespace ocuvex::media
