// The analysis against ground truth: the sample scene rendered with known
// rig errors and known depths, never against the estimator's own output.
#include "core/stereo_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "core/analysis_proposal.h"
#include "core/analysis_summary.h"
#include "tests/sample_pair.h"

namespace ocuvex {
namespace {

using test::render_pair;
using test::rig;
using test::SamplePair;

AnalysisSummary analyse(const std::vector<SamplePair>& pairs) {
    PairAnalyzer analyzer(pairs.front().w, pairs.front().h);
    AnalysisAccumulator accumulator(analyzer, static_cast<std::int32_t>(pairs.size()));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_TRUE(accumulator.add(analyzer.measure(pairs[i].left_view(), pairs[i].right_view()), i * 10.0));
    }
    return accumulator.summarize();
}

TEST(StereoAnalysis, VerticalOffsetsAreExactOnCleanContent) {
    PairAnalyzer analyzer(640, 360);
    for (int lines = -16; lines <= 16; ++lines) {
        const SamplePair pair = render_pair(640, 360, rig(lines), 20 + lines);
        const FrameMeasurement& m = analyzer.measure(pair.left_view(), pair.right_view());
        ASSERT_EQ(m.verdict, FrameVerdict::measured) << lines;
        EXPECT_EQ(m.vertical_median, lines);
        EXPECT_GT(m.vertical_matches, m.blocks / 3) << lines;
        ASSERT_TRUE(m.plane_fitted) << lines;
        EXPECT_NEAR(m.centre_offset, lines, 0.5);
    }
    // The views of a 1920x1080 side-by-side frame, at the ends of the range.
    for (const int lines : {-16, 16}) {
        const AnalysisSummary s = analyse({render_pair(960, 1080, rig(lines))});
        EXPECT_EQ(s.vertical_offset, lines);
        EXPECT_EQ(s.vertical_q1, lines);
        EXPECT_EQ(s.vertical_q3, lines);
        EXPECT_FALSE(s.rotated || s.scaled || s.vertical_drift || s.vertical_spread) << lines;
    }
}

TEST(StereoAnalysis, DisparityRangeIsTheScenesWithinAPixel) {
    for (const auto& [w, h] : {std::pair{640, 360}, std::pair{960, 1080}}) {
        std::vector<SamplePair> frames;
        for (const int t : {0, 15, 30}) {
            frames.push_back(render_pair(w, h, rig(3), t));
        }
        const AnalysisSummary s = analyse(frames);
        // The red ball is the nearest, the backdrop the farthest.
        EXPECT_NEAR(s.nearest, sample::ball_disparity(sample::kBalls[0], w), 1.0) << w;
        EXPECT_NEAR(s.farthest, sample::backdrop_disparity(w), 1.0) << w;
        EXPECT_NEAR(s.percent_of_width(s.farthest), 1.2, 100.0 / w);
        EXPECT_EQ(s.measured, 3);
    }
}

TEST(StereoAnalysis, TurnedOrScaledViewsAreWarnedOfNotTakenForAnOffset) {
    struct Case {
        double rotate, scale;
    };
    for (const auto& [w, h] : {std::pair{640, 360}, std::pair{960, 1080}}) {
        for (const Case c : {Case{1, 0}, Case{-1, 0}, Case{0, 2}, Case{0, -2}}) {
            const AnalysisSummary s = analyse({render_pair(w, h, rig(5, c.rotate, c.scale))});
            EXPECT_EQ(s.rotated, c.rotate != 0) << w << " " << c.rotate << " " << c.scale;
            EXPECT_EQ(s.scaled, c.scale != 0) << w << " " << c.rotate << " " << c.scale;
            EXPECT_NEAR(s.rotation_degrees, c.rotate, 0.15);
            EXPECT_NEAR(s.scale_percent, c.scale, 0.3);
            // The offset at the centre is still the rig's.
            EXPECT_NEAR(s.centre_offset, 5, 1.0);
        }
    }
}

TEST(StereoAnalysis, FlatFramesAreSkippedAndCounted) {
    std::vector<SamplePair> frames;
    // A fade to black of a pair whose right view is 6 lines low.
    for (const double gain : {1.0, 0.5, 0.25, 0.1, 0.05, 0.02, 0.0}) {
        frames.push_back(render_pair(640, 360, rig(6), 4, gain));
    }
    SamplePair grey = frames.back();
    std::fill(grey.left.begin(), grey.left.end(), 128);
    std::fill(grey.right.begin(), grey.right.end(), 128);
    frames.push_back(grey);
    const AnalysisSummary s = analyse(frames);
    EXPECT_EQ(s.frames, 8);
    EXPECT_GE(s.flat, 4);  // black, grey and the darkest steps of the fade
    EXPECT_EQ(s.measured + s.flat + s.unmatched, 8);
    EXPECT_GE(s.measured, 2);
    // Whatever was measured was measured right.
    EXPECT_EQ(s.vertical_offset, 6);
    EXPECT_EQ(s.vertical_q1, 6);
    for (const FrameRecord& r : s.frame_records) {
        if (r.verdict == FrameVerdict::measured) {
            EXPECT_EQ(r.vertical_median, 6) << r.time;
        }
    }
}

// Grain that differs between the views (every camera's noise, film grain)
// is allowed for: the offsets and the depth range still measure right.
TEST(StereoAnalysis, GrainIsAllowedFor) {
    const std::vector<int> offsets = {-16, 3, 16};
    for (const auto& [w, h] : {std::pair{640, 360}, std::pair{960, 1080}}) {
        std::vector<SamplePair> clean;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            clean.push_back(render_pair(w, h, rig(offsets[i]), static_cast<int>(15 * i)));
        }
        PairAnalyzer analyzer(w, h);
        for (const double grain : {2.0, 4.0, 6.0}) {
            std::vector<SamplePair> frames = clean;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                test::add_grain(frames[i], grain, false, static_cast<int>(i));
            }
            AnalysisAccumulator accumulator(analyzer, static_cast<std::int32_t>(frames.size()));
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const FrameMeasurement& m = analyzer.measure(frames[i].left_view(), frames[i].right_view());
                ASSERT_EQ(m.verdict, FrameVerdict::measured) << grain << " " << w << " " << offsets[i];
                EXPECT_NEAR(m.vertical_median, offsets[i], 1) << grain << " " << w;
                EXPECT_GT(m.vertical_matches, m.blocks / 2) << grain << " " << w << " " << offsets[i];
                // The scene's finest detail reads as a little noise at 360 lines.
                EXPECT_NEAR(m.noise, grain, 0.1 * grain + 0.5) << w;
                accumulator.add(m, static_cast<double>(i));
            }
            const AnalysisSummary s = accumulator.summarize();
            EXPECT_NEAR(s.nearest, sample::ball_disparity(sample::kBalls[0], w), 1.0) << grain << " " << w;
            EXPECT_NEAR(s.farthest, sample::backdrop_disparity(w), 1.0) << grain << " " << w;
            EXPECT_FALSE(s.rotated || s.scaled) << grain << " " << w;
        }
    }
}

// Grain alone, fine or coarse, however strong, is never taken for detail
// that matches: its frames are skipped, and nothing is proposed.
TEST(StereoAnalysis, GrainAloneIsNotMeasured) {
    for (const auto& [w, h] : {std::pair{640, 360}, std::pair{960, 1080}}) {
        PairAnalyzer analyzer(w, h);
        AnalysisAccumulator accumulator(analyzer, 8);
        for (const bool coarse : {false, true}) {
            for (const double grain : {2.0, 4.0, 6.0, 12.0}) {
                const SamplePair pair = test::grain_alone(w, h, grain, coarse);
                const FrameMeasurement& m = analyzer.measure(pair.left_view(), pair.right_view());
                EXPECT_NE(m.verdict, FrameVerdict::measured) << w << " " << coarse << " " << grain;
                accumulator.add(m, grain);
            }
        }
        const AnalysisSummary s = accumulator.summarize();
        EXPECT_FALSE(s.anything_measured());
        EXPECT_EQ(s.flat + s.unmatched, 8);
        EXPECT_FALSE(propose_settings(s, {2 * w, h}, true).measured);
    }
}

// A bottom-up buffer with padded rows, read from its top line through a
// negative pitch, is the same picture as the packed top-down one.
TEST(StereoAnalysis, ViewsAreReadThroughTheirPitch) {
    constexpr std::int32_t w = 640, h = 360, pitch = w + 24;
    const SamplePair pair = render_pair(w, h, rig(-4));
    const auto bottom_up = [](const std::vector<std::uint8_t>& top_down) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(pitch) * h, 0xEE);
        for (std::int32_t y = 0; y < h; ++y) {
            std::copy_n(top_down.begin() + y * w, w, out.begin() + (h - 1 - y) * pitch);
        }
        return out;
    };
    const std::vector<std::uint8_t> left = bottom_up(pair.left), right = bottom_up(pair.right);
    PairAnalyzer analyzer(w, h);
    const std::span<const BlockMatch> first = analyzer.measure(pair.left_view(), pair.right_view()).matches;
    const std::vector<BlockMatch> packed(first.begin(), first.end());
    const FrameMeasurement& m =
        analyzer.measure({left.data() + (h - 1) * pitch, w, h, -pitch}, {right.data() + (h - 1) * pitch, w, h, -pitch});
    ASSERT_EQ(m.matches.size(), packed.size());
    for (std::size_t i = 0; i < packed.size(); ++i) {
        EXPECT_TRUE(m.matches[i].dx == packed[i].dx && m.matches[i].dy == packed[i].dy &&
                    m.matches[i].horizontal == packed[i].horizontal && m.matches[i].vertical == packed[i].vertical)
            << i;
    }
    EXPECT_EQ(m.vertical_median, -4);
}

TEST(StereoAnalysis, ViewsOfAnotherSizeAreUnusable) {
    const SamplePair pair = render_pair(64, 48, rig(0));
    PairAnalyzer analyzer(64, 40);
    AnalysisAccumulator accumulator(analyzer, 1);
    const FrameMeasurement& m = analyzer.measure(pair.left_view(), pair.right_view());
    EXPECT_EQ(m.verdict, FrameVerdict::unusable);
    EXPECT_TRUE(accumulator.add(m, 0));
    EXPECT_FALSE(accumulator.add(m, 1));  // room for one frame
    const AnalysisSummary s = accumulator.summarize();
    EXPECT_EQ(s.unusable, 1);
    EXPECT_FALSE(s.anything_measured());
}

TEST(StereoAnalysis, ARigThatMovedIsWarnedOf) {
    std::vector<SamplePair> frames;
    frames.reserve(6);
    for (int t = 0; t < 6; ++t) {
        frames.push_back(render_pair(640, 360, rig(t < 3 ? 2 : 6), t * 7));
    }
    EXPECT_TRUE(analyse(frames).vertical_drift);
    frames.erase(frames.begin() + 3, frames.end());
    EXPECT_FALSE(analyse(frames).vertical_drift);
}

}  // namespace
}  // namespace ocuvex
