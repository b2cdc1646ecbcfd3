#include "tools/ocuvex/media_reader.h"

#include <cerrno>
#include <cmath>
#include <string_view>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::cli {

namespace {

// The image demuxers: one file, one picture.
bool is_image_demuxer(std::string_view name) { return name == "image2" || name.ends_with("_pipe"); }

int sws_colorspace(AVColorSpace space) {
    switch (space) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    default:
        return SWS_CS_DEFAULT;
    }
}

bool is_full_range(const AVFrame* frame) {
    if (frame->color_range == AVCOL_RANGE_JPEG) {
        return true;
    }
    const AVPixelFormat f = static_cast<AVPixelFormat>(frame->format);
    return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P ||
           f == AV_PIX_FMT_YUVJ440P || f == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

MediaReader::MediaReader(const std::string& path) : path_(path) {
    // A constructor that throws runs no destructor: free what was opened.
    try {
        open();
    } catch (...) {
        release();
        throw;
    }
}

void MediaReader::open() {
    const std::string& path = path_;
    format_ = avformat_alloc_context();
    if (format_ == nullptr) {
        throw MediaError("cannot read " + quoted(path) + ": out of memory");
    }
    format_->interrupt_callback = stop_interrupt_callback();
    // Only local files: a playlist or concat list must not reach the network.
    OptionDict options;
    options.set("protocol_whitelist", "file");
    // "file:" keeps a name with a colon from being taken for a protocol.
    const std::string url = "file:" + path;
    clear_library_error();
    int status = avformat_open_input(&format_, url.c_str(), nullptr, options.get());
    if (status == AVERROR_INVALIDDATA) {
        throw MediaError(quoted(path) + " is not a video or image FFmpeg can read");
    }
    if (status < 0) {
        throw MediaError("cannot read " + quoted(path) + ": " + av_error_text(status));
    }
    status = avformat_find_stream_info(format_, nullptr);
    if (status < 0) {
        throw MediaError("cannot read " + quoted(path) + ": " + av_error_text(status));
    }
    const AVCodec* codec = nullptr;
    video_index_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (video_index_ == AVERROR_STREAM_NOT_FOUND) {
        throw MediaError(quoted(path) + " has no video stream");
    }
    if (video_index_ < 0 || codec == nullptr) {
        const AVStream* st = format_->streams[av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)];
        throw MediaError("cannot read " + quoted(path) + ": no decoder for its " +
                         avcodec_get_name(st->codecpar->codec_id) + " video");
    }
    AVStream* stream = format_->streams[video_index_];
    decoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (decoder_ == nullptr || packet_ == nullptr || frame_ == nullptr) {
        throw MediaError("cannot read " + quoted(path) + ": out of memory");
    }
    avcodec_parameters_to_context(decoder_, stream->codecpar);
    decoder_->pkt_timebase = stream->time_base;
    decoder_->thread_count = 0;
    // Damage must stop the conversion rather than turn into garbled frames.
    decoder_->err_recognition = AV_EF_CRCCHECK;
    status = avcodec_open2(decoder_, codec, nullptr);
    if (status < 0) {
        throw MediaError("cannot decode " + quoted(path) + ": " + av_error_text(status));
    }
    width_ = stream->codecpar->width;
    height_ = stream->codecpar->height;
    if (width_ <= 0 || height_ <= 0) {
        throw MediaError(quoted(path) + " has a video stream without a picture size");
    }
    is_still_ = is_image_demuxer(format_->iformat->name);
    if (is_still_) {
        expected_frames_ = 1;
    } else if (stream->nb_frames > 0) {
        expected_frames_ = stream->nb_frames;
    } else if (format_->duration > 0) {
        const AVRational rate = frame_rate();
        if (rate.num > 0 && rate.den > 0) {
            expected_frames_ = static_cast<std::int64_t>(
                std::llround(static_cast<double>(format_->duration) * rate.num / rate.den / AV_TIME_BASE));
        }
    }
    const int size = av_image_get_buffer_size(AV_PIX_FMT_BGR0, width_, height_, 1);
    if (size < 0) {
        throw MediaError(quoted(path) + ": picture too large (" + std::to_string(width_) + "x" +
                         std::to_string(height_) + ")");
    }
    buffer_.resize(static_cast<std::size_t>(size));
    // Probing may stumble over the start of a stream; damage counts from here.
    input_errors_seen_ = input_error_count();
}

MediaReader::~MediaReader() { release(); }

void MediaReader::release() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
}

AVRational MediaReader::frame_rate() const {
    return av_guess_frame_rate(format_, format_->streams[video_index_], nullptr);
}

bool MediaReader::is_copied_stream(int index) const {
    const AVMediaType type = format_->streams[index]->codecpar->codec_type;
    return index != video_index_ && (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE);
}

void MediaReader::fail_damaged(int code) const {
    throw_if_stopped();
    std::string detail = last_library_error();
    if (detail.empty()) {
        detail = av_error_text(code);
    }
    throw MediaError(quoted(path_) + " is damaged after frame " + std::to_string(frames_read_) + ": " + detail);
}

void MediaReader::check_logged_damage() const {
    std::string detail;
    if (input_error_count(&detail) != input_errors_seen_) {
        throw_if_stopped();
        throw MediaError(quoted(path_) + " is damaged after frame " + std::to_string(frames_read_) + ": " + detail);
    }
}

MediaReader::Event MediaReader::next() {
    av_packet_unref(packet_);
    av_frame_unref(frame_);
    while (true) {
        throw_if_stopped();
        int status = avcodec_receive_frame(decoder_, frame_);
        if (status == 0) {
            check_logged_damage();
            take_frame();
            return Event::VideoFrame;
        }
        if (status == AVERROR_EOF) {
            check_logged_damage();
            return Event::End;
        }
        if (status != AVERROR(EAGAIN)) {
            fail_damaged(status);
        }
        check_logged_damage();
        status = av_read_frame(format_, packet_);
        if (status == AVERROR_EOF) {
            if (format_->pb != nullptr && format_->pb->error < 0 && format_->pb->error != AVERROR_EOF) {
                fail_damaged(format_->pb->error);
            }
            if (draining_) {
                return Event::End;
            }
            draining_ = true;
            avcodec_send_packet(decoder_, nullptr);
            continue;
        }
        if (status < 0) {
            fail_damaged(status);
        }
        if (packet_->stream_index == video_index_) {
            status = avcodec_send_packet(decoder_, packet_);
            av_packet_unref(packet_);
            if (status < 0 && status != AVERROR(EAGAIN)) {
                fail_damaged(status);
            }
            continue;
        }
        if (is_copied_stream(packet_->stream_index)) {
            return Event::Packet;
        }
        av_packet_unref(packet_);
    }
}

void MediaReader::take_frame() {
    if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
        fail_damaged(AVERROR_INVALIDDATA);
    }
    if (frame_->width != width_ || frame_->height != height_) {
        throw MediaError(quoted(path_) + ": the picture size changes from " + std::to_string(width_) + "x" +
                         std::to_string(height_) + " to " + std::to_string(frame_->width) + "x" +
                         std::to_string(frame_->height) + " after frame " + std::to_string(frames_read_) +
                         ", which a conversion cannot follow");
    }
    if (frame_->format == AV_PIX_FMT_BGR0 && frame_->linesize[0] > 0) {
        // Already the core's pixel layout: no copy.
        pixels_ = frame_->data[0];
        pitch_ = frame_->linesize[0];
    } else {
        if (scaler_ == nullptr || scaler_format_ != frame_->format) {
            sws_freeContext(scaler_);
            scaler_ = sws_getContext(width_, height_, static_cast<AVPixelFormat>(frame_->format), width_, height_,
                                     AV_PIX_FMT_BGR0, kScalerFlags, nullptr, nullptr, nullptr);
            if (scaler_ == nullptr) {
                throw MediaError("cannot read " + quoted(path_) + ": no conversion from its pixel format " +
                                 av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame_->format)));
            }
            scaler_format_ = frame_->format;
            const int* table = sws_getCoefficients(sws_colorspace(frame_->colorspace));
            sws_setColorspaceDetails(scaler_, table, is_full_range(frame_) ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT),
                                     1, 0, 1 << 16, 1 << 16);
        }
        std::uint8_t* planes[4] = {buffer_.data(), nullptr, nullptr, nullptr};
        int pitches[4] = {4 * width_, 0, 0, 0};
        sws_scale(scaler_, frame_->data, frame_->linesize, 0, height_, planes, pitches);
        pixels_ = buffer_.data();
        pitch_ = 4 * width_;
    }
    // Frames without a time follow the previous one at the frame rate.
    pts_ = frame_->best_effort_timestamp;
    if (pts_ == AV_NOPTS_VALUE) {
        pts_ = next_pts_;
    }
    std::int64_t duration = frame_->pkt_duration;
    if (duration <= 0) {
        const AVRational rate = frame_rate();
        duration =
            rate.num > 0 ? std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(rate), video_stream()->time_base)) : 1;
    }
    next_pts_ = pts_ + duration;
    ++frames_read_;
}

}  // namespace ocuvex::cli
