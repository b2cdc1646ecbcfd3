#include "core/display_shape.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/output_geometry.h"

namespace ocuvex {
namespace {

struct Shape {
    FrameSize size;
    Ratio sample;
    Ratio frame;
    bool squeezed = false;
};

Shape shape_of(std::int32_t mode, FrameSize source, Ratio sar, PackingChoice packing, bool swap = false) {
    FilterSettings settings = default_settings();
    settings.mode = mode;
    settings.swap_lr = swap ? 1 : 0;
    settings.crop_width = 100;
    settings.crop_height = 90;
    const OutputGeometry g = compute_output_geometry(settings, source.w, source.h);
    const DisplayAspect a = display_aspect(settings, source, {g.w, g.h}, sar, packing);
    return Shape{a.size, a.sample_aspect, a.frame_aspect, a.squeezed};
}

constexpr PackingChoice kFull{};
constexpr PackingChoice kHalf{Packing::Half, std::nullopt};

// The examples of a 640x360 half side-by-side clip of square pixels, and
// what ffmpeg's stereo3d declares for the same layouts (sbs2l in; sbs2l,
// ab2l or an anaglyph out), with either swap: the pixels never change, only
// the declared aspect follows the packing.
TEST(DisplayAspect, HalfPackingsKeepTheFramesShapeAsStereo3dDoes) {
    struct Case {
        std::int32_t mode;
        FrameSize size;
        Ratio sample;
        Ratio frame;
    };
    const FrameSize in{640, 360};
    const Case cases[] = {
        {MODE_NOP, {640, 360}, {1, 1}, {16, 9}},        {MODE_CENTERING, {640, 360}, {1, 1}, {16, 9}},
        {MODE_ALIGNMENT, {640, 360}, {1, 1}, {16, 9}},  {MODE_CROPPING, {200, 90}, {1, 1}, {20, 9}},
        {MODE_ANAGLYPH, {320, 360}, {2, 1}, {16, 9}},   {MODE_SBS_TO_AB, {320, 720}, {4, 1}, {16, 9}},
        {MODE_AB_TO_SBS, {1280, 180}, {1, 4}, {16, 9}}, {MODE_DEINTERLACE, {1280, 180}, {1, 4}, {16, 9}},
    };
    for (const Case& c : cases) {
        for (const bool swap : {false, true}) {
            const Shape s = shape_of(c.mode, in, {1, 1}, kHalf, swap);
            EXPECT_EQ(s.size, c.size) << c.mode;
            EXPECT_EQ(s.sample, c.sample) << c.mode << " " << ratio_text(s.sample);
            EXPECT_EQ(s.frame, c.frame) << c.mode << " " << ratio_text(s.frame);
            EXPECT_FALSE(s.squeezed);
        }
    }
}

// Without --half every view keeps its own shape: the input's pixel aspect
// throughout, but for deinterlace, whose views are always half packings.
TEST(DisplayAspect, FullPackingsKeepThePixelsShape) {
    const Ratio pal{16, 15};
    for (std::int32_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        const Shape s = shape_of(mode, {720, 576}, pal, kFull);
        if (mode == MODE_DEINTERLACE) {
            EXPECT_EQ(s.sample, (Ratio{4, 15}));  // 1440x288 displays at 4:3, as the frame did
            EXPECT_EQ(s.frame, (Ratio{4, 3}));
        } else {
            EXPECT_EQ(s.sample, pal) << mode;
        }
    }
    // Unknown is square.
    EXPECT_EQ(shape_of(MODE_SBS_TO_AB, {640, 360}, {0, 1}, kFull).sample, (Ratio{1, 1}));
    // Deinterlace's views as they are: each at the field's own shape.
    EXPECT_EQ(shape_of(MODE_DEINTERLACE, {640, 360}, {1, 1}, {Packing::Full, Packing::Full}).sample, (Ratio{1, 2}));
}

// Half to full declares the aspect; full to half squeezes the frame across
// its packing and keeps the full frame's display shape halved, at any
// rounding.
TEST(DisplayAspect, TheOutputPackingChosen) {
    const Shape unsqueezed = shape_of(MODE_AB_TO_SBS, {640, 360}, {1, 1}, {Packing::Half, Packing::Full});
    EXPECT_EQ(unsqueezed.size, (FrameSize{1280, 180}));
    EXPECT_EQ(unsqueezed.sample, (Ratio{1, 2}));
    EXPECT_FALSE(unsqueezed.squeezed);

    const Shape tv = shape_of(MODE_NOP, {3840, 1080}, {1, 1}, {Packing::Full, Packing::Half});
    EXPECT_TRUE(tv.squeezed);
    EXPECT_EQ(tv.size, (FrameSize{1920, 1080}));
    EXPECT_EQ(tv.sample, (Ratio{1, 1}));

    const Shape ab = shape_of(MODE_SBS_TO_AB, {3840, 1080}, {1, 1}, {Packing::Full, Packing::Half});
    EXPECT_EQ(ab.size, (FrameSize{1920, 1080}));
    EXPECT_EQ(ab.frame, (Ratio{16, 9}));

    // 643 columns squeezed to 322: the frame still shows at half of 643:360.
    FilterSettings centering = default_settings();
    centering.mode = MODE_CENTERING;
    centering.center_width = 3;
    const DisplayAspect odd = display_aspect(centering, {640, 360}, {643, 360}, {1, 1}, {Packing::Full, Packing::Half});
    EXPECT_EQ(odd.size, (FrameSize{322, 360}));
    EXPECT_EQ(odd.sample_aspect, (Ratio{643, 644}));
    EXPECT_EQ(odd.frame_aspect, (Ratio{643, 720}));

    // The anaglyph has no packing to choose.
    const Shape anaglyph = shape_of(MODE_ANAGLYPH, {640, 360}, {1, 1}, {Packing::Half, Packing::Full});
    EXPECT_EQ(anaglyph.sample, (Ratio{2, 1}));
    EXPECT_FALSE(anaglyph.squeezed);
}

// Views narrower than 1:1 or wider than 3:1 where the other packing gives a
// usual shape: the likely half file read as full, and the other way round;
// worth a word only where the other reading would change the output.
TEST(DisplayAspect, AShapeThatLooksLikeTheOtherPacking) {
    FilterSettings sbs = default_settings();
    sbs.mode = MODE_SBS_TO_AB;
    FilterSettings ab = default_settings();
    ab.mode = MODE_AB_TO_SBS;
    FilterSettings rows = default_settings();
    rows.mode = MODE_DEINTERLACE;
    const FilterSettings nop = default_settings();
    struct Case {
        const FilterSettings* settings;
        FrameSize source;
        PackingChoice packing;
        bool doubtful;
        Ratio view;
        Ratio other;
    };
    const Case cases[] = {
        {&sbs, {640, 360}, kFull, true, {8, 9}, {16, 9}},
        {&sbs, {640, 360}, kHalf, false, {16, 9}, {8, 9}},
        {&sbs, {3840, 1080}, kFull, false, {16, 9}, {32, 9}},
        {&sbs, {3840, 1080}, kHalf, true, {32, 9}, {16, 9}},
        {&sbs, {720, 1280}, kFull, true, {9, 32}, {9, 16}},  // an upright phone clip
        {&sbs, {2000, 1000}, kFull, false, {1, 1}, {2, 1}},
        {&ab, {1920, 1080}, kFull, true, {32, 9}, {16, 9}},
        {&ab, {1920, 2160}, kFull, false, {16, 9}, {8, 9}},
        {&rows, {640, 360}, kFull, false, {16, 9}, {16, 9}},
        // nop keeps the frame as it is either way, unless a packing is asked.
        {&nop, {640, 360}, kFull, false, {8, 9}, {16, 9}},
        {&nop, {640, 360}, {Packing::Full, Packing::Half}, true, {8, 9}, {16, 9}},
        {&nop, {640, 360}, {Packing::Full, Packing::Full}, true, {8, 9}, {16, 9}},
    };
    for (const Case& c : cases) {
        FilterSettings settings = *c.settings;
        const OutputGeometry g = compute_output_geometry(settings, c.source.w, c.source.h);
        const DisplayAspect a = display_aspect(settings, c.source, {g.w, g.h}, {1, 1}, c.packing);
        EXPECT_EQ(a.shape_doubtful, c.doubtful) << c.settings->mode << " " << c.source.w << "x" << c.source.h;
        EXPECT_EQ(a.view_aspect, c.view) << ratio_text(a.view_aspect);
        EXPECT_EQ(a.other_view_aspect, c.other) << ratio_text(a.other_view_aspect);
    }
}

TEST(DisplayAspect, RatiosStayWithinWhatAFileHolds) {
    EXPECT_EQ(make_ratio(1920, 1080), (Ratio{16, 9}));
    EXPECT_EQ(make_ratio(0, 5), (Ratio{}));
    EXPECT_EQ(make_ratio(5, 0), (Ratio{}));
    EXPECT_EQ(make_ratio(-1, 2), (Ratio{}));
    EXPECT_EQ(make_ratio(std::int64_t{INT32_MAX} * 4, 1), (Ratio{INT32_MAX, 1}));
    EXPECT_EQ(make_ratio(1, std::int64_t{INT32_MAX} * 4), (Ratio{}));  // nearer 0 than 1:INT32_MAX
    // 2^40 / (2^40 - 1) has no nearer neighbour within 32 bits than 1:1.
    EXPECT_EQ(make_ratio(std::int64_t{1} << 40, (std::int64_t{1} << 40) - 1), (Ratio{1, 1}));
    // Just below 1000/3: a semiconvergent with parts that fit is nearer.
    const double x = 3486784401000.0 / 10460353204.0;
    const Ratio r = make_ratio(3486784401000, 10460353204);
    EXPECT_LE(r.num, INT32_MAX);
    EXPECT_LE(r.den, INT32_MAX);
    EXPECT_LT(std::abs(static_cast<double>(r.num) / static_cast<double>(r.den) - x), std::abs(1000.0 / 3 - x));
    // The largest pixel aspect and widest frame a file can name: no overflow.
    const Shape s = shape_of(MODE_SBS_TO_AB, {kMaxFrameWidth, 2}, {INT32_MAX, 1}, kHalf);
    EXPECT_GT(s.sample.num, 0);
    EXPECT_GT(s.frame.num, 0);
    EXPECT_EQ(ratio_text({16, 9}), "16:9");
}

}  // namespace
}  // namespace ocuvex
