#include "media/output.h"

#include <cstdio>
#include <span>

#include "core/display_shape.h"
#include "media/libav_compat.h"
#include "media/picture_planes.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {

namespace {

// x264's own default (23) softens the fine colour edges an anaglyph is made of.
constexpr int kDefaultX264Crf = 18;

std::string encoder_name(const OutputFormat& format, const VideoEncoding& encoding) {
    return encoding.codec.empty() ? format.default_codec : encoding.codec;
}

const AVCodec* chosen_encoder(const Muxer& muxer, const VideoEncoding& encoding) {
    const std::string name = encoder_name(muxer.format(), encoding);
    const AVCodec* codec = find_video_encoder(name);
    if (codec == nullptr) {
        throw MediaError("cannot write " + quoted(muxer.name()) + ": no video encoder named '" + printable(name) + "'");
    }
    return codec;
}

// The formats the pictures should be encoded in, best first.
std::span<const AVPixelFormat> preferred_formats(const PictureFormat& pictures) {
    return pictures.file_formats.empty() ? std::span<const AVPixelFormat>(&pictures.format, 1)
                                         : std::span<const AVPixelFormat>(pictures.file_formats);
}

}  // namespace

std::string codec_choice_problem(const OutputFormat& format, const VideoEncoding& encoding) {
    const std::string name = encoder_name(format, encoding);
    const AVCodec* codec = find_video_encoder(name);
    if (codec == nullptr) {
        return "--codec: no video encoder named '" + printable(name) + "' in this FFmpeg";
    }
    if (encoding.crf &&
        (codec->priv_class == nullptr || av_opt_find2(const_cast<AVClass**>(&codec->priv_class), "crf", nullptr, 0,
                                                      AV_OPT_SEARCH_FAKE_OBJ, nullptr) == nullptr)) {
        return std::string("--crf: the ") + codec->name + " encoder takes no CRF";
    }
    return {};
}

VideoOutput::VideoOutput(Muxer& muxer, const PictureFormat& pictures, const VideoEncoding& encoding,
                         const VideoTags& tags, const Timeline& timeline, Notices& notices)
    : muxer_(muxer),
      pictures_(pictures),
      timeline_(timeline),
      stream_index_(muxer.add_stream()),
      encoder_(chosen_encoder(muxer, encoding)) {
    const AVCodec* codec = encoder_.context()->codec;
    const int w = encoding.width > 0 ? encoding.width : pictures.w;
    const int h = encoding.height > 0 ? encoding.height : pictures.h;
    const AVPixelFormat pixel_format =
        encoding.pixel_format != AV_PIX_FMT_NONE
            ? encoding.pixel_format
            : choose_pixel_format(codec, pictures.format, preferred_formats(pictures), w, h);
    AVCodecContext* encoder = encoder_.context();
    set_video_defaults(encoder, w, h, pixel_format, tags.frame_rate, tags.sample_aspect_ratio);
    const ColourDescription colour =
        converted_colour(pictures.format, pictures.colour, pixel_format, pictures.yuv_matrix);
    encoder->colorspace = colour.matrix;
    encoder->color_range = colour.range;
    encoder->color_primaries = colour.primaries;
    encoder->color_trc = colour.transfer;
    encoder->chroma_sample_location = colour.chroma_location;
    const std::string name = codec->name;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixel_format);
    const std::string options = "cannot set up the " + name + " encoder";
    if (codec->id == AV_CODEC_ID_MJPEG && muxer.format().kind == OutputKind::Video) {
        // A motion-JPEG video at JPEG's quality scale 2, near the best: the
        // encoder's default bit rate would blur it. Pictures (a still, a
        // sequence) keep the encoder's defaults, as the ffmpeg program
        // writes them.
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * 2;
    }
    // Version 3 codes slices in parallel and guards each with a CRC. It cuts
    // every picture into at least two columns of slices, each at least one
    // chroma sample wide: narrower pictures keep the encoder's default.
    if (name == "ffv1" && desc != nullptr && AV_CEIL_RSHIFT(w, desc->log2_chroma_w) >= 2) {
        encoder->level = 3;
        check(av_opt_set(encoder->priv_data, "slicecrc", "1", 0), options);
    }
    if (encoding.crf) {
        check(av_opt_set_int(encoder->priv_data, "crf", *encoding.crf, 0), options);
    } else if (name == "libx264") {
        check(av_opt_set_int(encoder->priv_data, "crf", kDefaultX264Crf, 0), options);
    }
    if (name == "libx265") {
        // x265 prints to standard error itself, past FFmpeg's log.
        check(av_opt_set(encoder->priv_data, "x265-params", encoding.quiet ? "log-level=none" : "log-level=error", 0),
              options);
    }
    encoder_.open(muxer.stream(stream_index_), muxer.muxer(),
                  "cannot encode " + quoted(muxer.name()) + " with " + name + " at " + std::to_string(w) + "x" +
                      std::to_string(h));
    if (encoding.pixel_format == AV_PIX_FMT_NONE) {
        note_pixel_format(codec, pixel_format, notices);
    }
    tag_stream(tags, notices);
    pool_.push_back(new_picture());
    to_encoder_.emplace(
        ScaleTarget{w, h, pixel_format, colour_options(pictures.format, pictures.colour, pixel_format, colour)});
}

void VideoOutput::note_pixel_format(const AVCodec* codec, AVPixelFormat chosen, Notices& notices) {
    const char* chosen_name = av_get_pix_fmt_name(chosen);
    const char* given = av_get_pix_fmt_name(pictures_.format);
    if (chosen_name == nullptr || given == nullptr) {
        return;
    }
    // What an even size would have given, to tell what the odd one forced.
    const int w = encoder_.context()->width;
    const int h = encoder_.context()->height;
    const AVPixelFormat even = choose_pixel_format(codec, pictures_.format, preferred_formats(pictures_), 2 * w, 2 * h);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    if (!takes_odd_subsampled_sides(codec) && even != chosen) {
        const std::string standard = codec->id == AV_CODEC_ID_H264 ? "H.264" : "H.265";
        notices.push_back(Notice{false, quoted(muxer_.name()) + " is " + size + " pixels and " + standard +
                                            " takes 4:2:0 only with even sides, so it is " + chosen_name +
                                            ", profile " + profile_name(codec->id, chosen) +
                                            ", which browsers and most hardware players cannot play; settings "
                                            "that give even sides make a widely playable file"});
    } else if (chosen != pictures_.format && pictures_.file_formats.empty() && !muxer_.format().is_still()) {
        notices.push_back(Notice{false, std::string(codec->name) + " takes no " + given + "; " + quoted(muxer_.name()) +
                                            " is " + chosen_name});
    }
}

void VideoOutput::tag_stream(const VideoTags& tags, Notices& notices) {
    AVStream* stream = muxer_.stream(stream_index_);
    const AVCodecContext* encoder = encoder_.context();
    stream->avg_frame_rate = encoder->framerate;
    stream->sample_aspect_ratio = tags.sample_aspect_ratio;
    // The container's word; the pictures themselves are coded progressive.
    stream->codecpar->field_order = tags.field_order;
    if (const AVStream* input = tags.source; input != nullptr) {
        // The input video's tags (language, title, timecode, ...) but the
        // ones that described its old coding and layout.
        check_memory(av_dict_copy(&stream->metadata, input->metadata, 0));
        for (const char* stale : {"stereo_mode", "encoder", "ENCODER", "DURATION"}) {
            check_memory(av_dict_set(&stream->metadata, stale, nullptr, 0));
        }
        stream->disposition = input->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
        // What the pictures keep as they were: the display matrix (a phone's
        // upright clip), and HDR's mastering display and light levels, which
        // go with the transfer the colour tags carry.
        for (const AVPacketSideDataType type :
             {AV_PKT_DATA_DISPLAYMATRIX, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, AV_PKT_DATA_CONTENT_LIGHT_LEVEL}) {
            const AVPacketSideData* data = stream_side_data(input, type);
            if (data != nullptr) {
                check_memory(set_stream_side_data(stream, type, data->data, data->size));
            }
        }
        const AVPacketSideData* matrix = stream_side_data(input, AV_PKT_DATA_DISPLAYMATRIX);
        if (matrix != nullptr && matrix->size >= 9 * sizeof(std::int32_t) && !muxer_.container().display_matrix) {
            char rotation[32];
            std::snprintf(rotation, sizeof rotation, "%g",
                          av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix->data)));
            notices.push_back(Notice{true, "the display matrix (rotation " + std::string(rotation) +
                                               " degrees) left out: " + quoted(muxer_.name()) + " cannot hold it"});
        }
    }
    if (tags.stereo_layout) {
        tag_stereo_layout(*tags.stereo_layout);
    }
    const AVRational sar = tags.sample_aspect_ratio;
    if (sar.num > 0 && sar.num != sar.den && muxer_.container().one_picture_stream &&
        !picture_holds_aspect(encoder->codec_id)) {
        const auto shape = [encoder](AVRational pixel) {
            return ratio_text(
                make_ratio(std::int64_t{pixel.num} * encoder->width, std::int64_t{pixel.den} * encoder->height));
        };
        notices.push_back(Notice{true, quoted(muxer_.name()) + " cannot hold the pixel aspect ratio " +
                                           ratio_text(Ratio{sar.num, sar.den}) + " (" + encoder->codec->name +
                                           " pictures have none): it displays at " + shape(AVRational{1, 1}) +
                                           " instead of " + shape(sar)});
    }
}

void VideoOutput::tag_stereo_layout(const StereoLayout& layout) {
    AVStream* stream = muxer_.stream(stream_index_);
    const bool halves = layout.packing == StereoPacking::SideBySide || layout.packing == StereoPacking::AboveBelow;
    switch (muxer_.container().stereo) {
    case StereoTags::MatroskaStereoMode:
    case StereoTags::WebMStereoMode:
        if (const char* mode = matroska_stereo_mode(layout);
            mode != nullptr && (muxer_.container().stereo == StereoTags::MatroskaStereoMode || halves)) {
            check_memory(av_dict_set(&stream->metadata, "stereo_mode", mode, 0));
        }
        break;
    case StereoTags::Stereo3DSideData:
        if (halves) {
            check_memory(set_stream_stereo3d(
                stream, layout.packing == StereoPacking::SideBySide ? AV_STEREO3D_SIDEBYSIDE : AV_STEREO3D_TOPBOTTOM,
                layout.left_first ? 0 : AV_STEREO3D_FLAG_INVERT));
            if (muxer_.container().stereo_is_unofficial) {
                muxer_.context()->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
            }
        }
        break;
    case StereoTags::None:
        break;
    }
}

FramePtr VideoOutput::new_picture() const {
    FramePtr picture = allocate_frame();
    picture->format = pictures_.format;
    picture->width = pictures_.w;
    picture->height = pictures_.h;
    set_colour(picture.get(), pictures_.colour);
    check_memory(av_frame_get_buffer(picture.get(), 0));
    fill_black(picture.get());
    return picture;
}

AVFrame* VideoOutput::next_picture() {
    // Encoders that keep a frame for a while (frame threads) hold it; the
    // next free one takes its turn, and a new one only when none is.
    constexpr std::size_t kMaxPictures = 16;
    const std::size_t count = pool_.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t index = (current_ + i) % count;
        if (av_frame_is_writable(pool_[index].get()) != 0) {
            current_ = index;
            return pool_[index].get();
        }
    }
    if (count < kMaxPictures) {
        pool_.push_back(new_picture());
        current_ = count;
    } else {
        current_ = (current_ + 1) % count;
        check(av_frame_make_writable(pool_[current_].get()), "cannot write " + quoted(muxer_.name()));
    }
    return pool_[current_].get();
}

bool VideoOutput::write_picture(std::int64_t pts, std::int64_t duration, AVRational time_base) {
    return write_picture(pool_[current_].get(), pts, duration, time_base);
}

bool VideoOutput::write_picture(AVFrame* picture, std::int64_t pts, std::int64_t duration, AVRational time_base) {
    picture_time_base_ = time_base;
    const std::optional<std::int64_t> tick = sync_.place(pts, duration, time_base, encoder_time_base());
    if (!tick) {
        ++frames_dropped_;
        return false;
    }
    picture->pts = *tick;
    encoder_.encode(to_encoder_->convert(picture), [this](AVPacket* packet) { deliver(packet); });
    return true;
}

void VideoOutput::deliver(AVPacket* packet) {
    // Ticks count from the first frame's own time, which goes back in.
    timeline_.place_encoded(*packet, encoder_time_base(), sync_.origin(), picture_time_base_,
                            muxer_.stream(stream_index_)->time_base);
    muxer_.write(stream_index_, packet);
}

void VideoOutput::finish() {
    encoder_.encode(nullptr, [this](AVPacket* packet) { deliver(packet); });
}

}  // namespace ocuvex::media
