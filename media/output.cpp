#include "media/output.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <span>

#include "media/libav_compat.h"
#include "media/input.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// The name's file name part, after the last slash.
std::string_view file_name_of(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Whether an image file name holds a frame number pattern (%d, %04d).
bool has_frame_pattern(const std::string& name) {
    char expanded[1024];
    return av_get_frame_filename2(expanded, sizeof expanded, name.c_str(), 1, 0) == 0;
}

// x264's own default (23) softens the fine colour edges an anaglyph is made of.
constexpr int kDefaultX264Crf = 18;

bool supports(const AVCodec* codec, AVPixelFormat format) {
    const AVPixelFormat* formats = encoder_pixel_formats(codec);
    if (formats == nullptr) {
        return false;
    }
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == format) {
            return true;
        }
    }
    return false;
}

// The core's 32-bit pixels go to the first of these the encoder takes.
constexpr AVPixelFormat kCorePixelPreference[] = {
    AV_PIX_FMT_BGR0, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV444P,
};

// H.264 and H.265 encoders refuse chroma subsampled across an odd side.
bool needs_even_subsampled_sides(const AVCodec* codec) {
    return codec->id == AV_CODEC_ID_H264 || codec->id == AV_CODEC_ID_HEVC;
}

bool subsampling_fits(AVPixelFormat format, int w, int h) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && w % (1 << desc->log2_chroma_w) == 0 && h % (1 << desc->log2_chroma_h) == 0;
}

// What the encoder's pictures mean: the handed-in pictures' description,
// converted along with them where the pixel format changes.
ColourDescription encoded_colour(const VideoSettings& video, AVPixelFormat encoder_format) {
    ColourDescription out = video.colour;
    const AVPixFmtDescriptor* in = av_pix_fmt_desc_get(video.picture_format());
    const AVPixFmtDescriptor* to = av_pix_fmt_desc_get(encoder_format);
    if (in == nullptr || to == nullptr) {
        return out;
    }
    if (in->log2_chroma_w != to->log2_chroma_w || in->log2_chroma_h != to->log2_chroma_h) {
        out.chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    }
    const bool rgb_in = is_rgb(video.picture_format());
    if (is_rgb(encoder_format)) {
        if (!rgb_in) {
            out.matrix = AVCOL_SPC_RGB;
            out.range = AVCOL_RANGE_JPEG;
        }
    } else if (is_jpeg_yuv(encoder_format)) {
        // JFIF: BT.601, full range, whatever the pictures were.
        out.matrix = AVCOL_SPC_BT470BG;
        out.range = AVCOL_RANGE_JPEG;
    } else if (rgb_in) {
        const bool chosen = video.yuv_matrix != AVCOL_SPC_UNSPECIFIED;
        out.matrix = chosen ? video.yuv_matrix : AVCOL_SPC_BT709;
        out.range = AVCOL_RANGE_MPEG;
        if (!chosen && out.primaries == AVCOL_PRI_UNSPECIFIED) {
            out.primaries = AVCOL_PRI_BT709;
        }
        if (!chosen && out.transfer == AVCOL_TRC_UNSPECIFIED) {
            out.transfer = AVCOL_TRC_BT709;
        }
    }
    return out;
}

// The profile an H.264 or H.265 encoder gives pictures of `format`.
std::string profile_name(AVCodecID codec, AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const bool full_chroma = desc->log2_chroma_w == 0 && desc->log2_chroma_h == 0;
    const bool chroma_422 = desc->log2_chroma_w == 1 && desc->log2_chroma_h == 0;
    const int depth = desc->comp[0].depth;
    if (codec == AV_CODEC_ID_H264) {
        return full_chroma ? "High 4:4:4 Predictive" : chroma_422 ? "High 4:2:2" : depth > 8 ? "High 10" : "High";
    }
    const std::string bits = " " + std::to_string(std::max(depth, 10));
    return full_chroma ? "Main 4:4:4" + (depth > 8 ? bits : "") : chroma_422 ? "Main 4:2:2" + bits : "Main";
}

std::string encoder_name(const OutputFormat& format, const VideoSettings& video) {
    return video.codec.empty() ? format.default_codec : video.codec;
}

// The encoder's own video encoder of that name, or null.
const AVCodec* find_video_encoder(const std::string& name) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    return codec != nullptr && codec->type == AVMEDIA_TYPE_VIDEO ? codec : nullptr;
}

}  // namespace

std::optional<OutputFormat> find_output_format(std::string_view path, std::string* why) {
    const std::string name(file_name_of(path));
    const auto refuse = [why](std::string reason) -> std::optional<OutputFormat> {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return std::nullopt;
    };
    const auto dot = name.find_last_of('.');
    const AVOutputFormat* muxer =
        dot == std::string::npos || dot + 1 == name.size() ? nullptr : av_guess_format(nullptr, name.c_str(), nullptr);
    if (muxer == nullptr) {
        return refuse("unknown output extension (use " + known_output_extensions() + ")");
    }
    const AVCodecID codec_id = av_guess_codec(muxer, nullptr, name.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
    const AVCodec* codec = codec_id != AV_CODEC_ID_NONE ? avcodec_find_encoder(codec_id) : nullptr;
    if (codec == nullptr) {
        return refuse(std::string("the ") + muxer->name + " format holds no video " +
                      (codec_id == AV_CODEC_ID_NONE ? "" : std::string("this FFmpeg can encode ")) + "(use " +
                      known_output_extensions() + ")");
    }
    OutputFormat format{muxer->name, codec->name, OutputKind::Video};
    if (std::string_view(muxer->name) == "image2") {
        format.kind = OutputKind::Sequence;
        if (!has_frame_pattern(name)) {
            format = as_single_picture(format);
        }
    }
    return format;
}

OutputFormat as_single_picture(const OutputFormat& format) {
    OutputFormat still = format;
    if (format.is_sequence()) {
        // The pipe variant writes the one picture to the file the writer
        // opened, whatever characters its name holds.
        still.kind = OutputKind::Still;
        still.muxer = "image2pipe";
    }
    return still;
}

std::string known_output_extensions() {
    return ".mp4, .mkv, .mov, .webm, .avi, .gif, out%04d.png, .png, .jpg or another format FFmpeg writes video in";
}

std::string codec_choice_problem(const OutputFormat& format, const VideoSettings& video) {
    const std::string name = encoder_name(format, video);
    const AVCodec* codec = find_video_encoder(name);
    if (codec == nullptr) {
        return "--codec: no video encoder named '" + printable(name) + "' in this FFmpeg";
    }
    if (video.crf &&
        (codec->priv_class == nullptr || av_opt_find2(const_cast<AVClass**>(&codec->priv_class), "crf", nullptr, 0,
                                                      AV_OPT_SEARCH_FAKE_OBJ, nullptr) == nullptr)) {
        return std::string("--crf: the ") + codec->name + " encoder takes no CRF";
    }
    return {};
}

AVPixelFormat choose_pixel_format(const AVCodec* codec, AVPixelFormat source_format, int w, int h) {
    const AVPixelFormat picture_format = source_format != AV_PIX_FMT_NONE ? source_format : AV_PIX_FMT_BGR0;
    if (codec->id == AV_CODEC_ID_MJPEG) {
        // JPEG's own full-range formats: the source's, else full colour resolution.
        if (is_jpeg_yuv(source_format) && supports(codec, source_format)) {
            return source_format;
        }
        if (supports(codec, AV_PIX_FMT_YUVJ444P)) {
            return AV_PIX_FMT_YUVJ444P;
        }
    }
    const AVPixelFormat* formats = encoder_pixel_formats(codec);
    if (formats == nullptr) {
        return picture_format;  // it takes any (rawvideo)
    }
    const bool even_sides_only = needs_even_subsampled_sides(codec);
    const auto fits = [&](AVPixelFormat format) { return !even_sides_only || subsampling_fits(format, w, h); };
    const std::span<const AVPixelFormat> preferred = source_format == AV_PIX_FMT_NONE
                                                         ? std::span<const AVPixelFormat>(kCorePixelPreference)
                                                         : std::span<const AVPixelFormat>(&source_format, 1);
    for (const AVPixelFormat format : preferred) {
        if (supports(codec, format) && fits(format)) {
            return format;
        }
    }
    // The nearest that fits the size; the nearest of all when none does.
    std::vector<AVPixelFormat> candidates;
    std::vector<AVPixelFormat> all;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        (fits(*f) ? candidates : all).push_back(*f);
    }
    if (candidates.empty()) {
        candidates = std::move(all);
    }
    candidates.push_back(AV_PIX_FMT_NONE);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(picture_format);
    const bool alpha = desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    return avcodec_find_best_pix_fmt_of_list(candidates.data(), picture_format, alpha ? 1 : 0, nullptr);
}

MediaWriter::MediaWriter(const std::string& temp_path, const std::string& final_path, const OutputFormat& format,
                         const VideoSettings& video, const MediaReader* copy_from,
                         const StopRequest& stop)
    : final_path_(final_path), stop_(stop), format_(format), video_(video) {
    const std::string name = encoder_name(format, video);
    const AVCodec* codec = find_video_encoder(name);
    if (codec == nullptr) {
        throw MediaError("cannot write " + quoted(final_path) + ": no video encoder named '" + printable(name) + "'");
    }
    const AVPixelFormat pixel_format = video.pixel_format != AV_PIX_FMT_NONE
                                           ? video.pixel_format
                                           : choose_pixel_format(codec, video.source_format, video.w, video.h);

    AVFormatContext* muxer = nullptr;
    const int status = avformat_alloc_output_context2(&muxer, nullptr, format.muxer, nullptr);
    if (status < 0 || muxer == nullptr) {
        throw MediaError("cannot write " + quoted(final_path) + ": " + av_error_text(status));
    }
    muxer_.reset(muxer);
    muxer_->interrupt_callback = stop_.interrupt_callback();

    open_encoder(codec, pixel_format);
    note_pixel_format(codec, pixel_format);
    const MediaReader* source = format.is_still() ? nullptr : copy_from;
    add_video_stream(source);
    if (source != nullptr) {
        start_ = source->start_time();
        add_carried_streams(*source);
        copy_chapters(source->format(), muxer_.get(), start_);
    }
    open_file(temp_path);
}

void MediaWriter::open_encoder(const AVCodec* codec, AVPixelFormat pixel_format) {
    encoder_.reset(avcodec_alloc_context3(codec));
    if (encoder_ == nullptr) {
        throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
    }
    AVCodecContext* encoder = encoder_.get();
    encoder->width = video_.w;
    encoder->height = video_.h;
    encoder->pix_fmt = pixel_format;
    // The time base the ffmpeg program gives an encoder: one tick a frame.
    const AVRational rate = choose_encoder_frame_rate(video_.frame_rate, encoder_frame_rates(codec));
    encoder->framerate = rate;
    encoder->time_base = av_inv_q(rate);
    encoder->sample_aspect_ratio = video_.sample_aspect_ratio;
    encoder->thread_count = 0;
    const ColourDescription colour = encoded_colour(video_, pixel_format);
    encoder->colorspace = colour.matrix;
    encoder->color_range = colour.range;
    encoder->color_primaries = colour.primaries;
    encoder->color_trc = colour.transfer;
    encoder->chroma_sample_location = colour.chroma_location;
    int status = 0;
    const auto then = [&status](int next) { status = status < 0 ? status : next; };
    if (codec->id == AV_CODEC_ID_MJPEG) {
        // JPEG's quality scale: 2 is near the best, files stay reasonable.
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * 2;
    }
    const std::string_view name = codec->name;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixel_format);
    // Version 3 codes slices in parallel and guards each with a CRC. It cuts
    // every picture into at least two columns of slices, each at least one
    // chroma sample wide: narrower pictures keep the encoder's default.
    if (name == "ffv1" && desc != nullptr && AV_CEIL_RSHIFT(video_.w, desc->log2_chroma_w) >= 2) {
        encoder->level = 3;
        then(av_opt_set(encoder->priv_data, "slicecrc", "1", 0));
    }
    if (video_.crf) {
        then(av_opt_set_int(encoder->priv_data, "crf", *video_.crf, 0));
    } else if (name == "libx264") {
        then(av_opt_set_int(encoder->priv_data, "crf", kDefaultX264Crf, 0));
    }
    if (name == "libx265") {
        // x265 prints to standard error itself, past FFmpeg's log.
        then(av_opt_set(encoder->priv_data, "x265-params", video_.quiet ? "log-level=none" : "log-level=error", 0));
    }
    if ((muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    clear_library_error();
    then(avcodec_open2(encoder, codec, nullptr));
    if (status < 0) {
        const std::string detail = last_library_error();
        throw MediaError("cannot encode " + quoted(final_path_) + " with " + codec->name + " at " +
                         std::to_string(video_.w) + "x" + std::to_string(video_.h) + ": " +
                         (detail.empty() ? av_error_text(status) : detail));
    }
    pictures_.push_back(new_picture());
    to_encoder_.emplace(PixelTarget{video_.w, video_.h, pixel_format,
                                    colour_options(video_.picture_format(), video_.colour, pixel_format, colour)});
}

FramePtr MediaWriter::new_picture() const {
    FramePtr picture = allocate_frame();
    picture->format = video_.picture_format();
    picture->width = video_.w;
    picture->height = video_.h;
    set_colour(picture.get(), video_.colour);
    if (av_frame_get_buffer(picture.get(), 0) < 0) {
        throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
    }
    fill_black(picture.get());
    return picture;
}

void MediaWriter::note_pixel_format(const AVCodec* codec, AVPixelFormat pixel_format) {
    const char* chosen = av_get_pix_fmt_name(pixel_format);
    const char* given = av_get_pix_fmt_name(video_.picture_format());
    if (chosen == nullptr || given == nullptr || video_.pixel_format != AV_PIX_FMT_NONE) {
        return;
    }
    // What an even size would have given, to tell what the odd one forced.
    const AVPixelFormat even = choose_pixel_format(codec, video_.source_format, 2 * video_.w, 2 * video_.h);
    const std::string size = std::to_string(video_.w) + "x" + std::to_string(video_.h);
    if (needs_even_subsampled_sides(codec) && even != pixel_format) {
        const std::string standard = codec->id == AV_CODEC_ID_H264 ? "H.264" : "H.265";
        notices_.push_back(Notice{false, quoted(final_path_) + " is " + size + " pixels and " + standard +
                                             " takes 4:2:0 only with even sides, so it is " + chosen + ", profile " +
                                             profile_name(codec->id, pixel_format) +
                                             ", which browsers and most hardware players cannot play; settings "
                                             "that give even sides make a widely playable file"});
    } else if (pixel_format != video_.source_format && video_.source_format != AV_PIX_FMT_NONE && !format_.is_still()) {
        notices_.push_back(Notice{
            false, std::string(codec->name) + " takes no " + given + "; " + quoted(final_path_) + " is " + chosen});
    }
}

void MediaWriter::add_video_stream(const MediaReader* source) {
    AVStream* stream = avformat_new_stream(muxer_.get(), nullptr);
    if (stream == nullptr || avcodec_parameters_from_context(stream->codecpar, encoder_.get()) < 0) {
        throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
    }
    stream->time_base = encoder_->time_base;
    stream->avg_frame_rate = encoder_->framerate;
    stream->sample_aspect_ratio = video_.sample_aspect_ratio;
    // The container's word; the pictures themselves are coded progressive.
    stream->codecpar->field_order = video_.field_order;
    if (source != nullptr) {
        const AVStream* input = source->video_stream();
        // The input video's tags (language, title, timecode, ...) but the
        // ones that described its old coding and layout.
        bool kept = av_dict_copy(&stream->metadata, input->metadata, 0) >= 0;
        for (const char* stale : {"stereo_mode", "encoder", "ENCODER", "DURATION"}) {
            kept = kept && av_dict_set(&stream->metadata, stale, nullptr, 0) >= 0;
        }
        stream->disposition = input->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
        // What the pictures keep as they were: the display matrix (a phone's
        // upright clip), and HDR's mastering display and light levels, which
        // go with the transfer the colour tags carry.
        for (const AVPacketSideDataType type :
             {AV_PKT_DATA_DISPLAYMATRIX, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, AV_PKT_DATA_CONTENT_LIGHT_LEVEL}) {
            const AVPacketSideData* data = stream_side_data(input, type);
            kept = kept && (data == nullptr || set_stream_side_data(stream, type, data->data, data->size));
        }
        if (!kept) {
            throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
        }
        const AVPacketSideData* matrix = stream_side_data(input, AV_PKT_DATA_DISPLAYMATRIX);
        if (matrix != nullptr && matrix->size >= 9 * sizeof(std::int32_t) &&
            !muxer_writes_display_matrix(muxer_->oformat)) {
            char rotation[32];
            std::snprintf(rotation, sizeof rotation, "%g",
                          av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix->data)));
            notices_.push_back(Notice{true, "the display matrix (rotation " + std::string(rotation) +
                                                " degrees) left out: " + quoted(final_path_) + " cannot hold it"});
        }
    }
    tag_stereo_layout(stream);
    OutputStream entry;
    entry.stream = stream;
    entry.source_time_base = encoder_->time_base;
    streams_.push_back(std::move(entry));
}

void MediaWriter::tag_stereo_layout(AVStream* stream) {
    if (!video_.stereo_layout) {
        return;
    }
    const StereoLayout& layout = *video_.stereo_layout;
    const std::string_view muxer = muxer_->oformat->name;
    bool tagged = true;
    if (muxer == "matroska" || muxer == "webm") {
        // Matroska's StereoMode from its name; WebM allows only the halves.
        const char* mode = matroska_stereo_mode(layout);
        if (mode != nullptr && (muxer == "matroska" || layout.packing == StereoPacking::SideBySide ||
                                layout.packing == StereoPacking::AboveBelow)) {
            tagged = av_dict_set(&stream->metadata, "stereo_mode", mode, 0) >= 0;
        }
    } else if (layout.packing == StereoPacking::SideBySide || layout.packing == StereoPacking::AboveBelow) {
        // Stereo-3D side data, for the muxers that write it: MP4's st3d box
        // (an unofficial extension to FFmpeg, which writes it only when told
        // so), and since FFmpeg 7.1 the vexu box of MP4 and MOV.
        tagged = set_stream_stereo3d(
            stream, layout.packing == StereoPacking::SideBySide ? AV_STEREO3D_SIDEBYSIDE : AV_STEREO3D_TOPBOTTOM,
            layout.left_first ? 0 : AV_STEREO3D_FLAG_INVERT);
        if (muxer == "mp4") {
            muxer_->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        }
    }
    if (!tagged) {
        throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
    }
}

void MediaWriter::add_carried_streams(const MediaReader& source) {
    const AVFormatContext* input = source.format();
    if (av_dict_copy(&muxer_->metadata, input->metadata, 0) < 0 ||
        av_dict_set(&muxer_->metadata, "encoder", nullptr, 0) < 0) {
        throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
    }
    const std::vector<StreamChoice> choices =
        plan_streams(input, source.video_stream()->index, muxer_->oformat, final_path_);
    stream_of_input_.assign(input->nb_streams, -1);
    for (const StreamChoice& choice : choices) {
        if (!choice.message.empty()) {
            notices_.push_back(Notice{choice.action == StreamAction::Omit, choice.message});
        }
        if (choice.action == StreamAction::Omit || choice.action == StreamAction::Carried) {
            continue;
        }
        const AVStream* in = input->streams[choice.index];
        AVStream* out = avformat_new_stream(muxer_.get(), nullptr);
        if (out == nullptr) {
            throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
        }
        OutputStream entry;
        entry.stream = out;
        entry.source_time_base = in->time_base;
        entry.input_time_base = in->time_base;
        entry.starts_at_zero = (in->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
        if (choice.action == StreamAction::Attach) {
            make_cover_attachment(in, out);
            continue;  // its data is the attachment; its packet has no place
        }
        if (av_dict_copy(&out->metadata, in->metadata, 0) < 0) {
            throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
        }
        out->disposition = in->disposition;
        if (choice.action == StreamAction::Convert) {
            entry.converter =
                make_stream_converter(in, choice.codec, out, muxer_->oformat, video_.w, video_.h, final_path_);
            entry.source_time_base = entry.converter->time_base();
            if (av_dict_set(&out->metadata, "encoder", nullptr, 0) < 0) {
                throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
            }
        } else {
            if (avcodec_parameters_copy(out->codecpar, in->codecpar) < 0 || !copy_stream_side_data(in, out)) {
                throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
            }
            out->codecpar->codec_tag = 0;
            out->time_base = in->time_base;
        }
        if (in->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            continue;  // an attachment has no packets
        }
        stream_of_input_[choice.index] = static_cast<int>(streams_.size());
        streams_.push_back(std::move(entry));
    }
}

void MediaWriter::open_file(const std::string& temp_path) {
    if (!temp_path.empty()) {
        // The mp4 muxer reopens the file by this name to move its index to
        // the front; the image2 muxer makes each picture's file name from it.
        const std::string url = "file:" + temp_path;
        av_freep(&muxer_->url);
        muxer_->url = av_strdup(url.c_str());
        if (muxer_->url == nullptr) {
            throw MediaError("cannot write " + quoted(final_path_) + ": out of memory");
        }
    }
    if ((muxer_->oformat->flags & AVFMT_NOFILE) == 0) {
        const int status = avio_open2(&muxer_->pb, muxer_->url, AVIO_FLAG_WRITE, &muxer_->interrupt_callback, nullptr);
        if (status < 0) {
            fail_write(status);
        }
    }
    OptionDict options;
    const std::string_view muxer = format_.muxer;
    if (muxer == "mp4" || muxer == "mov") {
        // The index up front, so players can start before the whole file is there.
        options.set("movflags", "+faststart");
    }
    clear_library_error();
    const int status = avformat_write_header(muxer_.get(), options.get());
    if (status == AVERROR_EXPERIMENTAL) {
        std::string codecs;
        for (std::size_t i = 1; i < streams_.size(); ++i) {
            codecs +=
                std::string(codecs.empty() ? "" : ", ") + avcodec_get_name(streams_[i].stream->codecpar->codec_id);
        }
        throw MediaError(quoted(final_path_) + " would hold the input's " + codecs +
                         " only as an experimental feature of FFmpeg; try .mkv");
    }
    if (status < 0) {
        fail_write(status);
    }
    // The muxer may have chosen the video's time base; the encoder's packets
    // are brought to it on the way (see drain_encoder).
    streams_[0].source_time_base = streams_[0].stream->time_base;
}

void MediaWriter::fail_write(int code) const {
    stop_.throw_if_requested();
    std::string reason = av_error_text(code);
    if (code == AVERROR(EINVAL) || code == AVERROR_INVALIDDATA) {
        const std::string detail = last_library_error();
        reason = detail.empty() ? reason : detail;
    }
    throw MediaError("cannot write " + quoted(final_path_) + ": " + reason);
}

AVFrame* MediaWriter::next_picture() {
    // Encoders that keep a frame for a while (frame threads) hold it; the
    // next free one takes its turn, and a new one only when none is.
    constexpr std::size_t kMaxPictures = 16;
    const std::size_t count = pictures_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t index = (current_ + i) % count;
        if (av_frame_is_writable(pictures_[index].get()) != 0) {
            current_ = index;
            return pictures_[index].get();
        }
    }
    if (count < kMaxPictures) {
        pictures_.push_back(new_picture());
        current_ = count;
    } else {
        current_ = (current_ + 1) % count;
        const int status = av_frame_make_writable(pictures_[current_].get());
        if (status < 0) {
            fail_write(status);
        }
    }
    return pictures_[current_].get();
}

bool MediaWriter::write_picture(std::int64_t pts, std::int64_t duration, AVRational time_base) {
    picture_time_base_ = time_base;
    const std::optional<std::int64_t> tick = sync_.place(pts, duration, time_base, encoder_->time_base);
    if (!tick) {
        ++frames_dropped_;
        return false;
    }
    AVFrame* picture = pictures_[current_].get();
    picture->pts = *tick;
    const AVFrame* frame = to_encoder_->convert(picture);
    clear_library_error();
    const int status = avcodec_send_frame(encoder_.get(), frame);
    if (status < 0) {
        fail_write(status);
    }
    drain_encoder(false);
    return true;
}

void MediaWriter::drain_encoder(bool flushing) {
    OutputStream& video = streams_[0];
    while (true) {
        const int status = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || (flushing && status == AVERROR_EOF)) {
            return;
        }
        if (status < 0) {
            fail_write(status);
        }
        stop_.throw_if_requested();
        // Ticks count from the first frame's own time, which goes back in.
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, video.stream->time_base);
        const std::int64_t origin = av_rescale_q(sync_.origin(), picture_time_base_, video.stream->time_base) -
                                    av_rescale_q(start_, AV_TIME_BASE_Q, video.stream->time_base);
        packet_->pts = packet_->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet_->pts + origin;
        packet_->dts = packet_->dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet_->dts + origin;
        write_to_muxer(video, packet_.get());
    }
}

void MediaWriter::write_to_muxer(OutputStream& stream, AVPacket* packet) {
    av_packet_rescale_ts(packet, stream.source_time_base, stream.stream->time_base);
    packet->stream_index = stream.stream->index;
    packet->pos = -1;
    if ((muxer_->oformat->flags & AVFMT_NOTIMESTAMPS) == 0) {
        stream.timestamps.mend(*packet, (muxer_->oformat->flags & AVFMT_TS_NONSTRICT) != 0);
    }
    const int status = av_interleaved_write_frame(muxer_.get(), packet);
    if (status < 0) {
        fail_write(status);
    }
}

void MediaWriter::write_packet(AVPacket* packet) {
    const int index = packet->stream_index;
    const int out = index >= 0 && index < static_cast<int>(stream_of_input_.size()) ? stream_of_input_[index] : -1;
    if (out < 0) {
        av_packet_unref(packet);
        return;
    }
    OutputStream& stream = streams_[static_cast<std::size_t>(out)];
    if (stream.starts_at_zero) {
        const std::int64_t shift = av_rescale_q(start_, AV_TIME_BASE_Q, stream.input_time_base);
        packet->pts = packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet->pts - shift;
        packet->dts = packet->dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : packet->dts - shift;
    }
    if (stream.converter == nullptr) {
        write_to_muxer(stream, packet);
        return;
    }
    stream.converter->convert(packet, [this, &stream](AVPacket* converted) { write_to_muxer(stream, converted); });
    av_packet_unref(packet);
}

void MediaWriter::finish() {
    int status = avcodec_send_frame(encoder_.get(), nullptr);
    if (status < 0) {
        fail_write(status);
    }
    drain_encoder(true);
    for (OutputStream& stream : streams_) {
        if (stream.converter != nullptr) {
            stream.converter->convert(nullptr,
                                      [this, &stream](AVPacket* converted) { write_to_muxer(stream, converted); });
        }
    }
    status = av_write_trailer(muxer_.get());
    if (status < 0) {
        fail_write(status);
    }
    if (muxer_->pb != nullptr && (muxer_->oformat->flags & AVFMT_NOFILE) == 0) {
        avio_flush(muxer_->pb);
        status = muxer_->pb->error;
        const int closed = avio_closep(&muxer_->pb);
        status = status < 0 ? status : closed;
        if (status < 0) {
            fail_write(status);
        }
    }
}

}  // namespace ocuvex::media
