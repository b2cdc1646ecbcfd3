// The choices the FFmpeg writer makes from OUTPUT's name and the output size.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "tools/ocuvex/media_writer.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::cli {
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
