// What the output containers do with what a job hands them, one row per
// libavformat muxer: the facts libavformat has no query for, found by
// writing files with the FFmpeg versions the tool builds against. What it
// can answer (which codecs a container holds, whether its header takes a
// set of streams) is asked of libavformat itself, in stream_map.cpp.
// A new container, or an FFmpeg that writes something new, is one row here.
//
// The output's format follows OUTPUT's name, as the ffmpeg program chooses
// it (av_guess_format): the muxer its extension names, with that
// container's usual video encoder; an image format writes one picture, or
// one file per frame when the name holds a frame number pattern (%04d).
#pragma once

#include <optional>
#include <string>
#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
}

namespace ocuvex::media {

// How a container says which eye is where.
enum class StereoTags {
    None,
    MatroskaStereoMode,  // the StereoMode element, every layout it names
    WebMStereoMode,      // the same element, side-by-side and above/below only
    Stereo3DSideData,    // the stream's stereo-3D side data (MP4's st3d box, 7.1's vexu box in MP4 and MOV)
};

// Where a container keeps the field order of an interlaced video.
enum class FieldOrderFlag {
    None,           // nowhere: the decoder's word on the pictures is all a reader gets
    Always,         // its own flag, whatever the codec (Matroska's FieldOrder)
    OwnCodecsOnly,  // its flag, but not for codecs that describe themselves (MOV's fiel box: not
                    // for H.264, H.265, MPEG-4 Part 2, whose pictures are coded progressive here)
};

struct Container {
    const char* muxer = nullptr;  // libavformat's name; null: the row of every muxer without one
    StereoTags stereo = StereoTags::None;
    FieldOrderFlag field_order = FieldOrderFlag::None;
    // Attachments (fonts), and a cover picture as the attachment players
    // show as a cover. FFmpeg's Matroska muxer is the one that writes them.
    bool attachments = false;
    bool display_matrix = false;  // a video stream's display matrix
    // The stereo side data is an unofficial extension that the muxer writes
    // only at `-strict unofficial` (MP4's st3d box).
    bool stereo_is_unofficial = false;
    // The index goes in front when the file is complete, so players can
    // start before all of it is there (movflags +faststart).
    bool index_in_front = false;
    // One picture stream only, or one numbered file of every stream's
    // pictures: no second video stream fits, whatever its header says.
    bool one_picture_stream = false;
};

// The row of `muxer`, or the row of muxers without one of their own.
const Container& container_of(const AVOutputFormat* muxer);

// Whether pictures of `codec` say their pixel aspect ratio where a
// container of one picture stream (image files, GIF, WebP) holds nothing
// of its own: PNG's pHYs, JFIF's density, TIFF's resolution, GIF's aspect
// byte, PCX and DPX. BMP, WebP, PPM, TGA, JPEG 2000, ... have none.
// Containers of video streams hold it themselves.
bool picture_holds_aspect(AVCodecID codec);

enum class OutputKind {
    Video,
    Still,     // one picture
    Sequence,  // one picture file per frame, numbered by the name's pattern (out%04d.png)
};

struct OutputFormat {
    const char* muxer;          // libavformat's name
    const char* default_codec;  // libavcodec's encoder name
    OutputKind kind = OutputKind::Video;
    bool is_still() const { return kind == OutputKind::Still; }
    bool is_sequence() const { return kind == OutputKind::Sequence; }
};

// The format OUTPUT's name asks for (in any case). Nothing, with the reason
// in `why`, when FFmpeg has no muxer for the extension or the format holds
// no video.
std::optional<OutputFormat> find_output_format(std::string_view path, std::string* why = nullptr);
// The same image format writing one picture under the name as it stands:
// what a pattern name gets from a still input.
OutputFormat as_single_picture(const OutputFormat& format);
// A few extensions for messages: ".mp4, .mkv, ...".
std::string known_output_extensions();

}  // namespace ocuvex::media
