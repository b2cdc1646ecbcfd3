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

bool is_flagged(const AVFrame* frame) {
    return (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame->decode_error_flags != 0;
}

std::string flag_text(const AVFrame* frame) {
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
    return text;
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

}  // namespace

void DamageCount::add(std::optional<double> seconds) {
    ++count;
    if (seconds && (!first_seconds || *seconds < *first_seconds)) {
        first_seconds = seconds;
    }
}

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
    // One thread: FFmpeg's frame threads may hand a frame out before its
    // concealment flags are set (H.264), and its slice threads turn
    // H.264's error concealment off; either way damage would come and go.
    // Decoding is a small part of a conversion's time.
    context_->thread_count = 1;
    if (options.max_pixels > 0) {
        context_->max_pixels = options.max_pixels;
    }
    if (strict_) {
        // Checksums the formats carry are checked, and what a decoder finds
        // is a failure rather than concealed (MJPEG reports nothing else).
        context_->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
    }
    carry_packet_numbers(context_.get());
    log_.decoding(context_.get(), -1);
    check(avcodec_open2(context_.get(), demuxer.video_codec(), nullptr), what);
}

void VideoDecoder::send(AVPacket* packet, bool judge_damage) {
    const std::int64_t number = packets_sent_++;
    PacketRecord& record = records_[static_cast<std::size_t>(number) % records_.size()];
    close_record(record);
    record = PacketRecord{};
    record.number = number;
    record.seconds = seconds_of(packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts);
    record.judged = judge_damage;
    if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0 && judge_damage) {
        if (strict_) {
            stop_->throw_if_requested();
            throw MediaError("a damaged packet in " + quoted(demuxer_.name()) +
                             (record.seconds ? " at " + seconds_text(*record.seconds) : "") + " (stream " +
                             std::to_string(demuxer_.video_index()) + "), marked corrupt by the demuxer");
        }
        damage_.damaged_packets.add(record.seconds);
    }
    set_packet_number(context_.get(), packet, number);
    log_.decoding(context_.get(), number);
    const int status = avcodec_send_packet(context_.get(), packet);
    av_packet_unref(packet);
    read_log();
    if (status < 0 && status != AVERROR(EAGAIN)) {
        failed(status, judge_damage);
    }
}

int VideoDecoder::receive(AVFrame* frame, bool judge_damage) {
    const int status = avcodec_receive_frame(context_.get(), frame);
    read_log();  // the lines of a frame's packet are logged before it comes out
    if (status == 0) {
        take(frame, judge_damage);
        return 0;
    }
    // A drained decoder answers EOF; one that answers EAGAIN gave up.
    if (status == AVERROR_EOF || (status == AVERROR(EAGAIN) && draining_)) {
        close_records();
        if (judge_damage) {
            check_complete();
        }
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
    PacketRecord* record = record_of(frame_packet_number(frame));
    if (record != nullptr) {
        record->has_frame = true;
    }
    if (judge_damage) {
        judge(frame, record);
    }
}

void VideoDecoder::judge(const AVFrame* frame, PacketRecord* record) {
    if (record == nullptr) {
        // A frame that says nothing of its packet: judged by its flags alone.
        if (is_flagged(frame)) {
            if (strict_) {
                fail_damaged(seconds_of(frame->pts), flag_text(frame));
            }
            damage_.damaged_frames.add(seconds_of(frame->pts));
        }
        return;
    }
    if (is_flagged(frame) || record->logged) {
        count_frame(*record, is_flagged(frame) ? flag_text(frame) : "the decoder logged errors decoding it");
    }
}

void VideoDecoder::flush() {
    avcodec_flush_buffers(context_.get());
    read_log();
    for (PacketRecord& record : records_) {
        record = PacketRecord{};
    }
    draining_ = false;
    next_pts_ = AV_NOPTS_VALUE;
}

void VideoDecoder::input_ended(int status, bool judge_damage) {
    if (status != AVERROR_EOF) {
        // Data the demuxer cannot make sense of ends the input, as the
        // ffmpeg program takes it.
        if (strict_ && judge_damage) {
            const std::string detail = last_library_error();
            fail_damaged(seconds_of(next_pts_),
                         "cannot be read on (" + (detail.empty() ? av_error_text(status) : detail) + ")");
        }
        damage_.cut_short = "it cannot be read past some point (" + av_error_text(status) + ")";
    }
    draining_ = true;
    status = avcodec_send_packet(context_.get(), nullptr);
    read_log();
    if (status < 0 && status != AVERROR_EOF) {
        failed(status, judge_damage);
    }
}

void VideoDecoder::failed(int status, bool judge_damage) {
    if (status == AVERROR(ENOMEM)) {
        throw MediaError("cannot decode " + quoted(demuxer_.name()) + ": out of memory");
    }
    stop_->throw_if_requested();
    ++failures_;
    if (!judge_damage) {
        return;
    }
    // In one thread, the failure is the latest packet's.
    PacketRecord* latest = record_of(packets_sent_ - 1);
    if (strict_) {
        const std::string detail = last_library_error();
        fail_damaged(latest != nullptr ? latest->seconds : seconds_of(next_pts_),
                     "cannot be decoded (" + (detail.empty() ? av_error_text(status) : detail) + ")");
    }
    if (latest != nullptr && !latest->has_frame) {
        latest->failed = true;  // counted once its slot closes without a frame
    } else {
        damage_.dropped.add(seconds_of(next_pts_));
    }
}

void VideoDecoder::judge_missing(std::int64_t pts) {
    if (strict_) {
        fail_damaged(seconds_of(pts), "the frame at this time cannot be decoded");
    }
}

void VideoDecoder::read_log() {
    log_.take(lines_);
    for (const DecoderLog::Line& line : lines_) {
        PacketRecord* record = record_of(line.packet);
        if (record == nullptr) {
            continue;  // logged on opening, or before a seek
        }
        record->logged = true;
        if (!record->judged) {
            continue;
        }
        if (strict_) {
            fail_damaged(record->seconds, line.text);
        }
        if (record->has_frame) {
            count_frame(*record, line.text);
        }
    }
}

VideoDecoder::PacketRecord* VideoDecoder::record_of(std::int64_t number) {
    if (number < 0) {
        return nullptr;
    }
    PacketRecord& record = records_[static_cast<std::size_t>(number) % records_.size()];
    return record.number == number ? &record : nullptr;
}

void VideoDecoder::count_frame(PacketRecord& record, const std::string& what) {
    if (record.counted) {
        return;
    }
    if (strict_) {
        fail_damaged(record.seconds, what);
    }
    record.counted = true;
    damage_.damaged_frames.add(record.seconds);
}

// A packet whose slot is taken again, or at the end: one the decoder failed
// on or logged errors for, and gave no frame, was dropped.
void VideoDecoder::close_record(PacketRecord& record) {
    if (record.number >= 0 && record.judged && (record.logged || record.failed) && !record.has_frame) {
        damage_.dropped.add(record.seconds);
    }
    record.number = -1;
}

void VideoDecoder::close_records() {
    for (PacketRecord& record : records_) {
        close_record(record);
    }
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
        fail_damaged(seconds_of(reached), text);
    }
    if (damage_.cut_short.empty()) {
        damage_.cut_short = text;
    }
}

void VideoDecoder::judge_sought(const AVFrame* frame) {
    PacketRecord* record = record_of(frame_packet_number(frame));
    if (record != nullptr) {
        record->judged = true;
    }
    judge(frame, record);
}

std::optional<double> VideoDecoder::seconds_of(std::int64_t pts) const {
    if (pts == AV_NOPTS_VALUE) {
        return std::nullopt;
    }
    return static_cast<double>(pts) * av_q2d(time_base_);
}

void VideoDecoder::fail_damaged(std::optional<double> seconds, const std::string& what) const {
    stop_->throw_if_requested();
    throw MediaError(quoted(demuxer_.name()) + " is damaged in stream " + std::to_string(demuxer_.video_index()) +
                     (seconds ? " at " + seconds_text(*seconds) : " at frame " + std::to_string(frames_decoded_)) +
                     ": " + what);
}

}  // namespace ocuvex::media
