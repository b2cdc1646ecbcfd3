// The decoded frame's own planes as the copy modes move them: which pixel
// formats can be moved plane by plane and how, what stands in for those that
// cannot, centering's fill colour in each format's own numbers, and the
// plan of a job from its first frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/output_geometry.h"
#include "media/conversion.h"
#include "media/picture_planes.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {
namespace {

const char* name_of(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "none";
}

struct LayoutCase {
    AVPixelFormat format;
    std::vector<PlaneFormat> planes;  // empty: not moved plane by plane
};

TEST(PlaneLayout, EveryPlaneWithItsElementSizeAndSubsampling) {
    const LayoutCase cases[] = {
        {AV_PIX_FMT_YUV420P, {{1, 0, 0}, {1, 1, 1}, {1, 1, 1}}},
        {AV_PIX_FMT_YUV422P10LE, {{2, 0, 0}, {2, 1, 0}, {2, 1, 0}}},
        {AV_PIX_FMT_YUV440P, {{1, 0, 0}, {1, 0, 1}, {1, 0, 1}}},
        {AV_PIX_FMT_YUV410P, {{1, 0, 0}, {1, 2, 2}, {1, 2, 2}}},
        {AV_PIX_FMT_YUVA420P16LE, {{2, 0, 0}, {2, 1, 1}, {2, 1, 1}, {2, 0, 0}}},  // alpha at full size
        {AV_PIX_FMT_NV12, {{1, 0, 0}, {2, 1, 1}}},                                // U and V side by side
        {AV_PIX_FMT_P010LE, {{2, 0, 0}, {4, 1, 1}}},
        {AV_PIX_FMT_NV24, {{1, 0, 0}, {2, 0, 0}}},
        {AV_PIX_FMT_GBRP, {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}}},
        {AV_PIX_FMT_GBRAP12LE, {{2, 0, 0}, {2, 0, 0}, {2, 0, 0}, {2, 0, 0}}},
        {AV_PIX_FMT_BGR0, {{4, 0, 0}}},
        {AV_PIX_FMT_RGB24, {{3, 0, 0}}},
        {AV_PIX_FMT_RGB48BE, {{6, 0, 0}}},
        {AV_PIX_FMT_RGBA64LE, {{8, 0, 0}}},
        {AV_PIX_FMT_RGB565LE, {{2, 0, 0}}},  // bit fields in one word
        {AV_PIX_FMT_X2RGB10LE, {{4, 0, 0}}},
        {AV_PIX_FMT_GRAY8, {{1, 0, 0}}},
        {AV_PIX_FMT_YA16LE, {{4, 0, 0}}},
        {AV_PIX_FMT_YUYV422, {}},  // luma and subsampled chroma in one plane
        {AV_PIX_FMT_UYVY422, {}},
        {AV_PIX_FMT_Y210LE, {}},
        {AV_PIX_FMT_PAL8, {}},
        {AV_PIX_FMT_MONOWHITE, {}},
        {AV_PIX_FMT_BAYER_RGGB8, {}},
        {AV_PIX_FMT_GBRPF32LE, {}},
        {AV_PIX_FMT_XYZ12LE, {}},
        {AV_PIX_FMT_VAAPI, {}},
        {AV_PIX_FMT_NONE, {}},
    };
    for (const LayoutCase& c : cases) {
        const std::optional<PlaneLayout> layout = plane_layout(c.format);
        if (c.planes.empty()) {
            EXPECT_FALSE(layout) << name_of(c.format);
            continue;
        }
        ASSERT_TRUE(layout) << name_of(c.format);
        ASSERT_EQ(layout->count, static_cast<int>(c.planes.size())) << name_of(c.format);
        for (int p = 0; p < layout->count; ++p) {
            const PlaneFormat& got = layout->planes[static_cast<std::size_t>(p)];
            const PlaneFormat& want = c.planes[static_cast<std::size_t>(p)];
            EXPECT_EQ(got.element_bytes, want.element_bytes) << name_of(c.format) << " plane " << p;
            EXPECT_EQ(got.shift_x, want.shift_x) << name_of(c.format) << " plane " << p;
            EXPECT_EQ(got.shift_y, want.shift_y) << name_of(c.format) << " plane " << p;
        }
    }
}

TEST(PlaneLayout, StandInsKeepDepthAlphaAndTheJpegRange) {
    struct StandIn {
        AVPixelFormat (*choose)(AVPixelFormat);
        AVPixelFormat format;
        AVPixelFormat want;
    };
    const StandIn cases[] = {
        {nearest_full_chroma_format, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV444P},
        {nearest_full_chroma_format, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV444P10LE},
        {nearest_full_chroma_format, AV_PIX_FMT_YUV422P12LE, AV_PIX_FMT_YUV444P12LE},
        {nearest_full_chroma_format, AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUV444P},
        {nearest_full_chroma_format, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ444P},
        {nearest_full_chroma_format, AV_PIX_FMT_YUVA420P, AV_PIX_FMT_YUVA444P},
        {nearest_full_chroma_format, AV_PIX_FMT_NV12, AV_PIX_FMT_YUV444P},
        {nearest_full_chroma_format, AV_PIX_FMT_P010LE, AV_PIX_FMT_YUV444P10LE},
        {nearest_full_chroma_format, AV_PIX_FMT_YUV410P, AV_PIX_FMT_YUV444P},
        {nearest_plane_format, AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUV422P},
        {nearest_plane_format, AV_PIX_FMT_UYVY422, AV_PIX_FMT_YUV422P},
        {nearest_plane_format, AV_PIX_FMT_Y210LE, AV_PIX_FMT_YUV422P10LE},
    };
    for (const StandIn& c : cases) {
        EXPECT_EQ(c.choose(c.format), c.want) << name_of(c.format) << ": got " << name_of(c.choose(c.format));
    }
    // A palette (with its alpha) becomes 8-bit RGB with alpha.
    const AVPixFmtDescriptor* pal = av_pix_fmt_desc_get(nearest_plane_format(AV_PIX_FMT_PAL8));
    ASSERT_NE(pal, nullptr);
    EXPECT_TRUE((pal->flags & AV_PIX_FMT_FLAG_RGB) != 0 && (pal->flags & AV_PIX_FMT_FLAG_ALPHA) != 0 &&
                pal->comp[0].depth == 8)
        << pal->name;
}

struct FillCase {
    AVPixelFormat format;
    AVColorSpace matrix;
    AVColorRange range;
    std::uint32_t rgb;
    std::vector<std::vector<std::uint8_t>> planes;  // each plane's element
};

TEST(FillColour, TheSourcesMatrixRangeDepthAndComponentOrder) {
    constexpr auto kNoMatrix = AVCOL_SPC_UNSPECIFIED;
    constexpr auto kNoRange = AVCOL_RANGE_UNSPECIFIED;
    const FillCase cases[] = {
        // Red in BT.709, limited and full range.
        {AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{63}, {102}, {240}}},
        {AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, 0xFF0000, {{54}, {99}, {255}}},
        // No matrix said: BT.601, as FFmpeg converts; no range: limited.
        {AV_PIX_FMT_YUV420P, kNoMatrix, kNoRange, 0xFF0000, {{81}, {90}, {240}}},
        // JPEG's formats are full range unless told otherwise.
        {AV_PIX_FMT_YUVJ420P, kNoMatrix, kNoRange, 0xFF0000, {{76}, {85}, {255}}},
        {AV_PIX_FMT_YUV444P, AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG, 0x00FF00, {{164}, {47}, {25}}},
        {AV_PIX_FMT_YUV444P, kNoMatrix, AVCOL_RANGE_MPEG, 0xFFFFFF, {{235}, {128}, {128}}},
        // Depth: 10-bit little-endian words; P010 keeps its 10 bits at the top.
        {AV_PIX_FMT_YUV420P10LE, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{250, 0}, {153, 1}, {192, 3}}},
        {AV_PIX_FMT_YUV420P10BE, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{0, 250}, {1, 153}, {3, 192}}},
        {AV_PIX_FMT_P010LE, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{128, 62}, {64, 102, 0, 240}}},
        {AV_PIX_FMT_NV12, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{63}, {102, 240}}},
        {AV_PIX_FMT_NV21, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{63}, {240, 102}}},
        // Alpha opaque.
        {AV_PIX_FMT_YUVA420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0xFF0000, {{63}, {102}, {240}, {255}}},
        {AV_PIX_FMT_YUVA444P10LE, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 0, {{64, 0}, {0, 2}, {0, 2}, {255, 3}}},
        // RGB in every order and depth; the unused byte of bgr0 stays 0.
        {AV_PIX_FMT_GBRP, kNoMatrix, kNoRange, 0x3366CC, {{0x66}, {0xCC}, {0x33}}},
        {AV_PIX_FMT_GBRP10LE, kNoMatrix, kNoRange, 0x3366CC, {{0x99, 0x01}, {0x32, 0x03}, {0xCD, 0x00}}},
        {AV_PIX_FMT_BGR0, kNoMatrix, kNoRange, 0x3366CC, {{0xCC, 0x66, 0x33, 0x00}}},
        {AV_PIX_FMT_RGBA, kNoMatrix, kNoRange, 0x3366CC, {{0x33, 0x66, 0xCC, 0xFF}}},
        {AV_PIX_FMT_RGB48LE, kNoMatrix, kNoRange, 0x3366CC, {{0x33, 0x33, 0x66, 0x66, 0xCC, 0xCC}}},
        {AV_PIX_FMT_RGB565LE, kNoMatrix, kNoRange, 0xFF0000, {{0x00, 0xF8}}},
        // Gray is full range unless told otherwise, as FFmpeg's scaler takes it.
        {AV_PIX_FMT_GRAY8, kNoMatrix, kNoRange, 0xFFFFFF, {{255}}},
        {AV_PIX_FMT_GRAY8, kNoMatrix, AVCOL_RANGE_MPEG, 0xFFFFFF, {{235}}},
        {AV_PIX_FMT_YA8, kNoMatrix, kNoRange, 0x000000, {{0, 255}}},
    };
    for (const FillCase& c : cases) {
        ColourDescription colour;
        colour.matrix = c.matrix;
        colour.range = c.range;
        const FillElements fill = fill_elements(c.rgb, c.format, colour);
        for (std::size_t p = 0; p < c.planes.size(); ++p) {
            const std::vector<std::uint8_t> got(fill.planes[p].begin(), fill.planes[p].begin() + c.planes[p].size());
            EXPECT_EQ(got, c.planes[p]) << name_of(c.format) << " " << av_color_space_name(c.matrix) << " "
                                        << av_color_range_name(c.range) << " plane " << p;
        }
    }
}

// A damaged stream's numbers, as a decoder copies them into the picture:
// those FFmpeg names stay, the rest become unspecified.
TEST(ColourTags, NumbersFFmpegHasNoNameForBecomeUnspecified) {
    FramePtr picture = allocate_frame();
    const auto store = [](auto& tag, int number) { std::memcpy(&tag, &number, sizeof number); };
    store(picture->colorspace, AVCOL_SPC_BT2020_NCL);
    store(picture->color_range, 7);
    store(picture->color_primaries, 17);  // in the gap below EBU 3213
    store(picture->color_trc, -3);
    store(picture->chroma_location, 12);
    forget_unknown_colour_tags(picture.get());
    const ColourDescription expected{AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_UNSPECIFIED, AVCOL_PRI_UNSPECIFIED,
                                     AVCOL_TRC_UNSPECIFIED, AVCHROMA_LOC_UNSPECIFIED};
    EXPECT_TRUE(colour_of(picture.get()) == expected);

    store(picture->color_primaries, AVCOL_PRI_EBU3213);
    store(picture->chroma_location, AVCHROMA_LOC_BOTTOM);
    forget_unknown_colour_tags(picture.get());
    EXPECT_EQ(picture->color_primaries, AVCOL_PRI_EBU3213);
    EXPECT_EQ(picture->chroma_location, AVCHROMA_LOC_BOTTOM);
}

// A w x h picture whose every sample of every plane is a different number.
FramePtr numbered_picture(AVPixelFormat format, int w, int h) {
    FramePtr picture = allocate_frame();
    picture->format = format;
    picture->width = w;
    picture->height = h;
    EXPECT_EQ(av_frame_get_buffer(picture.get(), 0), 0);
    const PlaneLayout layout = *plane_layout(format);
    for (int p = 0; p < layout.count; ++p) {
        const PlaneFormat& plane = layout.planes[static_cast<std::size_t>(p)];
        const FrameSize size = plane_size({w, h}, plane.shift_x, plane.shift_y);
        for (int y = 0; y < size.h; ++y) {
            for (int x = 0; x < size.w * plane.element_bytes; ++x) {
                picture->data[p][y * picture->linesize[p] + x] = static_cast<std::uint8_t>(p * 67 + y * 29 + x);
            }
        }
    }
    return picture;
}

std::vector<std::uint8_t> element(const AVFrame* picture, int plane, int x, int y, int bytes) {
    const std::uint8_t* at = picture->data[plane] + y * picture->linesize[plane] + x * bytes;
    return {at, at + bytes};
}

// Side by side to above/below on NV12 and P010, whose chroma planes hold U
// and V side by side: the right view above (as ffmpeg's stereo3d=sbsl:abr),
// every element whole.
TEST(RunPlanes, SemiPlanarPicturesKeepTheirSamplePairsTheRightViewAbove) {
    for (const AVPixelFormat format : {AV_PIX_FMT_NV12, AV_PIX_FMT_P010LE}) {
        FilterSettings settings = default_settings();
        settings.mode = MODE_SBS_TO_AB;
        const OutputGeometry geometry = compute_output_geometry(settings, 8, 6);
        const FramePtr source = numbered_picture(format, 8, 6);
        const ConversionPlan plan = plan_conversion(settings, source.get(), {geometry.w, geometry.h});
        ASSERT_EQ(plan.pictures.format, format);
        EXPECT_TRUE(plan.notes.empty());
        FramePtr out = allocate_frame();
        out->format = format;
        out->width = geometry.w;
        out->height = geometry.h;
        ASSERT_EQ(av_frame_get_buffer(out.get(), 0), 0);
        ASSERT_TRUE(run_planes(plan.copies, *plan.planes, plan.fill, source.get(), out.get()));
        for (int p = 0; p < 2; ++p) {
            const PlaneFormat& plane = plan.planes->planes[static_cast<std::size_t>(p)];
            const FrameSize half = plane_size({4, 6}, plane.shift_x, plane.shift_y);
            for (int y = 0; y < half.h; ++y) {
                for (int x = 0; x < half.w; ++x) {
                    EXPECT_EQ(element(out.get(), p, x, y, plane.element_bytes),
                              element(source.get(), p, half.w + x, y, plane.element_bytes))
                        << name_of(format) << " plane " << p << " upper half at " << x << "," << y;
                    EXPECT_EQ(element(out.get(), p, x, half.h + y, plane.element_bytes),
                              element(source.get(), p, x, y, plane.element_bytes))
                        << name_of(format) << " plane " << p << " lower half at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ConversionPlan, KeepsTheSourcesFormatOrSaysWhatItConvertsTo) {
    const auto plan_for = [](AVPixelFormat format, int w, int h, FilterSettings settings) {
        const OutputGeometry geometry = compute_output_geometry(settings, w, h);
        FramePtr first = allocate_frame();
        first->format = format;
        first->width = w;
        first->height = h;
        first->color_trc = AVCOL_TRC_SMPTE2084;
        return plan_conversion(settings, first.get(), {geometry.w, geometry.h});
    };
    FilterSettings crop = default_settings();
    crop.mode = MODE_CROPPING;
    crop.crop_x = 2;
    crop.crop_y = 2;
    crop.crop_width = 10;
    crop.crop_height = 6;
    ConversionPlan plan = plan_for(AV_PIX_FMT_YUV420P10LE, 32, 16, crop);
    EXPECT_EQ(plan.pictures.format, AV_PIX_FMT_YUV420P10LE);
    EXPECT_TRUE(plan.notes.empty());
    EXPECT_EQ(plan.pictures.colour.transfer, AVCOL_TRC_SMPTE2084);  // tags go along

    crop.crop_x = 1;  // a chroma sample cut in two
    plan = plan_for(AV_PIX_FMT_YUV420P10LE, 32, 16, crop);
    EXPECT_EQ(plan.pictures.format, AV_PIX_FMT_YUV444P10LE);
    ASSERT_EQ(plan.notes.size(), 1U);
    EXPECT_NE(plan.notes[0].text.find("converted once to yuv444p10le"), std::string::npos) << plan.notes[0].text;

    FilterSettings deinterlace = default_settings();
    deinterlace.mode = MODE_DEINTERLACE;
    EXPECT_EQ(plan_for(AV_PIX_FMT_YUV422P, 32, 16, deinterlace).pictures.format,
              AV_PIX_FMT_YUV422P);  // no vertical subsampling
    // Each view takes the chroma rows of its parity, as stereo3d does; a
    // height of an odd count of chroma rows has no such split.
    EXPECT_EQ(plan_for(AV_PIX_FMT_NV12, 32, 16, deinterlace).pictures.format, AV_PIX_FMT_NV12);
    plan = plan_for(AV_PIX_FMT_NV12, 32, 18, deinterlace);
    EXPECT_EQ(plan.pictures.format, AV_PIX_FMT_YUV444P);
    EXPECT_EQ(plan.pictures.file_formats, std::vector<AVPixelFormat>{AV_PIX_FMT_NV12});  // written as the source

    plan = plan_for(AV_PIX_FMT_PAL8, 32, 16, default_settings());
    ASSERT_EQ(plan.notes.size(), 1U);
    EXPECT_NE(plan.notes[0].text.find("pal8 pictures cannot be moved plane by plane"), std::string::npos)
        << plan.notes[0].text;

    FilterSettings anaglyph = default_settings();
    anaglyph.mode = MODE_ANAGLYPH;
    plan = plan_for(AV_PIX_FMT_YUV420P, 32, 16, anaglyph);
    EXPECT_EQ(plan.pictures.format, AV_PIX_FMT_BGR0);
    EXPECT_FALSE(plan.planes);
    ASSERT_EQ(plan.notes.size(), 1U);
    EXPECT_TRUE(plan.notes[0].warning);
    EXPECT_NE(plan.notes[0].text.find("the anaglyph is defined on pixel values, and these are HDR (PQ)"),
              std::string::npos)
        << plan.notes[0].text;
}

}  // namespace
}  // namespace ocuvex::media
