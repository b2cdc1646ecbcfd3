#include "media/stream_map.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "media/containers.h"
#include "media/libav_compat.h"
#include "media/transcode.h"

namespace ocuvex::media {

namespace {

int discard_bytes(void*, AvioWriteBuffer, int size) { return size; }
std::int64_t stay_put(void*, std::int64_t, int) { return 0; }

// Whether `output` takes `stream` copied unchanged: avformat_query_codec()
// first, then the muxer's own header with that stream alone, written
// nowhere, which also refuses what it takes only as an experiment (FLAC in
// MP4 before FFmpeg 6) and what a muxer without a codec list cannot hold
// (audio in GIF).
bool container_takes(const AVOutputFormat* output, const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_id == AV_CODEC_ID_NONE || avformat_query_codec(output, par->codec_id, FF_COMPLIANCE_NORMAL) == 0) {
        return false;
    }
    AVFormatContext* made = nullptr;
    check_memory(avformat_alloc_output_context2(&made, output, nullptr, nullptr));
    const OutputContextPtr trial(allocated(made));
    constexpr int kBufferBytes = 4096;
    auto* buffer = allocated(static_cast<std::uint8_t*>(av_malloc(kBufferBytes)));
    AVIOContext* nowhere = avio_alloc_context(buffer, kBufferBytes, 1, nullptr, nullptr, discard_bytes, stay_put);
    if (nowhere == nullptr) {
        av_free(buffer);
        throw MediaError("out of memory");
    }
    const IOContextPtr io(nowhere);
    AVStream* copy = allocated(avformat_new_stream(trial.get(), nullptr));
    check_memory(avcodec_parameters_copy(copy->codecpar, par));
    copy->codecpar->codec_tag = 0;
    copy->time_base = stream->time_base;
    copy->disposition = stream->disposition;
    trial->pb = nowhere;
    trial->flags |= AVFMT_FLAG_CUSTOM_IO;
    const bool takes = avformat_write_header(trial.get(), nullptr) >= 0;
    clear_library_error();
    trial->pb = nullptr;  // freed by its own owner
    return takes;
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
    const std::string left_out = stream_text(stream) + " left out: ";
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
    if (video && (par->width <= 0 || par->height <= 0 || container_of(output).one_picture_stream)) {
        choice.message = left_out + holder + " cannot hold " + from + ", nor a second " + to + " video";
        return choice;
    }
    choice.action = StreamAction::Convert;
    choice.codec = target;
    choice.message = stream_text(stream) + " becomes " + to + ": " + holder + " cannot hold " + from;
    return choice;
}

}  // namespace

std::string stream_text(const AVStream* stream) {
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
    const bool holds_attachments = container_of(output).attachments;
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
                choice.message = stream_text(stream) + " left out: " + holder + " cannot hold attachments";
            }
        } else if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            if (holds_attachments && stream->attached_pic.size > 0) {
                choice.action = StreamAction::Attach;
            } else if (container_takes(output, stream)) {
                choice.action = StreamAction::Copy;
            } else {
                choice.message = stream_text(stream) + " left out: " + holder + " cannot hold a cover picture";
            }
        } else if (stream->discard == AVDISCARD_ALL ||
                   (par->codec_type == AVMEDIA_TYPE_DATA && par->codec_tag == MKTAG('t', 'm', 'c', 'd') &&
                    video_has_timecode)) {
            // What the demuxer keeps to itself (an MP4's chapter text track,
            // read as the chapters), or a timecode the video's tag carries.
            choice.action = StreamAction::WrittenOtherwise;
        } else if (container_takes(output, stream)) {
            choice.action = StreamAction::Copy;
        } else {
            choice = conversion_of(stream, output, output_name);
        }
        choices.push_back(std::move(choice));
    }
    return choices;
}

void make_cover_attachment(const AVStream* input, AVStream* output) {
    const AVPacket& picture = input->attached_pic;
    AVCodecParameters* par = output->codecpar;
    par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    par->codec_id = input->codecpar->codec_id;
    par->extradata = allocated(static_cast<std::uint8_t*>(av_mallocz(picture.size + AV_INPUT_BUFFER_PADDING_SIZE)));
    check_memory(av_dict_copy(&output->metadata, input->metadata, 0));
    std::memcpy(par->extradata, picture.data, static_cast<std::size_t>(picture.size));
    par->extradata_size = picture.size;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    const char* mime = descriptor != nullptr && descriptor->mime_types != nullptr ? descriptor->mime_types[0] : nullptr;
    const std::string extension = par->codec_id == AV_CODEC_ID_MJPEG ? "jpg" : avcodec_get_name(par->codec_id);
    if (av_dict_get(output->metadata, "filename", nullptr, 0) == nullptr) {
        check_memory(av_dict_set(&output->metadata, "filename", ("cover." + extension).c_str(), 0));
    }
    if (mime != nullptr && av_dict_get(output->metadata, "mimetype", nullptr, 0) == nullptr) {
        check_memory(av_dict_set(&output->metadata, "mimetype", mime, 0));
    }
}

void carry_file_tags(const AVFormatContext* input, Muxer& muxer, const Timeline& timeline) {
    AVFormatContext* output = muxer.context();
    check_memory(av_dict_copy(&output->metadata, input->metadata, 0));
    check_memory(av_dict_set(&output->metadata, "encoder", nullptr, 0));
    if (input->nb_chapters == 0) {
        return;
    }
    // Freed with the output context, like every chapter in it.
    output->chapters = allocated(static_cast<AVChapter**>(av_calloc(input->nb_chapters, sizeof(AVChapter*))));
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* in = input->chapters[i];
        const std::int64_t offset = av_rescale_q(timeline.start(), AV_TIME_BASE_Q, in->time_base);
        if (in->end < offset) {
            continue;  // over before the output starts
        }
        auto* out = allocated(static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter))));
        output->chapters[output->nb_chapters++] = out;
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<std::int64_t>(0, in->start - offset);
        out->end = in->end - offset;
        check_memory(av_dict_copy(&out->metadata, in->metadata, 0));
    }
}

StreamMap::StreamMap(const AVFormatContext* input, int video_index, Muxer& muxer, const Timeline& timeline, int video_w,
                     int video_h, Notices& notices)
    : muxer_(muxer), timeline_(timeline), routes_(input->nb_streams) {
    for (const StreamChoice& choice : plan_streams(input, video_index, muxer.muxer(), muxer.name())) {
        if (!choice.message.empty()) {
            notices.push_back(Notice{choice.action == StreamAction::Omit, choice.message});
        }
        if (choice.action == StreamAction::Omit || choice.action == StreamAction::WrittenOtherwise) {
            continue;
        }
        const AVStream* in = input->streams[choice.index];
        const int index = muxer.add_stream(in->time_base);
        AVStream* out = muxer.stream(index);
        if (choice.action == StreamAction::Attach) {
            make_cover_attachment(in, out);
            continue;  // its data is the attachment; its packet has no place
        }
        check_memory(av_dict_copy(&out->metadata, in->metadata, 0));
        out->disposition = in->disposition;
        Route& route = routes_[static_cast<std::size_t>(choice.index)];
        if (choice.action == StreamAction::Convert) {
            route.transcoder = make_transcoder(in, choice.codec, out, muxer.muxer(), video_w, video_h, muxer.name());
            muxer.set_packet_base(index, route.transcoder->time_base());
            check_memory(av_dict_set(&out->metadata, "encoder", nullptr, 0));
        } else {
            check_memory(avcodec_parameters_copy(out->codecpar, in->codecpar));
            check_memory(copy_stream_side_data(in, out));
            out->codecpar->codec_tag = 0;
            out->time_base = in->time_base;
        }
        if (in->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            continue;  // an attachment has no packets
        }
        route.output = index;
        route.input_base = in->time_base;
        // A cover picture has no time to move.
        route.on_timeline = (in->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
    }
}

void StreamMap::write(AVPacket* packet) {
    const int index = packet->stream_index;
    if (index < 0 || index >= static_cast<int>(routes_.size()) || routes_[static_cast<std::size_t>(index)].output < 0) {
        av_packet_unref(packet);
        return;
    }
    Route& route = routes_[static_cast<std::size_t>(index)];
    if (route.on_timeline) {
        timeline_.shift(*packet, route.input_base);
    }
    if (route.transcoder == nullptr) {
        muxer_.write(route.output, packet);
        return;
    }
    route.transcoder->convert(packet, [this, &route](AVPacket* converted) { muxer_.write(route.output, converted); });
    av_packet_unref(packet);
}

void StreamMap::finish() {
    for (Route& route : routes_) {
        if (route.transcoder != nullptr) {
            route.transcoder->convert(nullptr,
                                      [this, &route](AVPacket* converted) { muxer_.write(route.output, converted); });
        }
    }
}

}  // namespace ocuvex::media
