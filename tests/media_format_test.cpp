// The choices the FFmpeg writer makes from OUTPUT's name and the output size.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "tools/ocuvex/media_writer.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::cli {
namespace {

struct FormatCase {
    const char* path;
    const char* extension;  // null: refused
};

TEST(OutputFormat, TheExtensionNamesTheFormatWhateverItsCaseAndFolder) {
    const FormatCase cases[] = {
        {"out.mkv", ".mkv"},   {"dir/OUT.MP4", ".mp4"},   {"a.b/c.Mov", ".mov"},
        {"frame.PNG", ".png"}, {"x.jpeg", ".jpeg"},       {"x.tiff", ".tiff"},
        {"out.avi", nullptr},  {"noextension", nullptr},  {"dir.mkv/noextension", nullptr},
        {".mkv", ".mkv"},      {"out.mkv.part", nullptr}, {"out.", nullptr},
    };
    for (const FormatCase& c : cases) {
        const OutputFormat* format = find_output_format(c.path);
        if (c.extension == nullptr) {
            EXPECT_EQ(format, nullptr) << c.path;
        } else {
            ASSERT_NE(format, nullptr) << c.path;
            EXPECT_STREQ(format->extension, c.extension) << c.path;
        }
    }
}

TEST(OutputFormat, PicturesAreStillsAndVideosDefaultToH264) {
    EXPECT_TRUE(find_output_format("a.png")->is_still());
    EXPECT_TRUE(find_output_format("a.tif")->is_still());
    EXPECT_FALSE(find_output_format("a.mkv")->is_still());
    EXPECT_STREQ(find_output_format("a.mp4")->default_codec, "libx264");
}

struct PixelCase {
    const char* codec;
    AVPixelFormat picture;  // a source's own; NONE: the core's 32-bit pixels
    int w, h;
    AVPixelFormat want;
};

void expect_choices(std::initializer_list<PixelCase> cases) {
    for (const PixelCase& c : cases) {
        const AVCodec* codec = avcodec_find_encoder_by_name(c.codec);
        ASSERT_NE(codec, nullptr) << c.codec;
        const AVPixelFormat got = choose_pixel_format(codec, c.picture, c.w, c.h);
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
        {"mjpeg", AV_PIX_FMT_YUV420P, 4, 4, AV_PIX_FMT_YUVJ444P},  // JPEG is full range
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
}  // namespace ocuvex::cli
