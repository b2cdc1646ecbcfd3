#include "media/demux.h"

#include <algorithm>
#include <cmath>
#include <string_view>

extern "C" {
#include <libavutil/parseutils.h>
#include <libavutil/time.h>
}

namespace ocuvex::media {

namespace {

bool is_valid(AVRational rate) { return rate.num > 0 && rate.den > 0; }

}  // namespace

Demuxer::Demuxer(const std::string& path, const InputOptions& options)
    : name_(path), format_(allocated(avformat_alloc_context())) {
    // "-" is standard input, as for the ffmpeg program; "file:" keeps a
    // name with a colon from being taken for a protocol.
    open(path == "-" ? "pipe:0" : "file:" + path, options);
}

Demuxer::Demuxer(AVIOContext* io, const std::string& name, const InputOptions& options)
    : name_(name), format_(allocated(avformat_alloc_context())) {
    format_->pb = io;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    open("", options);
}

void Demuxer::open(const std::string& url, const InputOptions& options) {
    stop_ = options.stop;
    max_packets_ = options.max_packets;
    video_only_ = options.video_only;
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
    check(status, "cannot read " + quoted(name_));
    status = avformat_find_stream_info(format_.get(), nullptr);
    stop_->throw_if_requested();
    // The end of a file with no frames: the first frame's search says so.
    if (status != AVERROR_EOF) {
        check(status, "cannot read " + quoted(name_));
    }
    choose_video_stream(options.video_stream);
    // Streams the conversion neither decodes nor carries are not even read.
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != video_index_ && !is_carried_stream(static_cast<int>(i))) {
            format_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    timestamps_may_jump_ = (format_->iformat->flags & AVFMT_TS_DISCONT) != 0;
    mender_ = DiscontinuityMender(timestamps_may_jump_);
    read_what_the_container_says();
}

void Demuxer::choose_video_stream(int wanted) {
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
    video_codec_ = codec;
}

void Demuxer::read_what_the_container_says() {
    AVStream* stream = format_->streams[video_index_];
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
    is_sequence_ = demuxer == "image2" && !is_still_;

    expected_frames_exact_ = is_still_ || demuxer == "image2" || stream->nb_frames > 0;
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
    const bool constant = demuxer == "image2" || (is_valid(average) && is_valid(frame_rate_) &&
                                                  std::abs(av_q2d(av_div_q(average, frame_rate_)) - 1) < 0.005);
    const double seconds = stream->duration > 0    ? static_cast<double>(stream->duration) * av_q2d(stream->time_base)
                           : format_->duration > 0 ? static_cast<double>(format_->duration) / AV_TIME_BASE
                                                   : 0;
    if (constant && seconds > 0 && is_valid(frame_rate_)) {
        expected_frames_ = std::llround(seconds * av_q2d(frame_rate_));
    }
}

std::int64_t Demuxer::start_time() const { return format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0; }

bool Demuxer::is_carried_stream(int index) const {
    return !video_only_ && index != video_index_ &&
           format_->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT;
}

bool Demuxer::seekable() const { return format_->pb != nullptr && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0; }

int Demuxer::read(AVPacket* packet) {
    while (true) {
        stop_->throw_if_requested();
        int status = av_read_frame(format_.get(), packet);
        if (status == AVERROR(EAGAIN)) {
            av_usleep(1000);
            continue;
        }
        if (status >= 0 && max_packets_ > 0 && ++packets_read_ > max_packets_) {
            av_packet_unref(packet);
            status = AVERROR_EOF;
        }
        if (status < 0) {
            stop_->throw_if_requested();
            const int io_error = format_->pb != nullptr ? format_->pb->error : 0;
            if (io_error < 0 && io_error != AVERROR_EOF) {
                throw MediaError("cannot read " + quoted(name_) + ": " + av_error_text(io_error));
            }
            return status;
        }
        const AVStream* stream = format_->streams[packet->stream_index];
        const AVMediaType type = stream->codecpar->codec_type;
        mender_.mend(*packet, stream->time_base, type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO);
        return 0;
    }
}

bool Demuxer::seek(std::int64_t pts) { return seek_between(INT64_MIN, pts, pts); }

bool Demuxer::seek_after(std::int64_t pts) { return seek_between(pts, pts, INT64_MAX); }

bool Demuxer::seek_between(std::int64_t earliest, std::int64_t pts, std::int64_t latest) {
    if (avformat_seek_file(format_.get(), video_index_, earliest, pts, latest, 0) < 0) {
        stop_->throw_if_requested();
        return false;
    }
    mender_ = DiscontinuityMender(timestamps_may_jump_);
    return true;
}

}  // namespace ocuvex::media
