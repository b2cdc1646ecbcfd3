#include "media/timestamps.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

namespace ocuvex::media {

namespace {

constexpr std::int64_t kSecond = AV_TIME_BASE;
// Jumps the ffmpeg program closes up in such inputs (its -dts_delta_threshold).
constexpr std::int64_t kLargeJump = 10 * kSecond;
constexpr std::int64_t kBackwardJump = kSecond / 10;

bool is_valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }

}  // namespace

AVRational choose_encoder_frame_rate(AVRational input_rate, const AVRational* supported) {
    AVRational rate = is_valid(input_rate) ? input_rate : AVRational{25, 1};
    if (supported != nullptr && supported[0].num != 0) {
        rate = supported[av_find_nearest_q_idx(rate, supported)];
    }
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
    return rate;
}

void DiscontinuityMender::mend(AVPacket& packet, AVRational time_base, bool decides) {
    if (!enabled_) {
        return;
    }
    const auto shift = [&](std::int64_t amount) {
        const std::int64_t ticks = av_rescale_q(amount, AV_TIME_BASE_Q, time_base);
        if (packet.pts != AV_NOPTS_VALUE) {
            packet.pts += ticks;
        }
        if (packet.dts != AV_NOPTS_VALUE) {
            packet.dts += ticks;
        }
    };
    shift(offset_);
    if (!decides || packet.dts == AV_NOPTS_VALUE || packet.stream_index < 0) {
        return;
    }
    if (static_cast<std::size_t>(packet.stream_index) >= streams_.size()) {
        streams_.resize(static_cast<std::size_t>(packet.stream_index) + 1);
    }
    StreamPosition& stream = streams_[static_cast<std::size_t>(packet.stream_index)];
    std::int64_t dts = av_rescale_q(packet.dts, time_base, AV_TIME_BASE_Q);
    if (stream.next != AV_NOPTS_VALUE) {
        const std::int64_t delta = dts - stream.next;
        if (delta < -kLargeJump || delta > kLargeJump || dts + kBackwardJump < stream.latest) {
            offset_ -= delta;
            shift(-delta);
            dts -= delta;
        }
    }
    std::int64_t step = packet.duration > 0 ? av_rescale_q(packet.duration, time_base, AV_TIME_BASE_Q) : 0;
    if (step <= 0 && stream.latest != AV_NOPTS_VALUE && dts > stream.latest) {
        step = dts - stream.latest;  // no duration: the last step again
    }
    const std::int64_t pts =
        packet.pts != AV_NOPTS_VALUE ? av_rescale_q(packet.pts, time_base, AV_TIME_BASE_Q) : AV_NOPTS_VALUE;
    stream.latest = std::max(dts, pts);
    stream.next = dts + step;
}

std::optional<std::int64_t> VideoSync::place(std::int64_t pts, std::int64_t duration, AVRational source,
                                             AVRational encoder) {
    const double ticks_per_unit = av_q2d(source) / av_q2d(encoder);
    // A frame lasts its own duration in whole ticks, or one tick.
    const long own_length = duration > 0 ? std::lrint(static_cast<double>(duration) * ticks_per_unit) : 0;
    const double length = own_length > 0 ? static_cast<double>(own_length) : 1.0;
    if (origin_ == AV_NOPTS_VALUE) {
        origin_ = pts == AV_NOPTS_VALUE ? 0 : pts;
    }
    if (pts != AV_NOPTS_VALUE) {
        pts -= origin_;
    }
    std::int64_t tick = 0;
    if (pts == AV_NOPTS_VALUE) {
        tick = next_ == AV_NOPTS_VALUE ? 0 : next_;
    } else if (next_ == AV_NOPTS_VALUE) {
        tick = std::llrint(static_cast<double>(pts) * ticks_per_unit);
    } else {
        const double behind = static_cast<double>(pts) * ticks_per_unit - static_cast<double>(next_);
        const double overlap = behind + length;
        if (overlap <= -0.6) {
            return std::nullopt;
        }
        tick = behind < 0 || overlap <= 0.6
                   ? next_
                   : std::max<std::int64_t>(next_, std::llrint(static_cast<double>(pts) * ticks_per_unit));
    }
    next_ = tick + 1;
    return tick;
}

void Timeline::shift(AVPacket& packet, AVRational time_base) const {
    const std::int64_t ticks = av_rescale_q(start_, AV_TIME_BASE_Q, time_base);
    packet.pts = packet.pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet.pts - ticks;
    packet.dts = packet.dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet.dts - ticks;
}

void Timeline::place_encoded(AVPacket& packet, AVRational encoder_base, std::int64_t origin, AVRational origin_base,
                             AVRational stream_base) const {
    av_packet_rescale_ts(&packet, encoder_base, stream_base);
    const std::int64_t ticks =
        av_rescale_q(origin, origin_base, stream_base) - av_rescale_q(start_, AV_TIME_BASE_Q, stream_base);
    packet.pts = packet.pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet.pts + ticks;
    packet.dts = packet.dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet.dts + ticks;
}

void MuxTimestamps::mend(AVPacket& packet, bool nonstrict) {
    const std::int64_t free_tick = last_dts_ == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : last_dts_ + (nonstrict ? 0 : 1);
    if (packet.dts != AV_NOPTS_VALUE && packet.pts != AV_NOPTS_VALUE && packet.dts > packet.pts) {
        if (free_tick == AV_NOPTS_VALUE) {
            packet.dts = packet.pts;
        } else {
            // The median of the three.
            const std::int64_t low = std::min({packet.pts, packet.dts, free_tick});
            const std::int64_t high = std::max({packet.pts, packet.dts, free_tick});
            packet.pts = packet.dts = packet.pts + packet.dts + free_tick - low - high;
        }
    }
    if (packet.dts != AV_NOPTS_VALUE && free_tick != AV_NOPTS_VALUE && packet.dts < free_tick) {
        if (packet.pts != AV_NOPTS_VALUE && packet.pts >= packet.dts) {
            packet.pts = std::max(packet.pts, free_tick);
        }
        packet.dts = free_tick;
    }
    if (packet.dts != AV_NOPTS_VALUE) {
        last_dts_ = packet.dts;
    }
}

}  // namespace ocuvex::media
