#include "media/stream_map.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "media/libav_compat.h"
#include "media/scale_graph.h"
#include "media/timestamps.h"
#include "media/output.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace ocuvex::media {

namespace {

// Room for one encoded subtitle, as the ffmpeg program gives its encoders.
constexpr int kSubtitleBytes = 1 << 20;

int discard_bytes(void*, AvioWriteBuffer, int size) { return size; }
std::int64_t stay_put(void*, std::int64_t, int) { return 0; }

// Whether the muxer `output` writes its header for the streams that
// `add_streams` puts into a trial context, written nowhere.
template <typename AddStreams>
bool header_written(const AVOutputFormat* output, const AddStreams& add_streams) {
    AVFormatContext* trial = nullptr;
    if (avformat_alloc_output_context2(&trial, output, nullptr, nullptr) < 0 || trial == nullptr) {
        throw MediaError("out of memory");
    }
    const OutputContextPtr owner(trial);
    constexpr int kBufferBytes = 4096;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferBytes));
    AVIOContext* nowhere = buffer != nullptr
                               ? avio_alloc_context(buffer, kBufferBytes, 1, nullptr, nullptr, discard_bytes, stay_put)
                               : nullptr;
    if (nowhere == nullptr) {
        av_free(buffer);
        throw MediaError("out of memory");
    }
    const IOContextPtr io(nowhere);
    add_streams(trial);
    trial->pb = nowhere;
    trial->flags |= AVFMT_FLAG_CUSTOM_IO;
    const bool takes = avformat_write_header(trial, nullptr) >= 0;
    clear_library_error();
    trial->pb = nullptr;  // freed by its own owner
    return takes;
}

AVStream* new_trial_stream(AVFormatContext* trial) {
    AVStream* stream = avformat_new_stream(trial, nullptr);
    if (stream == nullptr) {
        throw MediaError("out of memory");
    }
    return stream;
}

// Whether `output` takes `stream` copied unchanged: avformat_query_codec()
// first, then the muxer's own header with that stream alone, which also
// refuses what it takes only as an experiment (FLAC in MP4 before FFmpeg 6)
// and what a muxer without a codec list cannot hold (audio in GIF).
bool container_takes(const AVOutputFormat* output, const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_id == AV_CODEC_ID_NONE || avformat_query_codec(output, par->codec_id, FF_COMPLIANCE_NORMAL) == 0) {
        return false;
    }
    return header_written(output, [stream](AVFormatContext* trial) {
        AVStream* copy = new_trial_stream(trial);
        if (avcodec_parameters_copy(copy->codecpar, stream->codecpar) < 0) {
            throw MediaError("out of memory");
        }
        copy->codecpar->codec_tag = 0;
        copy->time_base = stream->time_base;
        copy->disposition = stream->disposition;
    });
}

// Whether `output` holds two video streams of `codec`, w x h pixels of
// `format`: the converted video and another one encoded for it. GIF, APNG
// and WebP refuse a second picture stream in their headers; the image2
// muxers take it but number every stream's pictures into the same files.
bool holds_second_video(const AVOutputFormat* output, AVCodecID codec, int w, int h, AVPixelFormat format) {
    if (std::string_view(output->name).starts_with("image2")) {
        return false;
    }
    return header_written(output, [=](AVFormatContext* trial) {
        for (int i = 0; i < 2; ++i) {
            AVCodecParameters* par = new_trial_stream(trial)->codecpar;
            par->codec_type = AVMEDIA_TYPE_VIDEO;
            par->codec_id = codec;
            par->width = w;
            par->height = h;
            par->format = format;
        }
    });
}

bool is_text_subtitle(AVCodecID id) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_TEXT_SUB) != 0;
}

// The codec subtitles become in a container that names no usual one (MP4
// and MOV, where the ffmpeg program needs -c:s mov_text): the first of the
// codecs of their kind that the container holds and FFmpeg can encode.
AVCodecID subtitle_codec_for(const AVOutputFormat* output, AVCodecID from) {
    constexpr AVCodecID kText[] = {AV_CODEC_ID_MOV_TEXT, AV_CODEC_ID_ASS, AV_CODEC_ID_SUBRIP, AV_CODEC_ID_WEBVTT};
    constexpr AVCodecID kPictures[] = {AV_CODEC_ID_DVD_SUBTITLE, AV_CODEC_ID_DVB_SUBTITLE};
    const bool text = is_text_subtitle(from);
    for (const AVCodecID id : text ? std::span<const AVCodecID>(kText) : std::span<const AVCodecID>(kPictures)) {
        if (avformat_query_codec(output, id, FF_COMPLIANCE_NORMAL) == 1 && avcodec_find_encoder(id) != nullptr) {
            return id;
        }
    }
    return AV_CODEC_ID_NONE;
}

// The codec a stream the container cannot hold becomes, as the ffmpeg
// program chooses it: the container's usual codec for its kind.
StreamChoice conversion_of(const AVStream* stream, const AVOutputFormat* output, const std::string& output_name) {
    const std::string holder = quoted(output_name);
    const AVCodecParameters* par = stream->codecpar;
    StreamChoice choice;
    choice.index = stream->index;
    const std::string left_out = describe_stream(stream) + " left out: ";
    const bool video = par->codec_type == AVMEDIA_TYPE_VIDEO;
    AVCodecID target = video || par->codec_type == AVMEDIA_TYPE_AUDIO || par->codec_type == AVMEDIA_TYPE_SUBTITLE
                           // The image muxers choose by the name's extension.
                           ? av_guess_codec(output, nullptr, output_name.c_str(), nullptr, par->codec_type)
                           : AV_CODEC_ID_NONE;
    const bool subtitle = par->codec_type == AVMEDIA_TYPE_SUBTITLE;
    if (subtitle && (target == AV_CODEC_ID_NONE || is_text_subtitle(target) != is_text_subtitle(par->codec_id))) {
        target = subtitle_codec_for(output, par->codec_id);
    }
    const std::string from = avcodec_get_name(par->codec_id);
    if (target == AV_CODEC_ID_NONE) {
        const char* type = av_get_media_type_string(par->codec_type);
        choice.message = left_out + holder + " cannot hold " +
                         (subtitle ? std::string(is_text_subtitle(par->codec_id) ? "text" : "picture") + " subtitles"
                          : par->codec_type == AVMEDIA_TYPE_AUDIO ? std::string("audio")
                                                                  : from + " " + (type != nullptr ? type : "data"));
        return choice;
    }
    const std::string to = avcodec_get_name(target);
    if (avcodec_find_decoder(par->codec_id) == nullptr) {
        choice.message = left_out + holder + " cannot hold " + from + " and this FFmpeg cannot decode it";
        return choice;
    }
    const AVCodec* encoder = avcodec_find_encoder(target);
    if (encoder == nullptr) {
        choice.message = left_out + holder + " cannot hold " + from + " and this FFmpeg has no " + to + " encoder";
        return choice;
    }
    if (video && (par->width <= 0 || par->height <= 0 ||
                  !holds_second_video(output, target, par->width, par->height,
                                      choose_pixel_format(encoder, static_cast<AVPixelFormat>(par->format), par->width,
                                                          par->height)))) {
        choice.message = left_out + holder + " cannot hold " + from + ", nor a second " + to + " video";
        return choice;
    }
    choice.action = StreamAction::Convert;
    choice.codec = target;
    choice.message = describe_stream(stream) + " becomes " + to + ": " + holder + " cannot hold " + from;
    return choice;
}

[[noreturn]] void fail_conversion(const AVStream* input, const std::string& output_name, const std::string& step,
                                  int code) {
    const std::string detail = last_library_error();
    throw MediaError("cannot convert " + describe_stream(input) + " for " + quoted(output_name) + " (" + step +
                     "): " + (detail.empty() ? av_error_text(code) : detail));
}

CodecContextPtr open_decoder(const AVStream* input, const std::string& output_name) {
    const AVCodec* codec = avcodec_find_decoder(input->codecpar->codec_id);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (decoder == nullptr) {
        throw MediaError("out of memory");
    }
    int status = avcodec_parameters_to_context(decoder.get(), input->codecpar);
    decoder->pkt_timebase = input->time_base;
    if (status >= 0) {
        clear_library_error();
        status = avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (status < 0) {
        fail_conversion(input, output_name, "opening its decoder", status);
    }
    return decoder;
}

CodecContextPtr new_encoder(const AVCodec* codec) {
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (encoder == nullptr) {
        throw MediaError("out of memory");
    }
    return encoder;
}

void open_encoder(CodecContextPtr& encoder, const AVStream* input, AVStream* output, const AVOutputFormat* muxer,
                  const std::string& output_name) {
    if ((muxer->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    clear_library_error();
    const AVCodec* codec = encoder->codec;  // a failed open forgets it
    int status = avcodec_open2(encoder.get(), codec, nullptr);
    if (status >= 0) {
        status = avcodec_parameters_from_context(output->codecpar, encoder.get());
    }
    if (status < 0) {
        fail_conversion(input, output_name, std::string("opening the ") + codec->name + " encoder", status);
    }
    output->time_base = encoder->time_base;
}

// What every converter holds: the input stream's decoder, the encoder of
// the codec it becomes (opened by the converter once it has set it up), and
// the packet the encoder's output comes through.
class Transcoder : public StreamConverter {
  public:
    AVRational time_base() const override { return encoder_->time_base; }

  protected:
    Transcoder(const AVStream* input, const AVCodec* codec, const std::string& output_name)
        : input_(input),
          output_name_(output_name),
          decoder_(open_decoder(input, output_name)),
          encoder_(new_encoder(codec)) {}

    // Sends `frame` (null: the end) to the encoder and delivers every packet it gives back.
    void encode(const AVFrame* frame, const Deliver& deliver) {
        int status = avcodec_send_frame(encoder_.get(), frame);
        if (status < 0 && status != AVERROR_EOF) {
            fail_conversion(input_, output_name_, "encoding", status);
        }
        while ((status = avcodec_receive_packet(encoder_.get(), packet_.get())) == 0) {
            deliver(packet_.get());
            av_packet_unref(packet_.get());
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
            fail_conversion(input_, output_name_, "encoding", status);
        }
    }

    const AVStream* input_;
    std::string output_name_;
    CodecContextPtr decoder_;
    CodecContextPtr encoder_;
    PacketPtr packet_ = allocate_packet();
};

// Audio: decoded, brought to a sample format, rate and channel layout the
// encoder takes by a libavfilter graph (abuffer -> aformat -> abuffersink,
// in frames of the encoder's size), encoded.
class AudioConverter final : public Transcoder {
  public:
    AudioConverter(const AVStream* input, const AVCodec* codec, AVStream* output, const AVOutputFormat* muxer,
                   const std::string& output_name)
        : Transcoder(input, codec, output_name) {
        AVCodecContext* encoder = encoder_.get();
        encoder->sample_fmt = choose_sample_format(codec, decoder_->sample_fmt);
        encoder->sample_rate = choose_sample_rate(codec, decoder_->sample_rate);
        if (choose_layout(codec, decoder_->ch_layout, &encoder->ch_layout) < 0) {
            throw MediaError("out of memory");
        }
        encoder->time_base = AVRational{1, encoder->sample_rate};
        open_encoder(encoder_, input, output, muxer, output_name);
    }
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;
    ~AudioConverter() override { av_channel_layout_uninit(&layout_); }

    void convert(const AVPacket* packet, const Deliver& deliver) override {
        // A packet the decoder refuses is skipped, as the ffmpeg program skips it.
        if (avcodec_send_packet(decoder_.get(), packet) == AVERROR(ENOMEM)) {
            throw MediaError("out of memory");
        }
        while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
            decoded_->pts = decoded_->best_effort_timestamp;
            filter(decoded_.get(), deliver);
            av_frame_unref(decoded_.get());
        }
        if (packet == nullptr) {
            filter(nullptr, deliver);
            encode(nullptr, deliver);
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

    void filter(AVFrame* frame, const Deliver& deliver) {
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

    void push(AVFrame* frame, const Deliver& deliver) {
        int status = av_buffersrc_add_frame(source_, frame);
        if (status < 0) {
            fail_conversion(input_, output_name_, "feeding the audio graph", status);
        }
        const AVRational graph_time_base = av_buffersink_get_time_base(sink_);
        while ((status = av_buffersink_get_frame(sink_, filtered_.get())) >= 0) {
            if (filtered_->pts != AV_NOPTS_VALUE) {
                filtered_->pts = av_rescale_q(filtered_->pts, graph_time_base, encoder_->time_base);
            }
            encode(filtered_.get(), deliver);
            av_frame_unref(filtered_.get());
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) {
            fail_conversion(input_, output_name_, "taking the audio graph's output", status);
        }
    }

    void build(const AVFrame* frame) {
        graph_.reset(avfilter_graph_alloc());
        if (graph_ == nullptr) {
            throw MediaError("out of memory");
        }
        char layout[128] = {};
        char target_layout[128] = {};
        av_channel_layout_describe(&frame->ch_layout, layout, sizeof layout);
        av_channel_layout_describe(&encoder_->ch_layout, target_layout, sizeof target_layout);
        const char* format_name = av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
        const std::string source_arguments =
            "time_base=" + std::to_string(input_->time_base.num) + "/" + std::to_string(input_->time_base.den) +
            ":sample_rate=" + std::to_string(frame->sample_rate) +
            ":sample_fmt=" + (format_name != nullptr ? format_name : "") + ":channel_layout=" + layout;
        const std::string format_arguments =
            std::string("sample_fmts=") + av_get_sample_fmt_name(encoder_->sample_fmt) +
            ":sample_rates=" + std::to_string(encoder_->sample_rate) + ":channel_layouts=" + target_layout;
        AVFilterGraph* graph = graph_.get();
        AVFilterContext* format = nullptr;
        int status = avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "source",
                                                  source_arguments.c_str(), nullptr, graph);
        const auto then = [&status](int next) { status = status < 0 ? status : next; };
        then(avfilter_graph_create_filter(&format, avfilter_get_by_name("aformat"), "format", format_arguments.c_str(),
                                          nullptr, graph));
        then(
            avfilter_graph_create_filter(&sink_, avfilter_get_by_name("abuffersink"), "sink", nullptr, nullptr, graph));
        then(avfilter_link(source_, 0, format, 0));
        then(avfilter_link(format, 0, sink_, 0));
        then(avfilter_graph_config(graph, nullptr));
        if (status < 0) {
            fail_conversion(input_, output_name_, "audio graph " + source_arguments + " -> " + format_arguments,
                            status);
        }
        if (encoder_->frame_size > 0 && (encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) == 0) {
            av_buffersink_set_frame_size(sink_, static_cast<unsigned>(encoder_->frame_size));
        }
        format_ = frame->format;
        rate_ = frame->sample_rate;
        if (av_channel_layout_copy(&layout_, &frame->ch_layout) < 0) {
            throw MediaError("out of memory");
        }
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
class VideoConverter final : public Transcoder {
  public:
    VideoConverter(const AVStream* input, const AVCodec* codec, AVStream* output, const AVOutputFormat* muxer,
                   const std::string& output_name)
        : Transcoder(input, codec, output_name) {
        const AVCodecParameters* par = input->codecpar;
        AVCodecContext* encoder = encoder_.get();
        encoder->width = par->width;
        encoder->height = par->height;
        encoder->pix_fmt = choose_pixel_format(codec, static_cast<AVPixelFormat>(par->format), par->width, par->height);
        const AVRational rate = choose_encoder_frame_rate(
            av_guess_frame_rate(nullptr, const_cast<AVStream*>(input), nullptr), encoder_frame_rates(codec));
        encoder->framerate = rate;
        encoder->time_base = av_inv_q(rate);
        encoder->sample_aspect_ratio = par->sample_aspect_ratio;
        encoder->thread_count = 0;
        open_encoder(encoder_, input, output, muxer, output_name);
        output->avg_frame_rate = rate;
        output->sample_aspect_ratio = par->sample_aspect_ratio;
        graph_.emplace(PixelTarget{par->width, par->height, encoder->pix_fmt, {}});
    }

    void convert(const AVPacket* packet, const Deliver& deliver) override {
        // A packet the decoder refuses is skipped, as the ffmpeg program skips it.
        if (avcodec_send_packet(decoder_.get(), packet) == AVERROR(ENOMEM)) {
            throw MediaError("out of memory");
        }
        while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
            AVFrame* picture = decoded_.get();
            forget_unknown_colour_tags(picture);
            const std::optional<std::int64_t> tick = sync_.place(
                picture->best_effort_timestamp, frame_duration(picture), input_->time_base, encoder_->time_base);
            if (tick) {
                // The graph carries the time along; the encoder chooses its own picture types.
                picture->pts = *tick + av_rescale_q(sync_.origin(), input_->time_base, encoder_->time_base);
                picture->pict_type = AV_PICTURE_TYPE_NONE;
                encode(graph_->convert(picture), deliver);
            }
            av_frame_unref(picture);
        }
        if (packet == nullptr) {
            encode(nullptr, deliver);
        }
    }

  private:
    std::optional<PixelGraph> graph_;
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
class SubtitleConverter final : public Transcoder {
  public:
    SubtitleConverter(const AVStream* input, const AVCodec* codec, AVStream* output, const AVOutputFormat* muxer,
                      int video_w, int video_h, const std::string& output_name)
        : Transcoder(input, codec, output_name) {
        AVCodecContext* encoder = encoder_.get();
        encoder->time_base = AV_TIME_BASE_Q;
        encoder->width = video_w;
        encoder->height = video_h;
        // The text encoders start from the decoder's style header (ASS).
        if (decoder_->subtitle_header != nullptr && decoder_->subtitle_header_size > 0) {
            encoder->subtitle_header = static_cast<std::uint8_t*>(av_mallocz(decoder_->subtitle_header_size + 1));
            if (encoder->subtitle_header == nullptr) {
                throw MediaError("out of memory");
            }
            std::memcpy(encoder->subtitle_header, decoder_->subtitle_header, decoder_->subtitle_header_size);
            encoder->subtitle_header_size = decoder_->subtitle_header_size;
        }
        open_encoder(encoder_, input, output, muxer, output_name);
        buffer_.resize(kSubtitleBytes);
    }

    AVRational time_base() const override { return AV_TIME_BASE_Q; }

    void convert(const AVPacket* packet, const Deliver& deliver) override {
        if (packet == nullptr) {
            return;  // subtitle decoders hold nothing back
        }
        SubtitleGuard decoded;
        int got = 0;
        const int status =
            avcodec_decode_subtitle2(decoder_.get(), &decoded.subtitle, &got, const_cast<AVPacket*>(packet));
        if (status == AVERROR(ENOMEM)) {
            throw MediaError("out of memory");
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
        const int size =
            avcodec_encode_subtitle(encoder_.get(), buffer_.data(), static_cast<int>(buffer_.size()), &subtitle);
        if (size < 0) {
            fail_conversion(input_, output_name_, "encoding", size);
        }
        if (av_new_packet(packet_.get(), size) < 0) {
            throw MediaError("out of memory");
        }
        std::memcpy(packet_->data, buffer_.data(), static_cast<std::size_t>(size));
        packet_->pts = packet_->dts = start;
        packet_->duration = av_rescale_q(subtitle.end_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
        deliver(packet_.get());
        av_packet_unref(packet_.get());
    }

  private:
    std::vector<std::uint8_t> buffer_;
};

}  // namespace

std::string describe_stream(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    const char* type = av_get_media_type_string(par->codec_type);
    std::string text = "stream " + std::to_string(stream->index) + " (" + avcodec_get_name(par->codec_id) + " " +
                       (type != nullptr ? type : "data");
    if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
        text += ", cover picture";
    }
    if (const AVDictionaryEntry* name = av_dict_get(stream->metadata, "filename", nullptr, 0)) {
        text += " " + quoted(name->value);
    }
    if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0)) {
        text += ", language " + printable(language->value);
    }
    return text + ")";
}

std::vector<StreamChoice> plan_streams(const AVFormatContext* input, int video_index, const AVOutputFormat* output,
                                       const std::string& output_name) {
    // FFmpeg's Matroska muxer is the one that writes attachments: nothing
    // in libavformat says which muxers do.
    const bool holds_attachments = std::string_view(output->name) == "matroska";
    const AVStream* video = input->streams[video_index];
    const bool video_has_timecode = av_dict_get(video->metadata, "timecode", nullptr, 0) != nullptr;
    const std::string holder = quoted(output_name);
    std::vector<StreamChoice> choices;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (static_cast<int>(i) == video_index) {
            continue;
        }
        const AVStream* stream = input->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        StreamChoice choice;
        choice.index = static_cast<int>(i);
        if (par->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            choice.action = holds_attachments ? StreamAction::Copy : StreamAction::Omit;
            if (!holds_attachments) {
                choice.message = describe_stream(stream) + " left out: " + holder + " cannot hold attachments";
            }
        } else if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            if (holds_attachments && stream->attached_pic.size > 0) {
                choice.action = StreamAction::Attach;
            } else if (container_takes(output, stream)) {
                choice.action = StreamAction::Copy;
            } else {
                choice.message = describe_stream(stream) + " left out: " + holder + " cannot hold a cover picture";
            }
        } else if (stream->discard == AVDISCARD_ALL ||
                   (par->codec_type == AVMEDIA_TYPE_DATA && par->codec_tag == MKTAG('t', 'm', 'c', 'd') &&
                    video_has_timecode)) {
            // What the demuxer keeps to itself (an MP4's chapter text track,
            // read as the chapters), or a timecode the video's tag carries.
            choice.action = StreamAction::Carried;
        } else if (container_takes(output, stream)) {
            choice.action = StreamAction::Copy;
        } else {
            choice = conversion_of(stream, output, output_name);
        }
        choices.push_back(std::move(choice));
    }
    return choices;
}

std::unique_ptr<StreamConverter> make_stream_converter(const AVStream* input, AVCodecID codec, AVStream* output,
                                                       const AVOutputFormat* muxer, int video_w, int video_h,
                                                       const std::string& output_name) {
    const AVCodec* encoder = avcodec_find_encoder(codec);
    if (encoder == nullptr) {
        throw MediaError("cannot convert " + describe_stream(input) + " for " + quoted(output_name) + ": no " +
                         avcodec_get_name(codec) + " encoder");
    }
    if (input->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        return std::make_unique<AudioConverter>(input, encoder, output, muxer, output_name);
    }
    if (input->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        return std::make_unique<VideoConverter>(input, encoder, output, muxer, output_name);
    }
    return std::make_unique<SubtitleConverter>(input, encoder, output, muxer, video_w, video_h, output_name);
}

void make_cover_attachment(const AVStream* input, AVStream* output) {
    const AVPacket& picture = input->attached_pic;
    AVCodecParameters* par = output->codecpar;
    par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    par->codec_id = input->codecpar->codec_id;
    par->extradata = static_cast<std::uint8_t*>(av_mallocz(picture.size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr || av_dict_copy(&output->metadata, input->metadata, 0) < 0) {
        throw MediaError("out of memory");
    }
    std::memcpy(par->extradata, picture.data, static_cast<std::size_t>(picture.size));
    par->extradata_size = picture.size;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    const char* mime = descriptor != nullptr && descriptor->mime_types != nullptr ? descriptor->mime_types[0] : nullptr;
    const std::string extension = par->codec_id == AV_CODEC_ID_MJPEG ? "jpg" : avcodec_get_name(par->codec_id);
    if ((av_dict_get(output->metadata, "filename", nullptr, 0) == nullptr &&
         av_dict_set(&output->metadata, "filename", ("cover." + extension).c_str(), 0) < 0) ||
        (mime != nullptr && av_dict_get(output->metadata, "mimetype", nullptr, 0) == nullptr &&
         av_dict_set(&output->metadata, "mimetype", mime, 0) < 0)) {
        throw MediaError("out of memory");
    }
}

void copy_chapters(const AVFormatContext* input, AVFormatContext* output, std::int64_t shift) {
    if (input->nb_chapters == 0) {
        return;
    }
    auto** chapters = static_cast<AVChapter**>(av_calloc(input->nb_chapters, sizeof(AVChapter*)));
    if (chapters == nullptr) {
        throw MediaError("out of memory");
    }
    output->chapters = chapters;  // freed with the output context, like every chapter in it
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* in = input->chapters[i];
        const std::int64_t offset = av_rescale_q(shift, AV_TIME_BASE_Q, in->time_base);
        if (in->end < offset) {
            continue;  // over before the output starts
        }
        auto* out = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (out == nullptr) {
            throw MediaError("out of memory");
        }
        chapters[output->nb_chapters++] = out;
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<std::int64_t>(0, in->start - offset);
        out->end = in->end - offset;
        if (av_dict_copy(&out->metadata, in->metadata, 0) < 0) {
            throw MediaError("out of memory");
        }
    }
}

}  // namespace ocuvex::media
