// The proposed settings, carried out by the core's own conversions and
// measured again: the views come out level, the nearest content at the
// screen, and the crop keeps the views' shape.
#include "core/analysis_proposal.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "tests/sample_pair.h"

namespace ocuvex {
namespace {

using test::render_pair;
using test::rig;
using test::SamplePair;

AnalysisSummary analyse(const LumaView& left, const LumaView& right) {
    PairAnalyzer analyzer(left.w, left.h);
    AnalysisAccumulator accumulator(analyzer, 1);
    EXPECT_TRUE(accumulator.add(analyzer.measure(left, right), 0));
    return accumulator.summarize();
}

// Converts a top-down side-by-side frame of w x h pixels as the tool does:
// seen bottom-up through a negative pitch.
std::vector<std::uint32_t> convert(FilterSettings settings, std::vector<std::uint32_t> frame, std::int32_t w,
                                   std::int32_t h, std::int32_t& out_w, std::int32_t& out_h) {
    const OutputGeometry g = compute_output_geometry(settings, w, h);
    std::vector<std::uint32_t> out(static_cast<std::size_t>(g.w) * g.h);
    const FrameView src = make_frame_view(frame.data() + static_cast<std::size_t>(w) * (h - 1), w, h, -4 * w);
    const FrameView dst = make_frame_view(out.data() + static_cast<std::size_t>(g.w) * (g.h - 1), g.w, g.h, -4 * g.w);
    convert_frame(settings, src, dst);
    out_w = g.w;
    out_h = g.h;
    return out;
}

TEST(AnalysisProposal, AlignedViewsMeasureLevelWithTheNearestAtTheScreen) {
    constexpr std::int32_t w = 640, h = 360;
    for (const bool left_eye_first : {true, false}) {
        for (const int lines : {-11, 7}) {
            SamplePair pair = render_pair(w, h, rig(lines), 12);
            const AnalysisSummary before = analyse(pair.left_view(), pair.right_view());
            // A right-first file: the right eye's view in the left half.
            std::vector<std::uint32_t> frame = pair.frame;
            if (!left_eye_first) {
                for (std::int32_t y = 0; y < h; ++y) {
                    std::swap_ranges(frame.begin() + y * 2 * w, frame.begin() + y * 2 * w + w,
                                     frame.begin() + y * 2 * w + w);
                }
            }
            const SettingsProposal p = propose_settings(before, {2 * w, h}, left_eye_first);
            ASSERT_TRUE(p.measured && p.needs_alignment && p.needs_cropping);
            // The tool exchanges the views of a right-first file, as its
            // stereo metadata says, so that the left eye comes out first.
            FilterSettings alignment = p.alignment;
            alignment.swap_lr = left_eye_first ? 0 : 1;
            std::int32_t aw = 0, ah = 0;
            const std::vector<std::uint32_t> aligned = convert(alignment, frame, 2 * w, h, aw, ah);
            ASSERT_EQ(std::pair(aw, ah), std::pair(p.aligned.w, p.aligned.h));
            const std::int32_t vw = aw / 2;
            const std::vector<std::uint8_t> left = test::luma_of(aligned.data(), aw, vw, ah);
            const std::vector<std::uint8_t> right = test::luma_of(aligned.data() + vw, aw, vw, ah);
            const AnalysisSummary after = analyse({left.data(), vw, ah, vw}, {right.data(), vw, ah, vw});
            EXPECT_EQ(after.vertical_offset, 0) << lines << " " << left_eye_first;
            EXPECT_NEAR(after.nearest, 0, 1) << lines << " " << left_eye_first;
            EXPECT_NEAR(after.nearest, p.nearest_after, 1);
            EXPECT_NEAR(after.farthest, p.farthest_after, 1);

            // The crop takes the aligned frame as it is, and gives back the
            // views' shape on even lines and columns.
            FilterSettings cropping = p.cropping;
            const OutputGeometry g = compute_output_geometry(cropping, aw, ah);
            EXPECT_EQ(cropping, p.cropping);
            EXPECT_EQ(std::pair(g.w, g.h), std::pair(p.cropped.w, p.cropped.h));
            EXPECT_NEAR((g.w / 2.0) / g.h, static_cast<double>(w) / h, 0.01);
            EXPECT_EQ((cropping.crop_x | cropping.crop_y | cropping.crop_width | cropping.crop_height) & 1, 0);
            EXPECT_GT(g.h, h - 2 * std::abs(lines) - 24);
        }
    }
}

TEST(AnalysisProposal, NothingMeasuredProposesNothing) {
    const std::vector<std::uint8_t> black(64 * 48, 16);
    const AnalysisSummary s = analyse({black.data(), 64, 48, 64}, {black.data(), 64, 48, 64});
    EXPECT_EQ(s.flat, 1);
    EXPECT_FALSE(propose_settings(s, {128, 48}, true).measured);
}

TEST(AnalysisProposal, DepthIsJudgedForEachScreen) {
    AnalysisSummary s;
    s.view_w = 1600;
    s.view_h = 900;
    s.measured = 1;
    s.horizontal_matches = 100;
    // Shallow: 0.5 % of the width.
    s.nearest = -4;
    s.farthest = 4;
    SettingsProposal p = propose_settings(s, {3200, 900}, true);
    EXPECT_EQ(p.alignment.align_horz, 4);
    EXPECT_EQ(p.nearest_after, 0);
    for (const ScreenComfort& c : p.screens) {
        EXPECT_FALSE(c.too_deep || c.diverges) << c.screen.name;
    }
    // Deep: 4 % of the width, which takes the background apart by more
    // than the eyes on a cinema screen and is too deep from a sofa.
    s.nearest = -32;
    s.farthest = 32;
    p = propose_settings(s, {3200, 900}, true);
    EXPECT_TRUE(p.screens[1].too_deep);
    EXPECT_FALSE(p.screens[1].diverges);
    EXPECT_TRUE(p.screens[3].diverges);
}

// Half side by side: views of 800x900 pixels that display at 16:9 fill a
// television as 1600x900 views do, and are as deep; read as full, they
// display at 8:9, half as wide, and look half as deep. Either way the crop
// window is of the views' exact shape.
TEST(AnalysisProposal, ViewsAreJudgedAtTheShapeTheyDisplayAt) {
    AnalysisSummary s;
    s.view_w = 800;
    s.view_h = 900;
    s.measured = 1;
    s.horizontal_matches = 100;
    s.vertical_matches = 100;
    s.vertical_offset = 5;
    s.nearest = -16;
    s.farthest = 16;
    const SettingsProposal half = propose_settings(s, {1600, 900}, true, Ratio{16, 9});
    const SettingsProposal full = propose_settings(s, {1600, 900}, true);
    EXPECT_EQ(half.view_aspect, (Ratio{16, 9}));
    EXPECT_EQ(full.view_aspect, (Ratio{8, 9}));
    EXPECT_TRUE(half.screens[1].too_deep);
    EXPECT_FALSE(full.screens[1].too_deep);
    EXPECT_NEAR(full.screens[1].range_degrees, half.screens[1].range_degrees / 2, 0.02);
    for (const SettingsProposal& p : {half, full}) {
        ASSERT_TRUE(p.needs_cropping);
        EXPECT_EQ(std::int64_t{p.cropping.crop_width} * 9, std::int64_t{p.cropping.crop_height} * 8);
        // 784 columns a view once aligned hold 8:9 up to 882 lines; exact, 864.
        EXPECT_EQ(p.cropping.crop_height, 864);
        EXPECT_EQ(p.cropping, half.cropping);
    }
}

}  // namespace
}  // namespace ocuvex
