#include "media/frame_sampler.h"

#include <algorithm>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// Inputs of at most this many frames per sample are decoded through: every
// frame costs little next to the seeks, and the samples fall evenly
// whatever the key frames.
constexpr std::int64_t kDecodeThroughFramesPerSample = 4;

std::int64_t packet_time(const AVPacket& packet) { return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts; }

// Where the video ends by the container's word, in its time base:
// AV_NOPTS_VALUE when it does not say (or only guesses from the bit rate).
std::int64_t container_end(const Demuxer& demuxer) {
    if (demuxer.announced_end() != AV_NOPTS_VALUE) {
        return demuxer.announced_end();
    }
    const AVFormatContext* format = demuxer.format();
    if (format->duration <= 0 || format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) {
        return AV_NOPTS_VALUE;
    }
    const std::int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    return av_rescale_q(start + format->duration, AV_TIME_BASE_Q, demuxer.video_stream()->time_base);
}

InputOptions video_alone(InputOptions options) {
    options.video_only = true;
    return options;
}

}  // namespace

FrameSampler::FrameSampler(const std::string& path, std::int32_t samples, InputOptions options)
    : demuxer_(path, video_alone(options)), decoder_(demuxer_, options), samples_(std::max(samples, 1)) {
    if (!decode_on({})) {
        throw MediaError(quoted(name()) + " has no frame that can be decoded");
    }
    width_ = frame_->width;
    height_ = frame_->height;
    if (width_ <= 0 || height_ <= 0 || av_image_check_size(width_, height_, 0, nullptr) < 0) {
        throw MediaError(quoted(name()) + " has pictures of " + std::to_string(width_) + "x" + std::to_string(height_) +
                         " pixels, which cannot be analysed");
    }
    first_pts_ = frame_->pts;
    sample_aspect_ratio_ = av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(demuxer_.format()),
                                                        const_cast<AVStream*>(demuxer_.video_stream()), frame_.get());
    const std::int64_t expected = demuxer_.expected_frames();
    end_pts_ = container_end(demuxer_);
    // An image sequence seeks by picture number, though it reads no one file.
    const bool can_seek = demuxer_.seekable() || demuxer_.is_sequence();
    if (demuxer_.is_still()) {
        method_ = SamplingMethod::still;
    } else if (can_seek && end_pts_ != AV_NOPTS_VALUE && end_pts_ > first_pts_ &&
               !(expected > 0 && expected <= kDecodeThroughFramesPerSample * samples_)) {
        method_ = SamplingMethod::seeking;
    } else {
        method_ = SamplingMethod::decoding;
        stride_ = expected > 0 ? std::max<std::int64_t>(1, (expected + samples_ - 1) / samples_) : 1;
    }
}

const SampledFrame& FrameSampler::next(const std::function<void(std::int64_t)>& on_frame) {
    sample_.picture = nullptr;
    switch (method_) {
    case SamplingMethod::still:
        if (first_waiting_) {
            first_waiting_ = false;
            hand_out(0);
        }
        break;
    case SamplingMethod::seeking:
        while (handed_ < samples_ && sample_.picture == nullptr) {
            const std::int32_t stretch = handed_++;
            switch (sample_stretch(stretch, on_frame)) {
            case Stretch::sampled:
                hand_out(stretch);
                break;
            case Stretch::passed:
                break;
            case Stretch::ended:
                handed_ = samples_;
                break;
            }
        }
        break;
    case SamplingMethod::decoding:
        sample_decoding_through(on_frame);
        break;
    }
    return sample_;
}

void FrameSampler::hand_out(std::int64_t position) {
    sample_.picture = frame_.get();
    sample_.seconds = static_cast<double>(frame_->pts - first_pts_) * av_q2d(demuxer_.video_stream()->time_base);
    sample_.position = position;
    last_pts_ = frame_->pts;
}

bool FrameSampler::decode_on(const std::function<void(std::int64_t)>& on_frame) {
    av_frame_unref(frame_.get());
    while (!ended_) {
        const int received = decoder_.receive(frame_.get(), false);
        if (received == 0) {
            if (on_frame) {
                on_frame(decoder_.frames_decoded());
            }
            return true;
        }
        if (received == AVERROR_EOF) {
            ended_ = true;
            break;
        }
        if (received != AVERROR(EAGAIN)) {
            continue;  // a frame that failed; the decoder may hold more
        }
        const int status = demuxer_.read(packet_.get());
        if (status < 0) {
            decoder_.input_ended(status, false);
            continue;
        }
        if (packet_->stream_index != demuxer_.video_index()) {
            av_packet_unref(packet_.get());
            continue;
        }
        if ((packet_->flags & AV_PKT_FLAG_KEY) != 0 && packet_time(*packet_) != AV_NOPTS_VALUE) {
            last_key_pts_ = packet_time(*packet_);
        }
        decoder_.send(packet_.get(), false);
    }
    return false;
}

// The stretch's first key frame after the previous sample, decoded alone;
// else, decoding on from the key frame before the stretch, its first frame.
FrameSampler::Stretch FrameSampler::sample_stretch(std::int32_t index,
                                                   const std::function<void(std::int64_t)>& on_frame) {
    const std::int64_t span = end_pts_ - first_pts_;
    const std::int64_t start = first_pts_ + av_rescale(span, index, samples_);
    const std::int64_t end = first_pts_ + av_rescale(span, index + 1, samples_);
    const std::int64_t after = std::max(start, last_pts_ + 1);
    if (after >= end) {
        return Stretch::passed;  // the previous sample already lies beyond it
    }
    if (!decoding_on_) {
        const std::int64_t middle = start + (end - start) / 2;
        KeyFrame found = KeyFrame::late;
        if (demuxer_.seek(middle)) {
            found = take_key_frame(after, end);
            // The key frame before the middle lies before the stretch: the
            // next one may lie in it.
            if (found == KeyFrame::early && demuxer_.seek_after(middle)) {
                found = take_key_frame(after, end);
            }
        }
        if (found == KeyFrame::taken) {
            return Stretch::sampled;
        }
        // No key frame of its own: decode on to the stretch from the key
        // frame before it, and on to the next stretches while they have
        // none either.
        if (demuxer_.seek(after)) {
            decoder_.flush();
            ended_ = false;
        } else if (decoder_.draining()) {
            return Stretch::ended;  // no way back from the end of the input
        }
        decoding_on_ = true;
    }
    while (decode_on(on_frame)) {
        if (frame_->pts >= after) {
            // Seeking pays again once a key frame turns up in a stretch.
            decoding_on_ = last_key_pts_ < start;
            return Stretch::sampled;
        }
    }
    return Stretch::ended;
}

// Reads on from a seek to the first key frame of the video; when it lies in
// [after, before), decodes it alone (the decoder drained after it) into frame_.
FrameSampler::KeyFrame FrameSampler::take_key_frame(std::int64_t after, std::int64_t before) {
    decoder_.flush();
    ended_ = false;
    while (true) {
        if (demuxer_.read(packet_.get()) < 0) {
            return KeyFrame::late;
        }
        if (packet_->stream_index == demuxer_.video_index() && (packet_->flags & AV_PKT_FLAG_KEY) != 0) {
            break;
        }
        av_packet_unref(packet_.get());
    }
    const std::int64_t time = packet_time(*packet_);
    if (time != AV_NOPTS_VALUE && (time < after || time >= before)) {
        av_packet_unref(packet_.get());
        return time < after ? KeyFrame::early : KeyFrame::late;
    }
    decoder_.send(packet_.get(), false);
    decoder_.input_ended(AVERROR_EOF, false);
    av_frame_unref(frame_.get());
    while (true) {
        const int received = decoder_.receive(frame_.get(), false);
        if (received == 0) {
            return frame_->pts > last_pts_ ? KeyFrame::taken : KeyFrame::early;
        }
        if (received == AVERROR_EOF) {
            return KeyFrame::late;  // nothing decodable alone
        }
    }
}

void FrameSampler::sample_decoding_through(const std::function<void(std::int64_t)>& on_frame) {
    if (first_waiting_) {
        first_waiting_ = false;
        if (on_frame) {
            on_frame(decoder_.frames_decoded());
        }
        kept_ = 1;
        hand_out(0);
        return;
    }
    while (decode_on(on_frame)) {
        const std::int64_t index = decoder_.frames_decoded() - 1;
        if (index % stride_ != 0) {
            continue;
        }
        if (kept_ >= samples_) {
            // Twice as far apart: of those handed out, every second one stays.
            stride_ *= 2;
            kept_ = (index - 1) / stride_ + 1;
            if (index % stride_ != 0) {
                continue;
            }
        }
        ++kept_;
        hand_out(index);
        return;
    }
}

LumaView LumaReader::luma(const AVFrame* picture) {
    const auto* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    // Luma (or grey) on a plane of its own, one byte a sample.
    const bool own_plane = format != nullptr &&
                           (format->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                                             AV_PIX_FMT_FLAG_BAYER)) == 0 &&
                           format->nb_components >= 1 && format->comp[0].plane == 0 && format->comp[0].step == 1 &&
                           format->comp[0].depth == 8 && format->comp[0].offset == 0 && format->comp[0].shift == 0;
    const AVFrame* grey = picture;
    if (!own_plane) {
        if (!graph_ || graph_->target().w != picture->width || graph_->target().h != picture->height) {
            graph_.emplace(ScaleTarget{picture->width, picture->height, AV_PIX_FMT_GRAY8, {}});
        }
        grey = graph_->convert(picture);
    }
    return {grey->data[0], grey->width, grey->height, grey->linesize[0]};
}

}  // namespace ocuvex::media
