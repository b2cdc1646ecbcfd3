#include "media/encode.h"

#include <cstring>

#include "media/libav_compat.h"
#include "media/picture_colour.h"
#include "media/timestamps.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// Room for one encoded subtitle, as the ffmpeg program gives its encoders.
constexpr int kSubtitleBytes = 1 << 20;

bool supports(const AVCodec* codec, AVPixelFormat format) {
    return list_holds(encoder_pixel_formats(codec), AV_PIX_FMT_NONE, format);
}

bool subsampling_fits(AVPixelFormat format, int w, int h) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && w % (1 << desc->log2_chroma_w) == 0 && h % (1 << desc->log2_chroma_h) == 0;
}

}  // namespace

Encoder::Encoder(const AVCodec* codec) : context_(allocated(avcodec_alloc_context3(codec))) {}

void Encoder::open(AVStream* stream, const AVOutputFormat* muxer, const std::string& what) {
    what_ = what;
    AVCodecContext* encoder = context_.get();
    if ((muxer->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    clear_library_error();
    check_logged(avcodec_open2(encoder, encoder->codec, nullptr), what);
    check_memory(avcodec_parameters_from_context(stream->codecpar, encoder));
    stream->time_base = encoder->time_base;
    if (encoder->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        subtitle_buffer_.resize(kSubtitleBytes);
    }
}

void Encoder::encode(const AVFrame* frame, const PacketSink& deliver) {
    clear_library_error();
    int status = avcodec_send_frame(context_.get(), frame);
    if (status != AVERROR_EOF) {
        check_logged(status, what_);
    }
    while ((status = avcodec_receive_packet(context_.get(), packet_.get())) == 0) {
        deliver(packet_.get());
        av_packet_unref(packet_.get());
    }
    if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
        check_logged(status, what_);
    }
}

AVPacket* Encoder::encode(const AVSubtitle& subtitle) {
    const int size = avcodec_encode_subtitle(context_.get(), subtitle_buffer_.data(),
                                             static_cast<int>(subtitle_buffer_.size()), &subtitle);
    check_logged(size, what_);
    av_packet_unref(packet_.get());
    check_memory(av_new_packet(packet_.get(), size));
    std::memcpy(packet_->data, subtitle_buffer_.data(), static_cast<std::size_t>(size));
    packet_->pts = packet_->dts = subtitle.pts;
    return packet_.get();
}

const AVCodec* find_video_encoder(const std::string& name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    return codec != nullptr && codec->type == AVMEDIA_TYPE_VIDEO ? codec : nullptr;
}

void set_video_defaults(AVCodecContext* encoder, int w, int h, AVPixelFormat format, AVRational input_rate,
                        AVRational sample_aspect_ratio) {
    encoder->width = w;
    encoder->height = h;
    encoder->pix_fmt = format;
    // The time base the ffmpeg program gives an encoder: one tick a frame.
    const AVRational rate = choose_encoder_frame_rate(input_rate, encoder_frame_rates(encoder->codec));
    encoder->framerate = rate;
    encoder->time_base = av_inv_q(rate);
    encoder->sample_aspect_ratio = sample_aspect_ratio;
    encoder->thread_count = 0;
}

bool takes_odd_subsampled_sides(const AVCodec* codec) {
    return codec->id != AV_CODEC_ID_H264 && codec->id != AV_CODEC_ID_HEVC;
}

AVPixelFormat choose_pixel_format(const AVCodec* codec, AVPixelFormat pictures,
                                  std::span<const AVPixelFormat> preferred, int w, int h) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pictures);
    const int alpha = desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0 ? 1 : 0;
    const AVPixelFormat wanted = preferred.empty() ? pictures : preferred.front();
    if (codec->id == AV_CODEC_ID_MJPEG) {
        // JPEG's own full-range formats, the one nearest to what the file
        // should hold, as the ffmpeg program chooses: yuv420p becomes
        // yuvj420p, RGB yuvj444p.
        std::vector<AVPixelFormat> jpeg;
        for (const AVPixelFormat format : {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P}) {
            if (supports(codec, format)) {
                jpeg.push_back(format);
            }
        }
        if (!jpeg.empty()) {
            jpeg.push_back(AV_PIX_FMT_NONE);
            return avcodec_find_best_pix_fmt_of_list(jpeg.data(), wanted, alpha, nullptr);
        }
    }
    const AVPixelFormat* formats = encoder_pixel_formats(codec);
    if (formats == nullptr) {
        return wanted;  // it takes any (rawvideo)
    }
    const auto fits = [&](AVPixelFormat format) {
        return takes_odd_subsampled_sides(codec) || subsampling_fits(format, w, h);
    };
    for (const AVPixelFormat format : preferred) {
        if (supports(codec, format) && fits(format)) {
            return format;
        }
    }
    // The nearest that fits the size; the nearest of all when none does.
    std::vector<AVPixelFormat> candidates;
    std::vector<AVPixelFormat> all;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        (fits(*f) ? candidates : all).push_back(*f);
    }
    if (candidates.empty()) {
        candidates = std::move(all);
    }
    candidates.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(candidates.data(), wanted, alpha, nullptr);
}

std::string profile_name(AVCodecID codec, AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const bool full_chroma = desc->log2_chroma_w == 0 && desc->log2_chroma_h == 0;
    const bool chroma_422 = desc->log2_chroma_w == 1 && desc->log2_chroma_h == 0;
    const int depth = desc->comp[0].depth;
    if (codec == AV_CODEC_ID_H264) {
        return full_chroma ? "High 4:4:4 Predictive" : chroma_422 ? "High 4:2:2" : depth > 8 ? "High 10" : "High";
    }
    const std::string bits = " " + std::to_string(std::max(depth, 10));
    return full_chroma ? "Main 4:4:4" + (depth > 8 ? bits : "") : chroma_422 ? "Main 4:2:2" + bits : "Main";
}

}  // namespace ocuvex::media
