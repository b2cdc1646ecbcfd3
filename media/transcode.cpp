#include "media/transcode.h"

#include <cstring>
#include <optional>
#include <span>

#include "media/libav_compat.h"
#include "media/picture_colour.h"
#include "media/scale_graph.h"
#include "media/stream_map.h"
#include "media/timestamps.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
}

namespace ocuvex::media {

namespace {

// What every transcoder holds: the input stream's decoder and the encoder
// of the codec it becomes, which the transcoder opens once it has set it up.
class StreamTranscoder : public Transcoder {
  public:
    AVRational time_base() const override { return encoder_.context()->time_base; }

  protected:
    StreamTranscoder(const AVStream* input, const AVCodec* codec, const std::string& output_name)
        : input_(input),
          what_("cannot convert " + stream_text(input) + " for " + quoted(output_name) + " to " + codec->name),
          decoder_(open_decoder(input, what_)),
          encoder_(codec) {}

    const AVStream* input_;
    std::string what_;  // how messages start
    CodecContextPtr decoder_;
    Encoder encoder_;

  private:
    static CodecContextPtr open_decoder(const AVStream* input, const std::string& what) {
        const AVCodec* codec = avcodec_find_decoder(input->codecpar->codec_id);
        CodecContextPtr decoder(allocated(avcodec_alloc_context3(codec)));
        check_memory(avcodec_parameters_to_context(decoder.get(), input->codecpar));
        decoder->pkt_timebase = input->time_base;
        clear_library_error();
        check_logged(avcodec_open2(decoder.get(), codec, nullptr), what + " (opening its decoder)");
        return decoder;
    }
};

// Audio: decoded, brought to a sample format, rate and channel layout the
// encoder takes by a libavfilter graph (abuffer -> aformat -> abuffersink,
// in frames of the encoder's size), encoded.
class AudioTranscoder final : public StreamTranscoder {
  public:
    AudioTranscoder(const AVStream* input, const AVCodec* codec, AVStream* output, const AVOutputFormat* muxer,
                    const std::string& output_name)
        : StreamTranscoder(input, codec, output_name) {
        AVCodecContext* encoder = encoder_.context();
        encoder->sample_fmt = choose_sample_format(codec, decoder_->sample_fmt);
        encoder->sample_rate = choose_sample_rate(codec, decoder_->sample_rate);
        check_memory(choose_layout(codec, decoder_->ch_layout, &encoder->ch_layout));
        encoder->time_base = AVRational{1, encoder->sample_rate};
        encoder_.open(output, muxer, what_);
    }
    AudioTranscoder(const AudioTranscoder&) = delete;
    AudioTranscoder& operator=(const AudioTranscoder&) = delete;
    ~AudioTranscoder() override { av_channel_layout_uninit(&layout_); }

    void convert(const AVPacket* packet, const PacketSink& deliver) override {
        // A packet the decoder refuses is skipped, as the ffmpeg program skips it.
        if (avcodec_send_packet(decoder_.get(), packet) == AVERROR(ENOMEM)) {
            check_memory(AVERROR(ENOMEM));
        }
        while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
            decoded_->pts = decoded_->best_effort_timestamp;
            filter(decoded_.get(), deliver);
            av_frame_unref(decoded_.get());
        }
        if (packet == nullptr) {
            filter(nullptr, deliver);
            encoder_.encode(nullptr, deliver);
        }
    }

  private:
    static AVSampleFormat choose_sample_format(const AVCodec* codec, AVSampleFormat wanted) {
        const AVSampleFormat* formats = encoder_sample_formats(codec);
        return formats == nullptr || list_holds(formats, AV_SAMPLE_FMT_NONE, wanted) ? wanted : formats[0];
    }

    static int choose_sample_rate(const AVCodec* codec, int wanted) {
        const int* rates = encoder_sample_rates(codec);
        if (rates == nullptr || rates[0] == 0) {
            return wanted > 0 ? wanted : 48000;
        }
        int best = rates[0];
        for (const int* r = rates; *r != 0; ++r) {
            const auto distance = [wanted](int rate) { return rate > wanted ? rate - wanted : wanted - rate; };
            if (distance(*r) < distance(best)) {
                best = *r;
            }
        }
        return best;
    }

    // The input's layout when the encoder takes it, else one of as many
    // channels, else the encoder's first.
    static int choose_layout(const AVCodec* codec, const AVChannelLayout& input, AVChannelLayout* out) {
        // A count of channels without their order (as Matroska gives PCM)
        // is taken in the usual order for that count.
        AVChannelLayout wanted{};
        if (input.order == AV_CHANNEL_ORDER_UNSPEC && input.nb_channels > 0) {
            av_channel_layout_default(&wanted, input.nb_channels);
        } else if (av_channel_layout_copy(&wanted, &input) < 0) {
            return AVERROR(ENOMEM);
        }
        const int status = choose_layout_of(codec, wanted, out);
        av_channel_layout_uninit(&wanted);
        return status;
    }

    static int choose_layout_of(const AVCodec* codec, const AVChannelLayout& wanted, AVChannelLayout* out) {
        const AVChannelLayout* layouts = encoder_channel_layouts(codec);
        if (layouts == nullptr || layouts[0].nb_channels == 0) {
            if (wanted.nb_channels > 0) {
                return av_channel_layout_copy(out, &wanted);
            }
            av_channel_layout_default(out, 2);
            return 0;
        }
        const AVChannelLayout* same_count = nullptr;
        for (const AVChannelLayout* l = layouts; l->nb_channels != 0; ++l) {
            if (av_channel_layout_compare(l, &wanted) == 0) {
                return av_channel_layout_copy(out, l);
            }
            if (same_count == nullptr && l->nb_channels == wanted.nb_channels) {
                same_count = l;
            }
        }
        return av_channel_layout_copy(out, same_count != nullptr ? same_count : &layouts[0]);
    }

    void filter(AVFrame* frame, const PacketSink& deliver) {
        if (frame != nullptr && (graph_ == nullptr || frame->format != format_ || frame->sample_rate != rate_ ||
                                 av_channel_layout_compare(&frame->ch_layout, &layout_) != 0)) {
            if (graph_ != nullptr) {
                push(nullptr, deliver);  // what the old graph holds first
            }
            build(frame);
        }
        if (graph_ != nullptr) {
            push(frame, deliver);
        }
    }

    void push(AVFrame* frame, const PacketSink& deliver) {
        check(av_buffersrc_add_frame(source_, frame), what_ + " (feeding the audio graph)");
        int status = 0;
        const AVRational graph_time_base = av_buffersink_get_time_base(sink_);
        while ((status = av_buffersink_get_frame(sink_, filtered_.get())) >= 0) {
            if (filtered_->pts != AV_NOPTS_VALUE) {
                filtered_->pts = av_rescale_q(filtered_->pts, graph_time_base, time_base());
            }
            encoder_.encode(filtered_.get(), deliver);
            av_frame_unref(filtered_.get());
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
            check(status, what_ + " (taking the audio graph's output)");
        }
    }

    void build(const AVFrame* frame) {
        const AVCodecContext* encoder = encoder_.context();
        char layout[128] = {};
        char target_layout[128] = {};
        av_channel_layout_describe(&frame->ch_layout, layout, sizeof layout);
        av_channel_layout_describe(&encoder->ch_layout, target_layout, sizeof target_layout);
        const char* format_name = av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
        const std::string source_arguments =
            "time_base=" + std::to_string(input_->time_base.num) + "/" + std::to_string(input_->time_base.den) +
            ":sample_rate=" + std::to_string(frame->sample_rate) +
            ":sample_fmt=" + (format_name != nullptr ? format_name : "") + ":channel_layout=" + layout;
        const std::string what = what_ + " (audio graph " + source_arguments + ")";
        graph_.reset();
        graph_.reset(allocated(avfilter_graph_alloc()));
        AVFilterGraph* graph = graph_.get();
        check(avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "source",
                                           source_arguments.c_str(), nullptr, graph),
              what);
        check(
            avfilter_graph_create_filter(&sink_, avfilter_get_by_name("abuffersink"), "sink", nullptr, nullptr, graph),
            what);
        link_filters(graph, source_,
                     std::string("aformat=sample_fmts=") + av_get_sample_fmt_name(encoder->sample_fmt) +
                         ":sample_rates=" + std::to_string(encoder->sample_rate) + ":channel_layouts=" + target_layout,
                     sink_, what);
        if (encoder->frame_size > 0 && (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) == 0) {
            av_buffersink_set_frame_size(sink_, static_cast<unsigned>(encoder->frame_size));
        }
        format_ = frame->format;
        rate_ = frame->sample_rate;
        av_channel_layout_uninit(&layout_);
        check_memory(av_channel_layout_copy(&layout_, &frame->ch_layout));
    }

    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;  // owned by graph_
    AVFilterContext* sink_ = nullptr;    // owned by graph_
    int format_ = AV_SAMPLE_FMT_NONE;    // of the frames the graph was built for
    int rate_ = 0;
    AVChannelLayout layout_{};
    FramePtr decoded_ = allocate_frame();
    FramePtr filtered_ = allocate_frame();
};

// Video besides the converted stream: decoded, brought by a pixel graph to
// its first picture's size in a pixel format the encoder takes, placed on
// the encoder's time base as the converted video is, and encoded with the
// encoder's own defaults, as the ffmpeg program encodes a stream it maps.
class VideoTranscoder final : public StreamTranscoder {
  public:
    VideoTranscoder(const AVStream* input, const AVCodec* codec, AVStream* output, const AVOutputFormat* muxer,
                    const std::string& output_name)
        : StreamTranscoder(input, codec, output_name) {
        const AVCodecParameters* par = input->codecpar;
        const auto format = static_cast<AVPixelFormat>(par->format);
        AVCodecContext* encoder = encoder_.context();
        set_video_defaults(encoder, par->width, par->height,
                           choose_pixel_format(codec, format, std::span(&format, 1), par->width, par->height),
                           av_guess_frame_rate(nullptr, const_cast<AVStream*>(input), nullptr),
                           par->sample_aspect_ratio);
        encoder_.open(output, muxer, what_);
        output->avg_frame_rate = encoder->framerate;
        output->sample_aspect_ratio = par->sample_aspect_ratio;
        graph_.emplace(ScaleTarget{par->width, par->height, encoder->pix_fmt, {}});
    }

    void convert(const AVPacket* packet, const PacketSink& deliver) override {
        // A packet the decoder refuses is skipped, as the ffmpeg program skips it.
        if (avcodec_send_packet(decoder_.get(), packet) == AVERROR(ENOMEM)) {
            check_memory(AVERROR(ENOMEM));
        }
        while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
            AVFrame* picture = decoded_.get();
            forget_unknown_colour_tags(picture);
            const std::optional<std::int64_t> tick =
                sync_.place(picture->best_effort_timestamp, frame_duration(picture), input_->time_base, time_base());
            if (tick) {
                // The graph carries the time along; the encoder chooses its own picture types.
                picture->pts = *tick + av_rescale_q(sync_.origin(), input_->time_base, time_base());
                picture->pict_type = AV_PICTURE_TYPE_NONE;
                encoder_.encode(graph_->convert(picture), deliver);
            }
            av_frame_unref(picture);
        }
        if (packet == nullptr) {
            encoder_.encode(nullptr, deliver);
        }
    }

  private:
    std::optional<ScaleGraph> graph_;
    VideoSync sync_;
    FramePtr decoded_ = allocate_frame();
};

// Frees an AVSubtitle's pictures and texts on scope exit.
struct SubtitleGuard {
    AVSubtitle subtitle{};
    SubtitleGuard() = default;
    SubtitleGuard(const SubtitleGuard&) = delete;
    SubtitleGuard& operator=(const SubtitleGuard&) = delete;
    ~SubtitleGuard() { avsubtitle_free(&subtitle); }
};

// Subtitles: text to text (SubRip, ASS, mov_text, WebVTT) or pictures to
// pictures, as the ffmpeg program converts them: each event decoded and
// encoded on its own, shown from its start for its duration.
class SubtitleTranscoder final : public StreamTranscoder {
  public:
    SubtitleTranscoder(const AVStream* input, const AVCodec* codec, AVStream* output, const AVOutputFormat* muxer,
                       int video_w, int video_h, const std::string& output_name)
        : StreamTranscoder(input, codec, output_name) {
        AVCodecContext* encoder = encoder_.context();
        encoder->time_base = AV_TIME_BASE_Q;
        encoder->width = video_w;
        encoder->height = video_h;
        // The text encoders start from the decoder's style header (ASS).
        if (decoder_->subtitle_header != nullptr && decoder_->subtitle_header_size > 0) {
            encoder->subtitle_header =
                allocated(static_cast<std::uint8_t*>(av_mallocz(decoder_->subtitle_header_size + 1)));
            std::memcpy(encoder->subtitle_header, decoder_->subtitle_header, decoder_->subtitle_header_size);
            encoder->subtitle_header_size = decoder_->subtitle_header_size;
        }
        encoder_.open(output, muxer, what_);
    }

    AVRational time_base() const override { return AV_TIME_BASE_Q; }

    void convert(const AVPacket* packet, const PacketSink& deliver) override {
        if (packet == nullptr) {
            return;  // subtitle decoders hold nothing back
        }
        SubtitleGuard decoded;
        int got = 0;
        const int status =
            avcodec_decode_subtitle2(decoder_.get(), &decoded.subtitle, &got, const_cast<AVPacket*>(packet));
        if (status == AVERROR(ENOMEM)) {
            check_memory(status);
        }
        AVSubtitle& subtitle = decoded.subtitle;
        if (status < 0 || got == 0 || subtitle.num_rects == 0) {
            return;  // refused or empty: skipped, as the ffmpeg program skips it
        }
        std::int64_t start = subtitle.pts;
        if (start == AV_NOPTS_VALUE) {
            start = packet->pts != AV_NOPTS_VALUE ? av_rescale_q(packet->pts, input_->time_base, AV_TIME_BASE_Q) : 0;
        }
        // The encoders want the event to start at its pts.
        start += av_rescale_q(subtitle.start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
        subtitle.end_display_time -= subtitle.start_display_time;
        subtitle.start_display_time = 0;
        subtitle.pts = start;
        AVPacket* encoded = encoder_.encode(subtitle);
        encoded->duration = av_rescale_q(subtitle.end_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
        deliver(encoded);
    }
};

}  // namespace

std::unique_ptr<Transcoder> make_transcoder(const AVStream* input, AVCodecID codec, AVStream* output,
                                            const AVOutputFormat* muxer, int video_w, int video_h,
                                            const std::string& output_name) {
    const AVCodec* encoder = avcodec_find_encoder(codec);
    if (encoder == nullptr) {
        throw MediaError("cannot convert " + stream_text(input) + " for " + quoted(output_name) + ": no " +
                         avcodec_get_name(codec) + " encoder");
    }
    switch (input->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        return std::make_unique<AudioTranscoder>(input, encoder, output, muxer, output_name);
    case AVMEDIA_TYPE_VIDEO:
        return std::make_unique<VideoTranscoder>(input, encoder, output, muxer, output_name);
    default:
        return std::make_unique<SubtitleTranscoder>(input, encoder, output, muxer, video_w, video_h, output_name);
    }
}

}  // namespace ocuvex::media
