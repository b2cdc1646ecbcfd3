// The few places where FFmpeg's API moved between 5.1 (Debian 12) and 7.1
// (Debian 13), each behind one function, so that the rest of the media code
// calls neither a removed nor a deprecated field.
#pragma once

#include <cstdint>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/version.h>
}

namespace ocuvex::cli {

// The pixel formats `codec` encodes, ending with AV_PIX_FMT_NONE; null when
// the encoder does not say.
inline const AVPixelFormat* encoder_pixel_formats(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    // avcodec_get_supported_config(): AVCodec::pix_fmts is deprecated.
    const void* list = nullptr;
    int count = 0;
    if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_PIX_FORMAT, 0, &list, &count) < 0) {
        return nullptr;
    }
    return static_cast<const AVPixelFormat*>(list);
#else
    return codec->pix_fmts;
#endif
}

// The frame rates `codec` takes, ending with {0, 0}; null when it takes any.
inline const AVRational* encoder_frame_rates(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    const void* list = nullptr;
    int count = 0;
    if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_FRAME_RATE, 0, &list, &count) < 0) {
        return nullptr;
    }
    return static_cast<const AVRational*>(list);
#else
    return codec->supported_framerates;
#endif
}

// How long a decoded frame lasts, in its stream's time base; 0 when unknown.
inline std::int64_t frame_duration(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    // AVFrame::duration: pkt_duration is deprecated, and gone in FFmpeg 7.
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

inline void set_frame_duration(AVFrame* frame, std::int64_t duration) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    frame->duration = duration;
#else
    frame->pkt_duration = duration;
#endif
}

// CIE XYZ pictures (xyz12le, ...), whose components are no RGB or YUV.
inline bool is_xyz_format(const AVPixFmtDescriptor* desc) {
#ifdef AV_PIX_FMT_FLAG_XYZ
    // FFmpeg 7 flags them.
    return (desc->flags & AV_PIX_FMT_FLAG_XYZ) != 0;
#else
    return std::string_view(desc->name).starts_with("xyz");
#endif
}

}  // namespace ocuvex::cli
