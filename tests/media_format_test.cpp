// The choices the FFmpeg writer makes from OUTPUT's name and the output size.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "media/containers.h"
#include "media/conversion.h"
#include "media/encode.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {
namespace {

struct FormatCase {
    const char* path;
    const char* muxer;  // null: refused
    OutputKind kind = OutputKind::Video;
};

TEST(OutputFormat, TheNameChoosesFFmpegsMuxerWhateverItsCaseAndFolder) {
    const FormatCase cases[] = {
        {"out.mkv", "matroska"},
        {"dir/OUT.MP4", "mp4"},
        {"a.b/c.Mov", "mov"},
        {"out.webm", "webm"},
        {"out.avi", "avi"},
        {"out.gif", "gif"},
        {"frame.PNG", "image2pipe", OutputKind::Still},
        {"x.jpeg", "image2pipe", OutputKind::Still},
        {"x.tiff", "image2pipe", OutputKind::Still},
        {"dir%d/frame.png", "image2pipe", OutputKind::Still},  // a pattern counts in the file name only
        {"out%04d.png", "image2", OutputKind::Sequence},
        {"shots/out-%d.JPG", "image2", OutputKind::Sequence},
        {".mkv", "matroska"},
        {"noextension", nullptr},
        {"dir.mkv/noextension", nullptr},
        {"out.mkv.part", nullptr},
        {"out.", nullptr},
        {"sound.wav", nullptr},  // holds no video
        {"out.nosuchformat", nullptr},
    };
    for (const FormatCase& c : cases) {
        std::string why;
        const std::optional<OutputFormat> format = find_output_format(c.path, &why);
        if (c.muxer == nullptr) {
            EXPECT_FALSE(format.has_value()) << c.path;
            EXPECT_FALSE(why.empty()) << c.path;
        } else {
            ASSERT_TRUE(format.has_value()) << c.path << ": " << why;
            EXPECT_STREQ(format->muxer, c.muxer) << c.path;
            EXPECT_EQ(format->kind, c.kind) << c.path;
        }
    }
}

TEST(OutputFormat, EachContainerGetsItsUsualEncoderAsFFmpegChoosesIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.mp4", "libx264"}, {"a.mkv", "libx264"}, {"a.webm", "libvpx-vp9"}, {"a.avi", "mpeg4"},
        {"a.gif", "gif"},     {"a.png", "png"},     {"a%03d.jpg", "mjpeg"},
    };
    for (const auto& [path, codec] : cases) {
        const std::optional<OutputFormat> format = find_output_format(path);
        ASSERT_TRUE(format.has_value()) << path;
        EXPECT_STREQ(format->default_codec, codec) << path;
    }
    std::string why;
    EXPECT_FALSE(find_output_format("sound.wav", &why));
    EXPECT_NE(why.find("the wav format holds no video"), std::string::npos) << why;
}

struct PixelCase {
    const char* codec;
    AVPixelFormat picture;  // a source's own; NONE: the core's 32-bit pixels, made here
    int w, h;
    AVPixelFormat want;
};

void expect_choices(std::initializer_list<PixelCase> cases) {
    for (const PixelCase& c : cases) {
        const AVCodec* codec = avcodec_find_encoder_by_name(c.codec);
        ASSERT_NE(codec, nullptr) << c.codec;
        const bool core = c.picture == AV_PIX_FMT_NONE;
        const AVPixelFormat pictures = core ? kCorePixelFormat : c.picture;
        const std::span<const AVPixelFormat> preferred =
            core ? std::span<const AVPixelFormat>(kCorePixelFileFormats) : std::span(&pictures, 1);
        const AVPixelFormat got = choose_pixel_format(codec, pictures, preferred, c.w, c.h);
        const char* picture = c.picture == AV_PIX_FMT_NONE ? "core pixels" : av_get_pix_fmt_name(c.picture);
        EXPECT_EQ(got, c.want) << c.codec << " " << picture << " " << c.w << "x" << c.h << ": got "
                               << av_get_pix_fmt_name(got);
    }
}

TEST(PixelFormat, TheCorePixelsLosslessWhereTheEncoderTakesThemAndAnySizeForH264) {
    expect_choices({
        {"ffv1", AV_PIX_FMT_NONE, 39, 23, AV_PIX_FMT_BGR0},  // the 32-bit pixels as they are
        {"libx264", AV_PIX_FMT_NONE, 640, 360, AV_PIX_FMT_YUV420P},
        {"libx264", AV_PIX_FMT_NONE, 639, 360, AV_PIX_FMT_YUV444P},  // 4:2:0 needs even sides
        {"libx264", AV_PIX_FMT_NONE, 640, 359, AV_PIX_FMT_YUV444P},
        {"png", AV_PIX_FMT_NONE, 3, 3, AV_PIX_FMT_RGB24},  // not RGBA: the unused byte is no alpha
        {"bmp", AV_PIX_FMT_NONE, 3, 3, AV_PIX_FMT_BGR24},
        {"tiff", AV_PIX_FMT_NONE, 3, 3, AV_PIX_FMT_RGB24},
        {"mjpeg", AV_PIX_FMT_NONE, 3, 3, AV_PIX_FMT_YUVJ444P},
    });
}

TEST(PixelFormat, TheSourcesOwnWhereTheEncoderTakesItElseTheNearest) {
    expect_choices({
        {"libx264", AV_PIX_FMT_YUV420P10LE, 64, 36, AV_PIX_FMT_YUV420P10LE},  // 10 bits stay 10 bits
        {"libx264", AV_PIX_FMT_YUV422P, 64, 36, AV_PIX_FMT_YUV422P},
        {"libx264", AV_PIX_FMT_YUVJ420P, 64, 36, AV_PIX_FMT_YUVJ420P},
        {"libx264", AV_PIX_FMT_NV12, 64, 36, AV_PIX_FMT_NV12},
        {"libx264", AV_PIX_FMT_GRAY8, 64, 36, AV_PIX_FMT_GRAY8},
        {"ffv1", AV_PIX_FMT_YUV444P12LE, 64, 36, AV_PIX_FMT_YUV444P12LE},
        {"ffv1", AV_PIX_FMT_YUV420P, 39, 23, AV_PIX_FMT_YUV420P},  // ffv1 takes 4:2:0 at any size
        {"ffv1", AV_PIX_FMT_GBRP10LE, 3, 3, AV_PIX_FMT_GBRP10LE},
        {"rawvideo", AV_PIX_FMT_GBRP, 3, 3, AV_PIX_FMT_GBRP},                 // takes anything
        {"libx264", AV_PIX_FMT_YUV422P12LE, 64, 36, AV_PIX_FMT_YUV422P10LE},  // never fewer bits than need be
        {"libx264", AV_PIX_FMT_P010LE, 64, 36, AV_PIX_FMT_YUV420P10LE},
        {"libx264", AV_PIX_FMT_GBRP, 64, 36, AV_PIX_FMT_YUV444P},
        {"libx264", AV_PIX_FMT_BGR0, 64, 36, AV_PIX_FMT_YUV444P},  // as ffmpeg: no chroma lost
        {"ffv1", AV_PIX_FMT_NV12, 64, 36, AV_PIX_FMT_YUV420P},
        {"png", AV_PIX_FMT_YUV420P10LE, 4, 4, AV_PIX_FMT_RGB48BE},
        {"mjpeg", AV_PIX_FMT_YUV420P, 4, 4, AV_PIX_FMT_YUVJ420P},  // JPEG is full range; as ffmpeg chooses
        {"mjpeg", AV_PIX_FMT_YUV422P10LE, 4, 4, AV_PIX_FMT_YUVJ422P},
        {"mjpeg", AV_PIX_FMT_GBRP, 4, 4, AV_PIX_FMT_YUVJ444P},
        {"mjpeg", AV_PIX_FMT_YUVJ420P, 4, 4, AV_PIX_FMT_YUVJ420P},
    });
}

TEST(PixelFormat, H264AtAnOddSizeTakesTheChromaItCan) {
    expect_choices({
        {"libx264", AV_PIX_FMT_YUV420P, 39, 24, AV_PIX_FMT_YUV444P},
        {"libx264", AV_PIX_FMT_YUV420P, 40, 23, AV_PIX_FMT_YUV422P},  // 4:2:2 needs an even width only
        {"libx264", AV_PIX_FMT_YUV422P, 40, 23, AV_PIX_FMT_YUV422P},
        {"libx264", AV_PIX_FMT_YUV420P10LE, 39, 23, AV_PIX_FMT_YUV444P10LE},
        {"libx264", AV_PIX_FMT_YUV444P, 39, 23, AV_PIX_FMT_YUV444P},
        {"mpeg4", AV_PIX_FMT_YUV420P, 39, 23, AV_PIX_FMT_YUV420P},  // other encoders take odd 4:2:0
    });
}

}  // namespace
}  // namespace ocuvex::media
