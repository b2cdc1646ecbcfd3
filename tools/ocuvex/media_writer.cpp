#include "tools/ocuvex/media_writer.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "tools/ocuvex/media_reader.h"
#include "tools/ocuvex/settings_options.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace ocuvex::cli {

namespace {

constexpr std::array<OutputFormat, 9> kOutputFormats = {{
    {".mp4", "mp4", "libx264"},
    {".mkv", "matroska", "libx264"},
    {".mov", "mov", "libx264"},
    {".png", nullptr, "png"},
    {".jpg", nullptr, "mjpeg"},
    {".jpeg", nullptr, "mjpeg"},
    {".bmp", nullptr, "bmp"},
    {".tif", nullptr, "tiff"},
    {".tiff", nullptr, "tiff"},
}};

// x264's own default (23) softens the fine colour edges an anaglyph is made of.
constexpr int kDefaultX264Crf = 18;

bool supports(const AVCodec* codec, AVPixelFormat format) {
    if (codec->pix_fmts == nullptr) {
        return false;
    }
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == format) {
            return true;
        }
    }
    return false;
}

bool is_yuv_limited(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUV444P;
}

const AVCodec* find_encoder(const OutputFormat& format, const VideoSettings& video) {
    const std::string name = video.codec.empty() ? format.default_codec : video.codec;
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO) {
        throw UsageError("--codec: no video encoder named '" + printable(name) + "' in this FFmpeg");
    }
    return codec;
}

}  // namespace

const OutputFormat* find_output_format(std::string_view path) {
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos) {
        return nullptr;
    }
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const OutputFormat& format : kOutputFormats) {
        if (extension == format.extension) {
            return &format;
        }
    }
    return nullptr;
}

std::string known_output_extensions() {
    std::string list;
    for (const OutputFormat& format : kOutputFormats) {
        list += list.empty() ? "" : ", ";
        list += format.extension;
    }
    return list;
}

void check_codec_choice(const OutputFormat& format, const VideoSettings& video) {
    const AVCodec* codec = find_encoder(format, video);
    if (video.crf &&
        (codec->priv_class == nullptr || av_opt_find2(const_cast<AVClass**>(&codec->priv_class), "crf", nullptr, 0,
                                                      AV_OPT_SEARCH_FAKE_OBJ, nullptr) == nullptr)) {
        throw UsageError(std::string("--crf: the ") + codec->name + " encoder takes no CRF");
    }
}

AVPixelFormat choose_pixel_format(const AVCodec* codec, std::int32_t w, std::int32_t h) {
    if (codec->id == AV_CODEC_ID_MJPEG && supports(codec, AV_PIX_FMT_YUVJ444P)) {
        return AV_PIX_FMT_YUVJ444P;  // full colour resolution, JPEG's own full range
    }
    const bool even = w % 2 == 0 && h % 2 == 0;
    // 4:2:0 plays everywhere but needs even sides; 4:4:4 takes any size.
    const AVPixelFormat preferred[] = {
        AV_PIX_FMT_BGR0,    AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR24, even ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV444P,
        AV_PIX_FMT_YUV444P,
    };
    for (const AVPixelFormat format : preferred) {
        if (supports(codec, format)) {
            return format;
        }
    }
    if (codec->pix_fmts == nullptr) {
        return AV_PIX_FMT_BGR0;
    }
    return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_BGR0, 0, nullptr);
}

MediaWriter::MediaWriter(const std::string& temp_path, const std::string& final_path, const OutputFormat& format,
                         const VideoSettings& video, const MediaReader* copy_from)
    : final_path_(final_path), format_(format), video_(video), source_(copy_from) {
    // A constructor that throws runs no destructor: free what was opened.
    try {
        open(temp_path);
    } catch (...) {
        release();
        throw;
    }
}

void MediaWriter::open(const std::string& temp_path) {
    const std::string& final_path = final_path_;
    const OutputFormat& format = format_;
    const VideoSettings& video = video_;
    const MediaReader* copy_from = source_;
    const AVCodec* codec = find_encoder(format, video);
    const AVPixelFormat pixel_format = choose_pixel_format(codec, video.w, video.h);
    staging_.assign(static_cast<std::size_t>(4) * video.w * video.h, 0);

    if (!format.is_still()) {
        const int status = avformat_alloc_output_context2(&muxer_, nullptr, format.muxer, nullptr);
        if (status < 0) {
            throw MediaError("cannot write " + quoted(final_path) + ": " + av_error_text(status));
        }
    }
    encoder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (encoder_ == nullptr || frame_ == nullptr || packet_ == nullptr) {
        throw MediaError("cannot write " + quoted(final_path) + ": out of memory");
    }
    encoder_->width = video.w;
    encoder_->height = video.h;
    encoder_->pix_fmt = pixel_format;
    encoder_->time_base = video.time_base;
    encoder_->sample_aspect_ratio = video.sample_aspect_ratio;
    if (video.frame_rate.num > 0 && video.frame_rate.den > 0) {
        encoder_->framerate = video.frame_rate;
    }
    encoder_->thread_count = 0;
    if (is_yuv_limited(pixel_format)) {
        encoder_->color_range = AVCOL_RANGE_MPEG;
        encoder_->colorspace = AVCOL_SPC_BT709;
        encoder_->color_primaries = AVCOL_PRI_BT709;
        encoder_->color_trc = AVCOL_TRC_BT709;
    } else if (pixel_format == AV_PIX_FMT_YUVJ444P) {
        encoder_->color_range = AVCOL_RANGE_JPEG;
        // JPEG's quality scale: 2 is near the best, files stay reasonable.
        encoder_->flags |= AV_CODEC_FLAG_QSCALE;
        encoder_->global_quality = FF_QP2LAMBDA * 2;
    }
    if (std::string_view(codec->name) == "ffv1") {
        // Version 3 codes slices in parallel and guards each with a CRC.
        encoder_->level = 3;
        av_opt_set(encoder_->priv_data, "slicecrc", "1", 0);
    }
    if (video.crf) {
        av_opt_set_int(encoder_->priv_data, "crf", *video.crf, 0);
    } else if (std::string_view(codec->name) == "libx264") {
        av_opt_set_int(encoder_->priv_data, "crf", kDefaultX264Crf, 0);
    }
    if (muxer_ != nullptr && (muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    clear_library_error();
    int status = avcodec_open2(encoder_, codec, nullptr);
    if (status < 0) {
        const std::string detail = last_library_error();
        throw MediaError("cannot encode " + quoted(final_path) + " with " + codec->name + " at " +
                         std::to_string(video.w) + "x" + std::to_string(video.h) + ": " +
                         (detail.empty() ? av_error_text(status) : detail));
    }
    frame_->format = pixel_format;
    frame_->width = video.w;
    frame_->height = video.h;
    if (av_frame_get_buffer(frame_, 0) < 0) {
        throw MediaError("cannot write " + quoted(final_path) + ": out of memory");
    }
    if (pixel_format != AV_PIX_FMT_BGR0) {
        scaler_ = sws_getContext(video.w, video.h, AV_PIX_FMT_BGR0, video.w, video.h, pixel_format, kScalerFlags,
                                 nullptr, nullptr, nullptr);
        if (scaler_ == nullptr) {
            throw MediaError("cannot write " + quoted(final_path) + ": no conversion to " +
                             av_get_pix_fmt_name(pixel_format));
        }
        if (is_yuv_limited(pixel_format)) {
            sws_setColorspaceDetails(scaler_, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                     sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
        }
    }

    const AVIOInterruptCB interrupt = stop_interrupt_callback();
    const std::string url = "file:" + temp_path;
    if (format.is_still()) {
        status = avio_open2(&still_io_, url.c_str(), AVIO_FLAG_WRITE, &interrupt, nullptr);
        if (status < 0) {
            fail_write(status);
        }
        return;
    }

    muxer_->interrupt_callback = interrupt;
    video_stream_ = avformat_new_stream(muxer_, nullptr);
    if (video_stream_ == nullptr) {
        throw MediaError("cannot write " + quoted(final_path) + ": out of memory");
    }
    avcodec_parameters_from_context(video_stream_->codecpar, encoder_);
    video_stream_->time_base = encoder_->time_base;
    video_stream_->avg_frame_rate = encoder_->framerate;
    video_stream_->sample_aspect_ratio = video.sample_aspect_ratio;
    if (video.stereo_mode != nullptr && std::string_view(format.muxer) == "matroska") {
        av_dict_set(&video_stream_->metadata, "stereo_mode", video.stereo_mode, 0);
    }
    if (copy_from != nullptr) {
        const AVFormatContext* input = copy_from->format();
        av_dict_copy(&muxer_->metadata, input->metadata, 0);
        const AVStream* in_video = copy_from->video_stream();
        AVDictionaryEntry* language = av_dict_get(in_video->metadata, "language", nullptr, 0);
        if (language != nullptr) {
            av_dict_set(&video_stream_->metadata, "language", language->value, 0);
        }
        stream_map_.assign(input->nb_streams, -1);
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            if (!copy_from->is_copied_stream(static_cast<int>(i))) {
                continue;
            }
            const AVStream* in = input->streams[i];
            if (avformat_query_codec(muxer_->oformat, in->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 0) {
                throw MediaError(quoted(final_path) + " cannot hold stream " + std::to_string(i) + " of " +
                                 quoted(copy_from->path()) + " (" + avcodec_get_name(in->codecpar->codec_id) + " " +
                                 av_get_media_type_string(in->codecpar->codec_type) + "); try .mkv");
            }
            AVStream* out = avformat_new_stream(muxer_, nullptr);
            if (out == nullptr || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0) {
                throw MediaError("cannot write " + quoted(final_path) + ": out of memory");
            }
            out->codecpar->codec_tag = 0;
            out->time_base = in->time_base;
            out->disposition = in->disposition;
            av_dict_copy(&out->metadata, in->metadata, 0);
            stream_map_[i] = out->index;
        }
    }
    // The mp4 muxer reopens the file by this name to move its index to the front.
    av_freep(&muxer_->url);
    muxer_->url = av_strdup(url.c_str());
    status = avio_open2(&muxer_->pb, url.c_str(), AVIO_FLAG_WRITE, &interrupt, nullptr);
    if (status < 0) {
        fail_write(status);
    }
    OptionDict options;
    if (std::string_view(format.muxer) == "mp4" || std::string_view(format.muxer) == "mov") {
        // The index up front, so players can start before the whole file is there.
        options.set("movflags", "+faststart");
    }
    clear_library_error();
    status = avformat_write_header(muxer_, options.get());
    if (status == AVERROR_EXPERIMENTAL) {
        std::string codecs;
        for (unsigned i = 1; i < muxer_->nb_streams; ++i) {
            codecs +=
                std::string(codecs.empty() ? "" : ", ") + avcodec_get_name(muxer_->streams[i]->codecpar->codec_id);
        }
        throw MediaError(quoted(final_path) + " would hold the input's " + codecs +
                         " only as an experimental feature of FFmpeg; try .mkv");
    }
    if (status < 0) {
        fail_write(status);
    }
}

MediaWriter::~MediaWriter() { release(); }

void MediaWriter::release() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&encoder_);
    avio_closep(&still_io_);
    if (muxer_ != nullptr) {
        avio_closep(&muxer_->pb);
        avformat_free_context(muxer_);
        muxer_ = nullptr;
    }
}

void MediaWriter::fail_write(int code) const {
    throw_if_stopped();
    std::string reason = av_error_text(code);
    if (code == AVERROR(EINVAL) || code == AVERROR_INVALIDDATA) {
        const std::string detail = last_library_error();
        reason = detail.empty() ? reason : detail;
    }
    throw MediaError("cannot write " + quoted(final_path_) + ": " + reason);
}

void MediaWriter::write_frame(std::int64_t pts) {
    int status = av_frame_make_writable(frame_);
    if (status < 0) {
        fail_write(status);
    }
    const std::uint8_t* planes[4] = {staging_.data(), nullptr, nullptr, nullptr};
    const int pitches[4] = {frame_pitch(), 0, 0, 0};
    if (scaler_ == nullptr) {
        av_image_copy_plane(frame_->data[0], frame_->linesize[0], staging_.data(), frame_pitch(), 4 * video_.w,
                            video_.h);
    } else {
        sws_scale(scaler_, planes, pitches, 0, video_.h, frame_->data, frame_->linesize);
    }
    frame_->pts = pts;
    clear_library_error();
    status = avcodec_send_frame(encoder_, frame_);
    if (status < 0) {
        fail_write(status);
    }
    drain_encoder(false);
}

void MediaWriter::drain_encoder(bool flushing) {
    while (true) {
        const int status = avcodec_receive_packet(encoder_, packet_);
        if (status == AVERROR(EAGAIN) || (flushing && status == AVERROR_EOF)) {
            return;
        }
        if (status < 0) {
            fail_write(status);
        }
        throw_if_stopped();
        int written = 0;
        if (still_io_ != nullptr) {
            avio_write(still_io_, packet_->data, packet_->size);
            written = still_io_->error;
            av_packet_unref(packet_);
        } else {
            av_packet_rescale_ts(packet_, encoder_->time_base, video_stream_->time_base);
            packet_->stream_index = video_stream_->index;
            written = av_interleaved_write_frame(muxer_, packet_);
        }
        if (written < 0) {
            fail_write(written);
        }
    }
}

void MediaWriter::write_packet(AVPacket* packet) {
    const int out =
        packet->stream_index < static_cast<int>(stream_map_.size()) ? stream_map_[packet->stream_index] : -1;
    if (out < 0 || muxer_ == nullptr) {
        av_packet_unref(packet);
        return;
    }
    av_packet_rescale_ts(packet, source_->format()->streams[packet->stream_index]->time_base,
                         muxer_->streams[out]->time_base);
    packet->stream_index = out;
    packet->pos = -1;
    const int status = av_interleaved_write_frame(muxer_, packet);
    if (status < 0) {
        fail_write(status);
    }
}

void MediaWriter::finish() {
    int status = avcodec_send_frame(encoder_, nullptr);
    if (status < 0) {
        fail_write(status);
    }
    drain_encoder(true);
    if (muxer_ != nullptr) {
        status = av_write_trailer(muxer_);
        if (status < 0) {
            fail_write(status);
        }
        status = avio_closep(&muxer_->pb);
    } else {
        avio_flush(still_io_);
        status = still_io_->error;
        const int closed = avio_closep(&still_io_);
        status = status < 0 ? status : closed;
    }
    if (status < 0) {
        fail_write(status);
    }
}

}  // namespace ocuvex::cli
