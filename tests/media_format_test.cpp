// The choices the FFmpeg writer makes from OUTPUT's name and the output size.
#include <gtest/gtest.h>

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
    int w, h;
    AVPixelFormat want;
};

TEST(PixelFormat, LosslessWhereTheEncoderTakesTheCorePixelsAndAnySizeForH264) {
    const PixelCase cases[] = {
        {"ffv1", 39, 23, AV_PIX_FMT_BGR0},  // the 32-bit pixels as they are
        {"libx264", 640, 360, AV_PIX_FMT_YUV420P},
        {"libx264", 639, 360, AV_PIX_FMT_YUV444P},  // 4:2:0 needs even sides
        {"libx264", 640, 359, AV_PIX_FMT_YUV444P},
        {"png", 3, 3, AV_PIX_FMT_RGB24},  // not RGBA: the unused byte is no alpha
        {"bmp", 3, 3, AV_PIX_FMT_BGR24},
        {"tiff", 3, 3, AV_PIX_FMT_RGB24},
        {"mjpeg", 3, 3, AV_PIX_FMT_YUVJ444P},
    };
    for (const PixelCase& c : cases) {
        const AVCodec* codec = avcodec_find_encoder_by_name(c.codec);
        ASSERT_NE(codec, nullptr) << c.codec;
        EXPECT_EQ(choose_pixel_format(codec, c.w, c.h), c.want)
            << c.codec << " " << c.w << "x" << c.h << ": got "
            << av_get_pix_fmt_name(choose_pixel_format(codec, c.w, c.h));
    }
}

}  // namespace
}  // namespace ocuvex::cli
