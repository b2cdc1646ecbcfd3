// The few places where FFmpeg's API moved between 5.1 (Debian 12) and 7.1
// (Debian 13), each behind one function, so that the rest of the media code
// calls neither a removed nor a deprecated field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/stereo3d.h>
#include <libavutil/version.h>
}

namespace ocuvex::media {

// The buffer an AVIOContext's write callback is given: const since FFmpeg 7.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using AvioWriteBuffer = const std::uint8_t*;
#else
using AvioWriteBuffer = std::uint8_t*;
#endif

#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
// avcodec_get_supported_config(): the lists on AVCodec are deprecated.
template <typename Value>
const Value* supported_config(const AVCodec* codec, AVCodecConfig config) {
    const void* list = nullptr;
    int count = 0;
    if (avcodec_get_supported_config(nullptr, codec, config, 0, &list, &count) < 0) {
        return nullptr;
    }
    return static_cast<const Value*>(list);
}
#define OCUVEX_ENCODER_LIST(codec, Value, config, field) supported_config<Value>(codec, config)
#else
#define OCUVEX_ENCODER_LIST(codec, Value, config, field) (codec)->field
#endif

// The pixel formats `codec` encodes, ending with AV_PIX_FMT_NONE; null when
// the encoder does not say.
inline const AVPixelFormat* encoder_pixel_formats(const AVCodec* codec) {
    return OCUVEX_ENCODER_LIST(codec, AVPixelFormat, AV_CODEC_CONFIG_PIX_FORMAT, pix_fmts);
}

// The sample formats `codec` encodes, ending with AV_SAMPLE_FMT_NONE; null
// when the encoder does not say.
inline const AVSampleFormat* encoder_sample_formats(const AVCodec* codec) {
    return OCUVEX_ENCODER_LIST(codec, AVSampleFormat, AV_CODEC_CONFIG_SAMPLE_FORMAT, sample_fmts);
}

// The sample rates `codec` encodes, ending with 0; null when it takes any.
inline const int* encoder_sample_rates(const AVCodec* codec) {
    return OCUVEX_ENCODER_LIST(codec, int, AV_CODEC_CONFIG_SAMPLE_RATE, supported_samplerates);
}

// The channel layouts `codec` encodes, ending with a zeroed layout; null
// when it takes any.
inline const AVChannelLayout* encoder_channel_layouts(const AVCodec* codec) {
    return OCUVEX_ENCODER_LIST(codec, AVChannelLayout, AV_CODEC_CONFIG_CHANNEL_LAYOUT, ch_layouts);
}

// The frame rates `codec` takes, ending with {0, 0}; null when it takes any.
inline const AVRational* encoder_frame_rates(const AVCodec* codec) {
    return OCUVEX_ENCODER_LIST(codec, AVRational, AV_CODEC_CONFIG_FRAME_RATE, supported_framerates);
}

// Whether `list`, ended by `end`, holds `value`; false for a null list.
template <typename Value>
bool list_holds(const Value* list, Value end, Value value) {
    for (const Value* item = list; item != nullptr && *item != end; ++item) {
        if (*item == value) {
            return true;
        }
    }
    return false;
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

// A number a decoder carries from a packet to the frame decoded from it,
// through frame threads and reordering: the packet's opaque since FFmpeg 6
// (AV_CODEC_FLAG_COPY_OPAQUE, asked for by carry_packet_numbers() before
// the decoder opens), reordered_opaque before (deprecated since, gone in 7).
// Numbers from 0; -1 when a frame carries none.
inline void carry_packet_numbers(AVCodecContext* context) {
#ifdef AV_CODEC_FLAG_COPY_OPAQUE
    context->flags |= AV_CODEC_FLAG_COPY_OPAQUE;
#else
    (void)context;
#endif
}

inline void set_packet_number(AVCodecContext* context, AVPacket* packet, std::int64_t number) {
#ifdef AV_CODEC_FLAG_COPY_OPAQUE
    (void)context;
    packet->opaque = reinterpret_cast<void*>(static_cast<std::intptr_t>(number + 1));
#else
    (void)packet;
    context->reordered_opaque = number + 1;
#endif
}

inline std::int64_t frame_packet_number(const AVFrame* frame) {
#ifdef AV_CODEC_FLAG_COPY_OPAQUE
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(frame->opaque)) - 1;
#else
    return frame->reordered_opaque - 1;
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

// Whether a decoded frame is interlaced, and whether its top field comes
// first: flags of AVFrame::flags since FFmpeg 6.1, fields before.
inline bool frame_is_interlaced(const AVFrame* frame) {
#ifdef AV_FRAME_FLAG_INTERLACED
    return (frame->flags & AV_FRAME_FLAG_INTERLACED) != 0;
#else
    return frame->interlaced_frame != 0;
#endif
}

inline bool frame_top_field_first(const AVFrame* frame) {
#ifdef AV_FRAME_FLAG_TOP_FIELD_FIRST
    return (frame->flags & AV_FRAME_FLAG_TOP_FIELD_FIRST) != 0;
#else
    return frame->top_field_first != 0;
#endif
}

inline void set_frame_interlacing(AVFrame* frame, bool interlaced, bool top_field_first) {
#ifdef AV_FRAME_FLAG_INTERLACED
    frame->flags &= ~(AV_FRAME_FLAG_INTERLACED | AV_FRAME_FLAG_TOP_FIELD_FIRST);
    frame->flags |= (interlaced ? AV_FRAME_FLAG_INTERLACED : 0) | (top_field_first ? AV_FRAME_FLAG_TOP_FIELD_FIRST : 0);
#else
    frame->interlaced_frame = interlaced ? 1 : 0;
    frame->top_field_first = top_field_first ? 1 : 0;
#endif
}

// A stream's side data (display matrix, stereo layout, ...): on the stream
// itself up to FFmpeg 6.0, in its codec parameters' coded side data since
// 6.1, where AVStream::side_data is deprecated.
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
#define OCUVEX_CODED_SIDE_DATA 1
#endif

// The side data of `type` that `stream` carries, or null.
inline const AVPacketSideData* stream_side_data(const AVStream* stream, AVPacketSideDataType type) {
#ifdef OCUVEX_CODED_SIDE_DATA
    return av_packet_side_data_get(stream->codecpar->coded_side_data, stream->codecpar->nb_coded_side_data, type);
#else
    for (int i = 0; i < stream->nb_side_data; ++i) {
        if (stream->side_data[i].type == type) {
            return &stream->side_data[i];
        }
    }
    return nullptr;
#endif
}

// Gives `stream` a copy of `size` bytes at `data` as its side data of
// `type`, replacing any it had. 0, or AVERROR(ENOMEM).
inline int set_stream_side_data(AVStream* stream, AVPacketSideDataType type, const void* data, std::size_t size) {
#ifdef OCUVEX_CODED_SIDE_DATA
    AVPacketSideData* entry = av_packet_side_data_new(&stream->codecpar->coded_side_data,
                                                      &stream->codecpar->nb_coded_side_data, type, size, 0);
    std::uint8_t* target = entry != nullptr ? entry->data : nullptr;
#else
    std::uint8_t* target = av_stream_new_side_data(stream, type, size);
#endif
    if (target == nullptr) {
        return AVERROR(ENOMEM);
    }
    std::memcpy(target, data, size);
    return 0;
}

// Removes the side data of `type` from `stream`.
inline void remove_stream_side_data(AVStream* stream, AVPacketSideDataType type) {
#ifdef OCUVEX_CODED_SIDE_DATA
    av_packet_side_data_remove(stream->codecpar->coded_side_data, &stream->codecpar->nb_coded_side_data, type);
#else
    int kept = 0;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        if (stream->side_data[i].type == type) {
            av_freep(&stream->side_data[i].data);
        } else {
            stream->side_data[kept++] = stream->side_data[i];
        }
    }
    stream->nb_side_data = kept;
#endif
}

// Copies every side data of `from` to `to`, a stream copied unchanged: its
// codec parameters bring it along since FFmpeg 6.1. 0, or AVERROR(ENOMEM).
inline int copy_stream_side_data(const AVStream* from, AVStream* to) {
#ifdef OCUVEX_CODED_SIDE_DATA
    (void)from;
    (void)to;
    return 0;
#else
    for (int i = 0; i < from->nb_side_data; ++i) {
        const AVPacketSideData& entry = from->side_data[i];
        if (const int status = set_stream_side_data(to, entry.type, entry.data, entry.size); status < 0) {
            return status;
        }
    }
    return 0;
#endif
}

// Gives `stream` stereo-3D side data of `type` with `flags`. Since FFmpeg
// 7.1 the structure's size is the library's to say. 0, or AVERROR(ENOMEM).
inline int set_stream_stereo3d(AVStream* stream, AVStereo3DType type, int flags) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(59, 39, 100)
    std::size_t size = 0;
    AVStereo3D* stereo = av_stereo3d_alloc_size(&size);
#else
    const std::size_t size = sizeof(AVStereo3D);
    AVStereo3D* stereo = av_stereo3d_alloc();
#endif
    if (stereo == nullptr) {
        return AVERROR(ENOMEM);
    }
    stereo->type = type;
    stereo->flags = flags;
    const int status = set_stream_side_data(stream, AV_PKT_DATA_STEREO3D, stereo, size);
    av_free(stereo);
    return status;
}

// Whether `muxer` writes a video stream's display matrix: the MOV family
// always (its track header's matrix); Matroska and WebM since FFmpeg 7 (in
// their Projection element), before which they drop it without a word.
inline bool muxer_writes_display_matrix(const AVOutputFormat* muxer) {
    const std::string_view name = muxer->name;
    if (name == "matroska" || name == "webm") {
        return LIBAVFORMAT_VERSION_MAJOR >= 61;
    }
    for (const std::string_view mov : {"mov", "mp4", "3gp", "3g2", "ipod", "ismv", "psp", "f4v"}) {
        if (name == mov) {
            return true;
        }
    }
    return false;
}

}  // namespace ocuvex::media
