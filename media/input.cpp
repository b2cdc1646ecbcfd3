#include "media/input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "media/libav_compat.h"
#include "media/picture_planes.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/parseutils.h>
#include <libavutil/time.h>
}

namespace ocuvex::media {

namespace {

// Packets of other streams kept while looking for the first frame: beyond
// this the input has no picture worth waiting for.
constexpr std::int64_t kMaxHeldBytes = std::int64_t{64} << 20;
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

MediaReader::MediaReader(const std::string& path, const ReaderOptions& options) : name_(path) {
    format_.reset(avformat_alloc_context());
    if (format_ == nullptr) {
        throw MediaError("cannot read " + quoted(path) + ": out of memory");
    }
    // "-" is standard input, as for the ffmpeg program; "file:" keeps a
    // name with a colon from being taken for a protocol.
    open(path == "-" ? "pipe:0" : "file:" + path, options);
}

MediaReader::MediaReader(AVIOContext* io, const std::string& name, const ReaderOptions& options) : name_(name) {
    format_.reset(avformat_alloc_context());
    if (format_ == nullptr) {
        throw MediaError("cannot read " + quoted(name) + ": out of memory");
    }
    format_->pb = io;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    open("", options);
}

void MediaReader::open(const std::string& url, const ReaderOptions& options) {
    strict_ = options.strict;
    max_packets_ = options.max_packets;
    stop_ = options.stop;
    format_->interrupt_callback = stop_->interrupt_callback();
    if (options.probe_bytes > 0) {
        format_->probesize = options.probe_bytes;
    }
    if (options.analyze_microseconds > 0) {
        format_->max_analyze_duration = options.analyze_microseconds;
    }
    OptionDict demuxer_options;
    // Only local files (or standard input), and nothing beside a file in
    // memory: a playlist or concat list must not reach the network.
    const bool from_pipe = url.starts_with("pipe:");
    demuxer_options.set("protocol_whitelist", (format_->flags & AVFMT_FLAG_CUSTOM_IO) != 0 ? "none"
                                              : from_pipe                                  ? "pipe"
                                                                                           : "file");
    const bool rate_given = is_valid(options.frame_rate);
    if (rate_given) {
        demuxer_options.set(
            "framerate",
            (std::to_string(options.frame_rate.num) + "/" + std::to_string(options.frame_rate.den)).c_str());
    }
    clear_library_error();
    AVFormatContext* opened = format_.release();
    int status = avformat_open_input(&opened, url.c_str(), nullptr, demuxer_options.get());
    format_.reset(opened);  // freed by avformat_open_input on failure
    stop_->throw_if_requested();
    // A demuxer takes the options it has and leaves the others.
    frame_rate_taken_ = rate_given && av_dict_get(*demuxer_options.get(), "framerate", nullptr, 0) == nullptr;
    if (status == AVERROR_INVALIDDATA) {
        throw MediaError(quoted(name_) + " is not a video or image FFmpeg can read");
    }
    if (status == AVERROR_EOF) {
        throw MediaError(quoted(name_) + " has no frame that can be decoded");
    }
    if (status < 0) {
        throw MediaError("cannot read " + quoted(name_) + ": " + av_error_text(status));
    }
    status = avformat_find_stream_info(format_.get(), nullptr);
    stop_->throw_if_requested();
    // The end of a file with no frames: the first frame's search says so.
    if (status < 0 && status != AVERROR_EOF) {
        throw MediaError("cannot read " + quoted(name_) + ": " + av_error_text(status));
    }
    const AVCodec* codec = choose_video_stream(options.video_stream);
    AVStream* stream = format_->streams[video_index_];
    decoder_.reset(avcodec_alloc_context3(codec));
    if (decoder_ == nullptr) {
        throw MediaError("cannot read " + quoted(name_) + ": out of memory");
    }
    status = avcodec_parameters_to_context(decoder_.get(), stream->codecpar);
    if (status < 0) {
        throw MediaError("cannot decode " + quoted(name_) + ": " + av_error_text(status));
    }
    decoder_->pkt_timebase = stream->time_base;
    decoder_->thread_count = options.threads;
    if (options.max_pixels > 0) {
        decoder_->max_pixels = options.max_pixels;
    }
    if (strict_) {
        // Checksums the formats carry are checked too: a mismatch is damage.
        decoder_->err_recognition |= AV_EF_CRCCHECK;
    }
    status = avcodec_open2(decoder_.get(), codec, nullptr);
    if (status < 0) {
        throw MediaError("cannot decode " + quoted(name_) + ": " + av_error_text(status));
    }
    // Streams the conversion neither decodes nor copies are not even read.
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != video_index_ && !is_copied_stream(static_cast<int>(i))) {
            format_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    timestamps_may_jump_ = (format_->iformat->flags & AVFMT_TS_DISCONT) != 0;
    mender_ = DiscontinuityMender(timestamps_may_jump_);
    frame_rate_ = av_guess_frame_rate(format_.get(), stream, nullptr);
    if (!is_valid(frame_rate_)) {
        frame_rate_ = AVRational{0, 1};
    }
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const AVDictionaryEntry* tagged = av_dict_get(stream->metadata, "DURATION", nullptr, 0);
    std::int64_t tagged_duration = 0;
    if (stream->duration > 0 && format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        announced_end_ = start + stream->duration;
    } else if (tagged != nullptr && av_parse_time(&tagged_duration, tagged->value, 1) == 0 && tagged_duration > 0) {
        // FFmpeg's Matroska muxer writes the stream's end time there, other
        // muxers its length: the earlier of the two ends is the one promised.
        const std::int64_t tagged_end = av_rescale_q(tagged_duration, AV_TIME_BASE_Q, stream->time_base);
        announced_end_ = std::min(tagged_end, start + tagged_end);
    }
    // An image demuxer reads one picture, or a sequence of them whose
    // stream lasts one tick of 1/framerate per picture; a cover is one picture.
    const std::string_view demuxer = format_->iformat->name;
    is_still_ = demuxer.ends_with("_pipe") || (demuxer == "image2" && stream->duration <= 1) ||
                (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    estimate_frames();
    prime();
}

const AVCodec* MediaReader::choose_video_stream(int wanted) {
    const AVCodec* codec = nullptr;
    if (wanted < 0) {
        video_index_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (video_index_ == AVERROR_STREAM_NOT_FOUND) {
            throw MediaError(quoted(name_) + " has no video stream");
        }
        if (video_index_ < 0) {
            video_index_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        }
        // FFmpeg prefers a real video to a cover picture: one left over
        // means an audio file with its cover, not a video to convert.
        if (video_index_ >= 0 && (format_->streams[video_index_]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            int number = 0;
            for (int i = 0; i < video_index_; ++i) {
                number += format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? 1 : 0;
            }
            throw MediaError(quoted(name_) + " has no video stream, only a cover picture (--video-stream " +
                             std::to_string(number) + " converts that picture)");
        }
    } else {
        int seen = 0;
        video_index_ = -1;
        for (unsigned i = 0; i < format_->nb_streams && video_index_ < 0; ++i) {
            if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && seen++ == wanted) {
                video_index_ = static_cast<int>(i);
            }
        }
        if (video_index_ < 0) {
            throw MediaError(quoted(name_) + " has no video stream " + std::to_string(wanted) + " (it has " +
                             std::to_string(seen) + ", counted from 0)");
        }
        codec = avcodec_find_decoder(format_->streams[video_index_]->codecpar->codec_id);
    }
    if (video_index_ < 0 || codec == nullptr) {
        const AVCodecID id = video_index_ >= 0 ? format_->streams[video_index_]->codecpar->codec_id : AV_CODEC_ID_NONE;
        throw MediaError("cannot read " + quoted(name_) + ": no decoder for its " + avcodec_get_name(id) + " video");
    }
    return codec;
}

void MediaReader::estimate_frames() {
    const AVStream* stream = format_->streams[video_index_];
    const bool sequence = std::string_view(format_->iformat->name) == "image2";
    expected_frames_exact_ = is_still_ || sequence || stream->nb_frames > 0;
    if (is_still_) {
        expected_frames_ = 1;
        return;
    }
    if (stream->nb_frames > 0) {
        expected_frames_ = stream->nb_frames;
        return;
    }
    // A duration gives the frame count only at a constant frame rate: the
    // rate FFmpeg guesses and the average it measured must agree (Matroska's
    // default duration can still make a variable rate look constant).
    const AVRational average = stream->avg_frame_rate;
    const bool constant = sequence || (is_valid(average) && is_valid(frame_rate_) &&
                                       std::abs(av_q2d(av_div_q(average, frame_rate_)) - 1) < 0.005);
    const double seconds = stream->duration > 0    ? static_cast<double>(stream->duration) * av_q2d(stream->time_base)
                           : format_->duration > 0 ? static_cast<double>(format_->duration) / AV_TIME_BASE
                                                   : 0;
    if (constant && seconds > 0 && is_valid(frame_rate_)) {
        expected_frames_ = std::llround(seconds * av_q2d(frame_rate_));
    }
}

std::int64_t MediaReader::start_time() const { return format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0; }

void MediaReader::prime() {
    if (read_on(true, true) != Event::VideoFrame) {
        throw MediaError(
            quoted(name_) + " has no frame that can be decoded" +
            (damage_.dropped > 0 ? " (" + std::to_string(damage_.dropped) + " packets fail to decode)" : ""));
    }
    holding_frame_ = true;
    width_ = frame_->width;
    height_ = frame_->height;
    if (width_ <= 0 || height_ <= 0 || av_image_check_size(width_, height_, 0, nullptr) < 0) {
        throw MediaError(quoted(name_) + " has pictures of " + std::to_string(width_) + "x" + std::to_string(height_) +
                         " pixels, which cannot be converted");
    }
    first_pts_ = frame_->pts;
    sample_aspect_ratio_ = av_guess_sample_aspect_ratio(format_.get(), format_->streams[video_index_], frame_.get());
    field_order_ = format_->streams[video_index_]->codecpar->field_order;
    if (field_order_ == AV_FIELD_UNKNOWN) {
        field_order_ = !frame_is_interlaced(frame_.get())    ? AV_FIELD_PROGRESSIVE
                       : frame_top_field_first(frame_.get()) ? AV_FIELD_TT
                                                             : AV_FIELD_BB;
    }
}

bool MediaReader::is_copied_stream(int index) const {
    return index != video_index_ && format_->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT;
}

MediaReader::Event MediaReader::next() {
    if (!held_packets_.empty()) {
        av_packet_unref(packet_.get());
        av_packet_move_ref(packet_.get(), held_packets_.front().get());
        held_bytes_ -= packet_->size;
        held_packets_.pop_front();
        return Event::Packet;
    }
    if (holding_frame_) {
        holding_frame_ = false;
        return Event::VideoFrame;
    }
    return read_on(false, true);
}

MediaReader::Event MediaReader::read_on(bool hold_packets, bool judge_damage) {
    av_packet_unref(packet_.get());
    av_frame_unref(frame_.get());
    int errors_in_a_row = 0;
    while (true) {
        stop_->throw_if_requested();
        if (ended_) {
            return Event::End;
        }
        int status = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (status == 0) {
            take_frame(judge_damage);
            return Event::VideoFrame;
        }
        // A drained decoder answers EOF; one that answers EAGAIN gave up.
        if (status == AVERROR_EOF || (status == AVERROR(EAGAIN) && draining_)) {
            ended_ = true;
            if (judge_damage) {
                // Corrupt packets that never came out as a frame.
                damage_.damaged += corrupt_packets_pending_;
                check_complete();
            }
            corrupt_packets_pending_ = 0;
            return Event::End;
        }
        if (status != AVERROR(EAGAIN)) {
            decode_failed(status, judge_damage);
            if (++errors_in_a_row > kMaxErrorsInARow) {
                throw MediaError("cannot decode " + quoted(name_) + ": the decoder fails again and again (" +
                                 av_error_text(status) + ")");
            }
            continue;  // frames the decoder still holds come first
        }
        errors_in_a_row = 0;
        status = av_read_frame(format_.get(), packet_.get());
        if (status == AVERROR(EAGAIN)) {
            av_usleep(1000);
            continue;
        }
        if (status >= 0 && max_packets_ > 0 && ++packets_read_ > max_packets_) {
            av_packet_unref(packet_.get());
            status = AVERROR_EOF;
        }
        if (status < 0) {
            end_of_input(status, judge_damage);
            continue;
        }
        const int index = packet_->stream_index;
        const AVStream* stream = format_->streams[index];
        const AVMediaType type = stream->codecpar->codec_type;
        mender_.mend(*packet_, stream->time_base, type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO);
        if (index == video_index_) {
            send_video_packet(judge_damage);
            continue;
        }
        if (!is_copied_stream(index)) {
            av_packet_unref(packet_.get());
            continue;
        }
        if (!hold_packets) {
            return Event::Packet;
        }
        held_bytes_ += packet_->size;
        if (held_bytes_ > kMaxHeldBytes) {
            throw MediaError(quoted(name_) + " has no picture that can be decoded in its first " +
                             std::to_string(kMaxHeldBytes >> 20) + " MiB");
        }
        PacketPtr held = allocate_packet();
        av_packet_move_ref(held.get(), packet_.get());
        held_packets_.push_back(std::move(held));
    }
}

void MediaReader::send_video_packet(bool judge_damage) {
    const bool corrupt = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
    if (corrupt && judge_damage) {
        if (strict_) {
            fail_damaged(frames_read_, "data marked corrupt by the demuxer");
        }
        ++corrupt_packets_pending_;
    }
    const int status = avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (status < 0 && status != AVERROR(EAGAIN)) {
        decode_failed(status, judge_damage);
    }
}

void MediaReader::end_of_input(int status, bool judge_damage) {
    stop_->throw_if_requested();
    const int io_error = format_->pb != nullptr ? format_->pb->error : 0;
    if (io_error < 0 && io_error != AVERROR_EOF) {
        throw MediaError("cannot read " + quoted(name_) + ": " + av_error_text(io_error));
    }
    if (status != AVERROR_EOF) {
        // Data the demuxer cannot make sense of ends the input, as the
        // ffmpeg program takes it.
        if (strict_ && judge_damage) {
            const std::string detail = last_library_error();
            fail_damaged(frames_read_, "cannot be read on (" + (detail.empty() ? av_error_text(status) : detail) + ")");
        }
        damage_.cut_short = "it cannot be read past some point (" + av_error_text(status) + ")";
    }
    draining_ = true;
    status = avcodec_send_packet(decoder_.get(), nullptr);
    if (status < 0 && status != AVERROR_EOF) {
        decode_failed(status, judge_damage);
    }
}

void MediaReader::decode_failed(int status, bool judge_damage) {
    if (status == AVERROR(ENOMEM)) {
        throw MediaError("cannot decode " + quoted(name_) + ": out of memory");
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
        fail_damaged(frames_read_, "cannot be decoded (" + (detail.empty() ? av_error_text(status) : detail) + ")");
    }
    ++damage_.dropped;
}

void MediaReader::take_frame(bool judge_damage) {
    AVFrame* frame = frame_.get();
    forget_unknown_colour_tags(frame);
    const bool corrupt_packet = corrupt_packets_pending_ > 0;
    if (corrupt_packet) {
        --corrupt_packets_pending_;
    }
    if (judge_damage) {
        judge(frame, corrupt_packet, frames_read_);
    }
    // Frames without a time follow the previous one.
    std::int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) {
        pts = next_pts_ != AV_NOPTS_VALUE ? next_pts_ : 0;
    }
    frame->pts = pts;
    std::int64_t duration = frame_duration(frame);
    if (duration <= 0) {
        duration = is_valid(frame_rate_)
                       ? std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(frame_rate_), video_stream()->time_base))
                       : 1;
    }
    next_pts_ = pts + duration;
    ++frames_read_;
}

void MediaReader::check_complete() {
    if (announced_end_ == AV_NOPTS_VALUE || next_pts_ == AV_NOPTS_VALUE || is_still_) {
        return;
    }
    // Two frames of slack: the last frame's length is often a guess.
    const AVRational time_base = video_stream()->time_base;
    const AVRational frame = is_valid(frame_rate_) ? av_inv_q(frame_rate_) : AVRational{1, 25};
    const std::int64_t slack = av_rescale_q(2, frame, time_base);
    const std::int64_t reached = next_pts_ - av_rescale_q(mender_.offset(), AV_TIME_BASE_Q, time_base);
    if (reached + slack >= announced_end_) {
        return;
    }
    char text[96];
    std::snprintf(text, sizeof text, "its video ends at %.2f s of %.2f s",
                  static_cast<double>(reached) * av_q2d(time_base),
                  static_cast<double>(announced_end_) * av_q2d(time_base));
    if (strict_) {
        fail_damaged(frames_read_, text);
    }
    if (damage_.cut_short.empty()) {
        damage_.cut_short = text;
    }
}

void MediaReader::judge(const AVFrame* frame, bool corrupt_packet, std::int64_t index) {
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

void MediaReader::fail_damaged(std::int64_t index, const std::string& what) const {
    stop_->throw_if_requested();
    throw MediaError(quoted(name_) + " is damaged at frame " + std::to_string(index) + ": " + what);
}

std::int64_t MediaReader::frame_index_of(std::int64_t pts) const {
    const AVRational time_base = video_stream()->time_base;
    return std::llround(static_cast<double>(pts - first_pts_) * av_q2d(time_base) * av_q2d(frame_rate_));
}

bool MediaReader::seek_to(std::int64_t pts) {
    if (avformat_seek_file(format_.get(), video_index_, INT64_MIN, pts, pts, 0) < 0) {
        stop_->throw_if_requested();
        return false;
    }
    avcodec_flush_buffers(decoder_.get());
    mender_ = DiscontinuityMender(timestamps_may_jump_);
    draining_ = false;
    ended_ = false;
    corrupt_packets_pending_ = 0;
    next_pts_ = AV_NOPTS_VALUE;
    return true;
}

bool MediaReader::seek_frame(std::int64_t index) {
    if (index == 0) {
        return true;  // the frame decoded when opening
    }
    held_packets_.clear();
    held_bytes_ = 0;
    holding_frame_ = false;
    const bool seekable = format_->pb != nullptr && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
    if (!is_valid(frame_rate_) || !seekable) {
        // No frame rate to find a frame's time by, or a pipe: count frames from here.
        while (frames_read_ <= index) {
            const Event event = read_on(false, false);
            if (event == Event::End) {
                frames_in_input_ = frames_read_;
                return false;
            }
        }
        judge(frame_.get(), false, index);
        holding_frame_ = true;
        return true;
    }
    const AVRational time_base = video_stream()->time_base;
    const std::int64_t one_frame = std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(frame_rate_), time_base));
    const std::int64_t target = first_pts_ + av_rescale_q(index, av_inv_q(frame_rate_), time_base);
    const std::int64_t second = std::max<std::int64_t>(1, av_rescale_q(1, AVRational{1, 1}, time_base));
    // Demuxers without an index (transport streams) land on the packet
    // before the time, key frame or not; the decoder then waits for the next
    // key frame, after the target. Such a landing is tried again from 1, 2,
    // 4, ... seconds earlier, and at last from the start.
    std::int64_t back = 0;
    bool seeks = true;
    while (true) {
        const bool from_start = target - back <= first_pts_;
        if (seeks && !seek_to(from_start ? first_pts_ - 3600 * second : target - back)) {
            if (back != 0) {
                throw MediaError("cannot find frame " + std::to_string(index) + " of " + quoted(name_) +
                                 ": seeking back fails");
            }
            seeks = false;  // decode on from here
        }
        Event event = read_on(false, false);
        while (event == Event::Packet) {
            event = read_on(false, false);
        }
        const bool retry = seeks && !from_start;
        if (event == Event::End && !retry) {
            frames_in_input_ = 0;
            return false;
        }
        if (event == Event::End || (retry && frame_->pts > target + one_frame / 2)) {
            back = back == 0 ? second : 2 * back;
            continue;
        }
        break;
    }
    while (frame_->pts < target - one_frame / 2) {
        const std::int64_t last_pts = frame_->pts;
        Event event = read_on(false, false);
        while (event == Event::Packet) {
            event = read_on(false, false);
        }
        if (event == Event::End) {
            frames_in_input_ = frame_index_of(last_pts) + 1;
            return false;
        }
    }
    judge(frame_.get(), false, index);
    frames_read_ = index + 1;
    holding_frame_ = true;
    return true;
}

}  // namespace ocuvex::media
