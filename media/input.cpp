#include "media/input.h"

#include <algorithm>
#include <cmath>

#include "media/libav_compat.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace ocuvex::media {

namespace {

// Packets of other streams kept while looking for the first frame: beyond
// this the input has no picture worth waiting for.
constexpr std::int64_t kMaxHeldBytes = std::int64_t{64} << 20;

bool is_valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }

}  // namespace

Input::Input(const std::string& path, const InputOptions& options)
    : stop_(options.stop), demuxer_(path, options), decoder_(demuxer_, options) {
    prime();
}

Input::Input(AVIOContext* io, const std::string& name, const InputOptions& options)
    : stop_(options.stop), demuxer_(io, name, options), decoder_(demuxer_, options) {
    prime();
}

void Input::prime() {
    if (read_on(true, true) != Event::VideoFrame) {
        const std::int64_t dropped = decoder_.damage().dropped.count;
        throw MediaError(quoted(name()) + " has no frame that can be decoded" +
                         (dropped > 0 ? " (" + std::to_string(dropped) + " packets fail to decode)" : ""));
    }
    holding_frame_ = true;
    width_ = frame_->width;
    height_ = frame_->height;
    if (width_ <= 0 || height_ <= 0 || av_image_check_size(width_, height_, 0, nullptr) < 0) {
        throw MediaError(quoted(name()) + " has pictures of " + std::to_string(width_) + "x" + std::to_string(height_) +
                         " pixels, which cannot be converted");
    }
    first_pts_ = frame_->pts;
    AVStream* stream = demuxer_.format()->streams[demuxer_.video_index()];
    sample_aspect_ratio_ =
        av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(demuxer_.format()), stream, frame_.get());
    field_order_ = stream->codecpar->field_order;
    if (field_order_ == AV_FIELD_UNKNOWN) {
        field_order_ = !frame_is_interlaced(frame_.get())    ? AV_FIELD_PROGRESSIVE
                       : frame_top_field_first(frame_.get()) ? AV_FIELD_TT
                                                             : AV_FIELD_BB;
    }
}

Input::Event Input::next() {
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

void Input::take_frame(AVFrame* into) {
    av_frame_unref(into);
    av_frame_move_ref(into, frame_.get());
}

Input::Event Input::read_on(bool hold_packets, bool judge_damage) {
    av_packet_unref(packet_.get());
    av_frame_unref(frame_.get());
    while (true) {
        stop_->throw_if_requested();
        if (ended_) {
            return Event::End;
        }
        const int received = decoder_.receive(frame_.get(), judge_damage);
        if (received == 0) {
            return Event::VideoFrame;
        }
        if (received == AVERROR_EOF) {
            ended_ = true;
            return Event::End;
        }
        if (received != AVERROR(EAGAIN)) {
            continue;  // frames the decoder still holds come first
        }
        const int status = demuxer_.read(packet_.get());
        if (status < 0) {
            decoder_.input_ended(status, judge_damage);
            continue;
        }
        const int index = packet_->stream_index;
        if (index == demuxer_.video_index()) {
            decoder_.send(packet_.get(), judge_damage);
            continue;
        }
        if (!demuxer_.is_carried_stream(index)) {
            av_packet_unref(packet_.get());
            continue;
        }
        if (!hold_packets) {
            return Event::Packet;
        }
        held_bytes_ += packet_->size;
        if (held_bytes_ > kMaxHeldBytes) {
            throw MediaError(quoted(name()) + " has no picture that can be decoded in its first " +
                             std::to_string(kMaxHeldBytes >> 20) + " MiB");
        }
        PacketPtr held = allocate_packet();
        av_packet_move_ref(held.get(), packet_.get());
        held_packets_.push_back(std::move(held));
    }
}

// The next frame, passing over the packets of other streams, unjudged.
Input::Event Input::next_frame_only() {
    Event event = read_on(false, false);
    while (event == Event::Packet) {
        event = read_on(false, false);
    }
    return event;
}

std::int64_t Input::frame_index_of(std::int64_t pts) const {
    const AVRational time_base = demuxer_.video_stream()->time_base;
    return std::llround(static_cast<double>(pts - first_pts_) * av_q2d(time_base) * av_q2d(demuxer_.frame_rate()));
}

bool Input::seek_to(std::int64_t pts) {
    if (!demuxer_.seek(pts)) {
        return false;
    }
    decoder_.flush();
    ended_ = false;
    return true;
}

bool Input::seek_frame(std::int64_t index) {
    if (index == 0) {
        return true;  // the frame decoded when opening
    }
    held_packets_.clear();
    held_bytes_ = 0;
    holding_frame_ = false;
    const AVRational frame_rate = demuxer_.frame_rate();
    if (!is_valid(frame_rate) || !demuxer_.seekable()) {
        // No frame rate to find a frame's time by, or a pipe: count frames from here.
        while (frames_read() <= index) {
            if (read_on(false, false) == Event::End) {
                frames_in_input_ = frames_read();
                return false;
            }
        }
        decoder_.judge_sought(frame_.get());
        holding_frame_ = true;
        return true;
    }
    const AVRational time_base = demuxer_.video_stream()->time_base;
    const std::int64_t one_frame = std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(frame_rate), time_base));
    const std::int64_t target = first_pts_ + av_rescale_q(index, av_inv_q(frame_rate), time_base);
    const std::int64_t second = std::max<std::int64_t>(1, av_rescale_q(1, AVRational{1, 1}, time_base));
    // Demuxers without an index (transport streams) land on the packet
    // before the time, key frame or not; the decoder then waits for the next
    // key frame, after the target. Such a landing is tried again from 1, 2,
    // 4, ... seconds earlier, and at last from the start.
    std::int64_t back = 0;
    bool seeks = true;
    const std::int64_t failures = decoder_.failures();
    while (true) {
        const bool from_start = target - back <= first_pts_;
        if (seeks && !seek_to(from_start ? first_pts_ - 3600 * second : target - back)) {
            if (back != 0) {
                throw MediaError("cannot find frame " + std::to_string(index) + " of " + quoted(name()) +
                                 ": seeking back fails");
            }
            seeks = false;  // decode on from here
        }
        const Event event = next_frame_only();
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
        if (next_frame_only() == Event::End) {
            frames_in_input_ = frame_index_of(last_pts) + 1;
            return false;
        }
    }
    if (frame_->pts > target + one_frame / 2 && decoder_.failures() > failures) {
        decoder_.judge_missing(target);
    }
    decoder_.judge_sought(frame_.get());
    decoder_.set_frames_decoded(index + 1);
    holding_frame_ = true;
    return true;
}

}  // namespace ocuvex::media
