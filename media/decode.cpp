#include "media/decode.h"

#include <algorithm>
#include <cstdio>

#include "media/libav_compat.h"
#include "media/picture_colour.h"

namespace ocuvex::media {

namespace {

// Errors in a row from a decoder that takes no new packet: a stuck decoder.
constexpr int kMaxErrorsInARow = 1000;

bool is_valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }

std::string damage_text(const AVFrame* frame, bool corrupt_packet) {
    struct Flag {
        int bit;
        const char* text;
    };
    constexpr Flag kDecodeErrors[] = {
        {FF_DECODE_ERROR_INVALID_BITSTREAM, "invalid bitstream"},
        {FF_DECODE_ERROR_MISSING_REFERENCE, "missing reference frames"},
        {FF_DECODE_ERROR_CONCEALMENT_ACTIVE, "errors concealed"},
        {FF_DECODE_ERROR_DECODE_SLICES, "slices not decoded"},
    };
    std::string text;
    const auto add = [&text](const char* part) { text += (text.empty() ? "" : ", ") + std::string(part); };
    for (const Flag& flag : kDecodeErrors) {
        if ((frame->decode_error_flags & flag.bit) != 0) {
            add(flag.text);
        }
    }
    if ((frame->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
        add("marked corrupt by the decoder");
    }
    if (corrupt_packet) {
        add("its data marked corrupt by the demuxer");
    }
    return text;
}

}  // namespace

VideoDecoder::VideoDecoder(const Demuxer& demuxer, const InputOptions& options)
    : demuxer_(demuxer),
      stop_(options.stop),
      strict_(options.strict),
      context_(allocated(avcodec_alloc_context3(demuxer.video_codec()))),
      frame_rate_(demuxer.frame_rate()),
      time_base_(demuxer.video_stream()->time_base) {
    const std::string what = "cannot decode " + quoted(demuxer.name());
    check(avcodec_parameters_to_context(context_.get(), demuxer.video_stream()->codecpar), what);
    context_->pkt_timebase = time_base_;
    context_->thread_count = options.threads;
    if (options.max_pixels > 0) {
        context_->max_pixels = options.max_pixels;
    }
    if (strict_) {
        // Checksums the formats carry are checked too: a mismatch is damage.
        context_->err_recognition |= AV_EF_CRCCHECK;
    }
    check(avcodec_open2(context_.get(), demuxer.video_codec(), nullptr), what);
}

void VideoDecoder::send(AVPacket* packet, bool judge_damage) {
    const bool corrupt = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
    if (corrupt && judge_damage) {
        if (strict_) {
            fail_damaged(frames_decoded_, "data marked corrupt by the demuxer");
        }
        ++corrupt_packets_pending_;
    }
    const int status = avcodec_send_packet(context_.get(), packet);
    av_packet_unref(packet);
    if (status < 0 && status != AVERROR(EAGAIN)) {
        failed(status, judge_damage);
    }
}

int VideoDecoder::receive(AVFrame* frame, bool judge_damage) {
    const int status = avcodec_receive_frame(context_.get(), frame);
    if (status == 0) {
        take(frame, judge_damage);
        return 0;
    }
    // A drained decoder answers EOF; one that answers EAGAIN gave up.
    if (status == AVERROR_EOF || (status == AVERROR(EAGAIN) && draining_)) {
        if (judge_damage) {
            // Corrupt packets that never came out as a frame.
            damage_.damaged += corrupt_packets_pending_;
            check_complete();
        }
        corrupt_packets_pending_ = 0;
        return AVERROR_EOF;
    }
    if (status == AVERROR(EAGAIN)) {
        errors_in_a_row_ = 0;
        return status;
    }
    failed(status, judge_damage);
    if (++errors_in_a_row_ > kMaxErrorsInARow) {
        throw MediaError("cannot decode " + quoted(demuxer_.name()) + ": the decoder fails again and again (" +
                         av_error_text(status) + ")");
    }
    return status;
}

void VideoDecoder::take(AVFrame* frame, bool judge_damage) {
    forget_unknown_colour_tags(frame);
    const bool corrupt_packet = corrupt_packets_pending_ > 0;
    if (corrupt_packet) {
        --corrupt_packets_pending_;
    }
    if (judge_damage) {
        judge(frame, corrupt_packet, frames_decoded_);
    }
    // Frames without a time follow the previous one.
    std::int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) {
        pts = next_pts_ != AV_NOPTS_VALUE ? next_pts_ : 0;
    }
    frame->pts = pts;
    std::int64_t duration = frame_duration(frame);
    if (duration <= 0) {
        duration =
            is_valid(frame_rate_) ? std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(frame_rate_), time_base_)) : 1;
    }
    next_pts_ = pts + duration;
    ++frames_decoded_;
}

void VideoDecoder::flush() {
    avcodec_flush_buffers(context_.get());
    draining_ = false;
    corrupt_packets_pending_ = 0;
    next_pts_ = AV_NOPTS_VALUE;
}

void VideoDecoder::input_ended(int status, bool judge_damage) {
    if (status != AVERROR_EOF) {
        // Data the demuxer cannot make sense of ends the input, as the
        // ffmpeg program takes it.
        if (strict_ && judge_damage) {
            const std::string detail = last_library_error();
            fail_damaged(frames_decoded_,
                         "cannot be read on (" + (detail.empty() ? av_error_text(status) : detail) + ")");
        }
        damage_.cut_short = "it cannot be read past some point (" + av_error_text(status) + ")";
    }
    draining_ = true;
    status = avcodec_send_packet(context_.get(), nullptr);
    if (status < 0 && status != AVERROR_EOF) {
        failed(status, judge_damage);
    }
}

void VideoDecoder::failed(int status, bool judge_damage) {
    if (status == AVERROR(ENOMEM)) {
        throw MediaError("cannot decode " + quoted(demuxer_.name()) + ": out of memory");
    }
    stop_->throw_if_requested();
    if (corrupt_packets_pending_ > 0) {
        --corrupt_packets_pending_;  // that packet's frame is this one, dropped
    }
    if (!judge_damage) {
        return;
    }
    if (strict_) {
        const std::string detail = last_library_error();
        fail_damaged(frames_decoded_, "cannot be decoded (" + (detail.empty() ? av_error_text(status) : detail) + ")");
    }
    ++damage_.dropped;
}

void VideoDecoder::check_complete() {
    const std::int64_t announced_end = demuxer_.announced_end();
    if (announced_end == AV_NOPTS_VALUE || next_pts_ == AV_NOPTS_VALUE || demuxer_.is_still()) {
        return;
    }
    // Two frames of slack: the last frame's length is often a guess.
    const AVRational frame = is_valid(frame_rate_) ? av_inv_q(frame_rate_) : AVRational{1, 25};
    const std::int64_t slack = av_rescale_q(2, frame, time_base_);
    const std::int64_t reached = next_pts_ - av_rescale_q(demuxer_.mended_offset(), AV_TIME_BASE_Q, time_base_);
    if (reached + slack >= announced_end) {
        return;
    }
    char text[96];
    std::snprintf(text, sizeof text, "its video ends at %.2f s of %.2f s",
                  static_cast<double>(reached) * av_q2d(time_base_),
                  static_cast<double>(announced_end) * av_q2d(time_base_));
    if (strict_) {
        fail_damaged(frames_decoded_, text);
    }
    if (damage_.cut_short.empty()) {
        damage_.cut_short = text;
    }
}

void VideoDecoder::judge_sought(const AVFrame* frame, std::int64_t index) { judge(frame, false, index); }

void VideoDecoder::judge(const AVFrame* frame, bool corrupt_packet, std::int64_t index) {
    const bool concealed = (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame->decode_error_flags != 0;
    if (!concealed && !corrupt_packet) {
        return;
    }
    if (strict_) {
        const std::string detail = last_library_error();
        fail_damaged(index, damage_text(frame, corrupt_packet) + (detail.empty() ? "" : " (" + detail + ")"));
    }
    ++damage_.damaged;
}

void VideoDecoder::fail_damaged(std::int64_t index, const std::string& what) const {
    stop_->throw_if_requested();
    throw MediaError(quoted(demuxer_.name()) + " is damaged at frame " + std::to_string(index) + ": " + what);
}

}  // namespace ocuvex::media
