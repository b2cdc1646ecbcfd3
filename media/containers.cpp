#include "media/containers.h"

#include <array>

#include "media/libav.h"

namespace ocuvex::media {

namespace {

// FFmpeg 7's Matroska muxer writes the display matrix (its Projection
// element); 5.1's drops it without a word.
constexpr bool kMatroskaDisplayMatrix = LIBAVFORMAT_VERSION_MAJOR >= 61;

// The MOV family: one muxer with several names, its track header's matrix,
// its fiel box, the st3d box only in MP4 and only when told (5.1), and
// since 7.1 the vexu box in MP4 and MOV.
constexpr Container mov_family(const char* muxer, bool st3d) {
    return Container{.muxer = muxer,
                     .stereo = StereoTags::Stereo3DSideData,
                     .field_order = FieldOrderFlag::OwnCodecsOnly,
                     .display_matrix = true,
                     .stereo_is_unofficial = st3d,
                     .index_in_front = true};
}

constexpr Container one_picture_stream(const char* muxer) {
    return Container{.muxer = muxer, .one_picture_stream = true};
}

constexpr Container kContainers[] = {
    {.muxer = "matroska",
     .stereo = StereoTags::MatroskaStereoMode,
     .field_order = FieldOrderFlag::Always,
     .attachments = true,
     .display_matrix = kMatroskaDisplayMatrix},
    {.muxer = "webm", .stereo = StereoTags::WebMStereoMode, .display_matrix = kMatroskaDisplayMatrix},
    mov_family("mp4", true),
    mov_family("mov", false),
    mov_family("3gp", false),
    mov_family("3g2", false),
    mov_family("ipod", false),
    mov_family("ismv", false),
    mov_family("psp", false),
    mov_family("f4v", false),
    one_picture_stream("gif"),
    one_picture_stream("apng"),
    one_picture_stream("webp"),
    one_picture_stream("image2"),
    one_picture_stream("image2pipe"),
};

constexpr Container kOtherContainers{};

// Image extensions a user types, for messages.
constexpr const char* kKnownExtensions =
    ".mp4, .mkv, .mov, .webm, .avi, .gif, out%04d.png, .png, .jpg or another format FFmpeg writes video in";

// The name's file name part, after the last slash.
std::string_view file_name_of(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Whether an image file name holds a frame number pattern (%d, %04d).
bool has_frame_pattern(const std::string& name) {
    char expanded[1024];
    return av_get_frame_filename2(expanded, sizeof expanded, name.c_str(), 1, 0) == 0;
}

}  // namespace

const Container& container_of(const AVOutputFormat* muxer) {
    for (const Container& row : kContainers) {
        if (std::string_view(row.muxer) == muxer->name) {
            return row;
        }
    }
    return kOtherContainers;
}

bool picture_holds_aspect(AVCodecID codec) {
    switch (codec) {
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_APNG:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_TIFF:
    case AV_CODEC_ID_GIF:
    case AV_CODEC_ID_PCX:
    case AV_CODEC_ID_DPX:
        return true;
    default:
        return false;
    }
}

std::optional<OutputFormat> find_output_format(std::string_view path, std::string* why) {
    const std::string name(file_name_of(path));
    const auto refuse = [why](std::string reason) -> std::optional<OutputFormat> {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    const auto dot = name.find_last_of('.');
    const AVOutputFormat* muxer =
        dot == std::string::npos || dot + 1 == name.size() ? nullptr : av_guess_format(nullptr, name.c_str(), nullptr);
    if (muxer == nullptr) {
        return refuse(std::string("unknown output extension (use ") + kKnownExtensions + ")");
    }
    const AVCodecID codec_id = av_guess_codec(muxer, nullptr, name.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
    const AVCodec* codec = codec_id != AV_CODEC_ID_NONE ? avcodec_find_encoder(codec_id) : nullptr;
    if (codec == nullptr) {
        return refuse(std::string("the ") + muxer->name + " format holds no video " +
                      (codec_id == AV_CODEC_ID_NONE ? "" : "this FFmpeg can encode ") + "(use " + kKnownExtensions +
                      ")");
    }
    OutputFormat format{muxer->name, codec->name, OutputKind::Video};
    if (std::string_view(muxer->name) == "image2") {
        format.kind = OutputKind::Sequence;
        if (!has_frame_pattern(name)) {
            format = as_single_picture(format);
        }
    }
    return format;
}

OutputFormat as_single_picture(const OutputFormat& format) {
    OutputFormat still = format;
    if (format.is_sequence()) {
        // The pipe variant writes the one picture to the file the muxer
        // opened, whatever characters its name holds.
        still.kind = OutputKind::Still;
        still.muxer = "image2pipe";
    }
    return still;
}

std::string known_output_extensions() { return kKnownExtensions; }

}  // namespace ocuvex::media
