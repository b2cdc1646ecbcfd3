// What a stereo pair's sampled frames add up to: robust statistics of the
// block matches over the whole file, the frames that could not be measured,
// and the warnings a single offset cannot fix.
#pragma once

#include <cstdint>
#include <vector>

#include "core/stereo_analysis.h"

namespace ocuvex {

// One sampled frame as the report lists it.
struct FrameRecord {
    double time = 0;  // seconds, as the caller gave it
    FrameVerdict verdict = FrameVerdict::unusable;
    std::int32_t vertical_matches = 0;
    std::int32_t horizontal_matches = 0;
    std::int32_t vertical_median = 0;
    std::int32_t nearest = 0;
    std::int32_t farthest = 0;
    double noise = 0;  // FrameMeasurement::noise
};

// Offsets and disparities as in BlockMatch: the right view's position minus
// the left view's, in pixels of the views measured.
struct AnalysisSummary {
    std::int32_t view_w = 0;
    std::int32_t view_h = 0;

    // Frames: every one added is measured, flat, unmatched or unusable.
    std::int32_t frames = 0;
    std::int32_t measured = 0;
    std::int32_t flat = 0;
    std::int32_t unmatched = 0;
    std::int32_t unusable = 0;
    // The views' noise (FrameMeasurement::noise), the median over the frames
    // that could be read: what the matching allowed for.
    double noise = 0;

    // The vertical offset: the median and quartiles of every vertical match
    // of the measured frames, and the share within one line of the median.
    std::int64_t vertical_matches = 0;
    std::int32_t vertical_offset = 0;
    std::int32_t vertical_q1 = 0;
    std::int32_t vertical_q3 = 0;
    double vertical_agreement = 0;
    // Along the file: the 10th and 90th percentiles of the frames' own
    // medians (frames with enough vertical matches).
    std::int32_t vertical_low = 0;
    std::int32_t vertical_high = 0;

    // The horizontal disparity range: nearest and farthest once the 2 % of
    // matches at each end are set aside, and the median; then the extremes
    // of the frames' own nearest and farthest.
    std::int64_t horizontal_matches = 0;
    std::int32_t nearest = 0;
    std::int32_t farthest = 0;
    std::int32_t disparity_median = 0;
    std::int32_t nearest_in_a_frame = 0;
    std::int32_t farthest_in_a_frame = 0;

    // The right view against the left, from the planes fitted to the frames'
    // vertical offsets (their medians): turned clockwise by rotation_degrees,
    // larger by scale_percent, and the vertical offset at the centre.
    std::int32_t fitted_frames = 0;
    double rotation_degrees = 0;
    double scale_percent = 0;
    double centre_offset = 0;

    // Warnings.
    bool rotated = false;          // turned enough to leave lines of error at the sides
    bool scaled = false;           // scaled enough to leave lines of error at the top and bottom
    bool vertical_drift = false;   // the offset changes along the file: the rig moved
    bool vertical_spread = false;  // the blocks disagree, with no turn or scale to explain it
    // Most of the picture lies in front of the screen and some behind it.
    // Shot with converged cameras, the background lies behind the screen
    // and covers most of the picture; shot parallel, nothing lies behind
    // it. Views taken the wrong way round turn the depth inside out and
    // look like this.
    bool depth_inverted = false;

    std::vector<FrameRecord> frame_records;

    bool anything_measured() const { return measured > 0; }
    // A disparity as a percentage of the view width.
    double percent_of_width(std::int32_t pixels) const { return view_w > 0 ? 100.0 * pixels / view_w : 0.0; }
};

// The vertical error a turn or scale may leave at the picture's edges before
// it is warned of, in lines.
inline constexpr double kGeometryWarningLines = 1.5;
// The spread of the frames' medians (90th less 10th percentile), or of the
// block offsets (third less first quartile), that is warned of, in lines.
inline constexpr std::int32_t kDriftWarningLines = 2;

// Adds up the frames of one file, measured by one analyzer.
class AnalysisAccumulator {
  public:
    // Room for max_frames frames; made once, before the frames.
    AnalysisAccumulator(const PairAnalyzer& analyzer, std::int32_t max_frames);

    // Adds a frame sampled at `time` seconds. Allocates nothing; false, with
    // nothing added, once max_frames frames are in.
    bool add(const FrameMeasurement& frame, double time);

    AnalysisSummary summarize() const;

  private:
    std::int32_t view_w_, view_h_;
    std::int32_t max_dx_, max_dy_;
    std::int32_t max_frames_;
    std::vector<std::int64_t> dx_counts_, dy_counts_;
    std::vector<FrameRecord> records_;
    std::vector<double> turns_, scales_, centres_;
};

}  // namespace ocuvex
