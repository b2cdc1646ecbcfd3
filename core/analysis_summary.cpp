#include "core/analysis_summary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "core/histogram.h"

namespace ocuvex {

namespace {

// A frame's own median counts towards the drift along the file only with
// this many vertical matches behind it.
constexpr std::int32_t kMinFrameMatches = 8;

// The median of a few values (the frames' fitted planes), sorted in place.
double median_of(std::vector<double>& values) {
    if (values.empty()) {
        return 0.0;
    }
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    return values[mid];
}

}  // namespace

AnalysisAccumulator::AnalysisAccumulator(const PairAnalyzer& analyzer, std::int32_t max_frames)
    : view_w_(analyzer.view_w()),
      view_h_(analyzer.view_h()),
      max_dx_(analyzer.max_dx()),
      max_dy_(analyzer.max_dy()),
      max_frames_(std::max(max_frames, 0)),
      dx_counts_(slots(max_dx_)),
      dy_counts_(slots(max_dy_)) {
    const auto frames = static_cast<std::size_t>(max_frames_);
    records_.reserve(frames);
    turns_.reserve(frames);
    scales_.reserve(frames);
    centres_.reserve(frames);
}

bool AnalysisAccumulator::add(const FrameMeasurement& frame, double time) {
    if (records_.size() >= static_cast<std::size_t>(max_frames_)) {
        return false;
    }
    records_.push_back({time, frame.verdict, frame.vertical_matches, frame.horizontal_matches, frame.vertical_median,
                        frame.nearest, frame.farthest, frame.noise});
    if (frame.verdict != FrameVerdict::measured) {
        return true;
    }
    for (const BlockMatch& m : frame.matches) {
        // Matches of another analyzer's range are not this file's.
        if (m.horizontal && std::abs(m.dx) <= max_dx_) {
            ++dx_counts_[slot(m.dx, max_dx_)];
        }
        if (m.vertical && std::abs(m.dy) <= max_dy_) {
            ++dy_counts_[slot(m.dy, max_dy_)];
        }
    }
    if (frame.plane_fitted) {
        turns_.push_back(frame.turn);
        scales_.push_back(frame.scale);
        centres_.push_back(frame.centre_offset);
    }
    return true;
}

AnalysisSummary AnalysisAccumulator::summarize() const {
    AnalysisSummary s;
    s.view_w = view_w_;
    s.view_h = view_h_;
    s.frame_records = records_;
    std::vector<std::int32_t> frame_medians;
    std::vector<std::int32_t> frame_nearest, frame_farthest;
    std::vector<double> noise;
    for (const FrameRecord& r : records_) {
        ++s.frames;
        if (r.verdict != FrameVerdict::unusable) {
            noise.push_back(r.noise);
        }
        switch (r.verdict) {
        case FrameVerdict::measured:
            ++s.measured;
            if (r.vertical_matches >= kMinFrameMatches) {
                frame_medians.push_back(r.vertical_median);
            }
            if (r.horizontal_matches > 0) {
                frame_nearest.push_back(r.nearest);
                frame_farthest.push_back(r.farthest);
            }
            break;
        case FrameVerdict::flat:
            ++s.flat;
            break;
        case FrameVerdict::unmatched:
            ++s.unmatched;
            break;
        case FrameVerdict::unusable:
            ++s.unusable;
            break;
        }
    }

    s.noise = median_of(noise);
    for (const std::int64_t n : dy_counts_) {
        s.vertical_matches += n;
    }
    if (s.vertical_matches > 0) {
        const std::int64_t n = s.vertical_matches;
        s.vertical_offset = percentile(dy_counts_, max_dy_, n, 0.5);
        s.vertical_q1 = percentile(dy_counts_, max_dy_, n, 0.25);
        s.vertical_q3 = percentile(dy_counts_, max_dy_, n, 0.75);
        std::int64_t near_median = 0;
        for (std::int32_t d = s.vertical_offset - 1; d <= s.vertical_offset + 1; ++d) {
            if (std::abs(d) <= max_dy_) {
                near_median += dy_counts_[slot(d, max_dy_)];
            }
        }
        s.vertical_agreement = static_cast<double>(near_median) / static_cast<double>(n);
    }
    if (!frame_medians.empty()) {
        std::sort(frame_medians.begin(), frame_medians.end());
        const auto at = [&frame_medians](double share) {
            return frame_medians[static_cast<std::size_t>(share * static_cast<double>(frame_medians.size() - 1))];
        };
        s.vertical_low = at(0.1);
        s.vertical_high = at(0.9);
    }

    for (const std::int64_t n : dx_counts_) {
        s.horizontal_matches += n;
    }
    if (s.horizontal_matches > 0) {
        const std::int64_t n = s.horizontal_matches;
        s.nearest = percentile(dx_counts_, max_dx_, n, kDisparityTail);
        s.farthest = percentile(dx_counts_, max_dx_, n, 1.0 - kDisparityTail);
        s.disparity_median = percentile(dx_counts_, max_dx_, n, 0.5);
    }
    if (!frame_nearest.empty()) {
        s.nearest_in_a_frame = *std::min_element(frame_nearest.begin(), frame_nearest.end());
        s.farthest_in_a_frame = *std::max_element(frame_farthest.begin(), frame_farthest.end());
    }

    s.fitted_frames = static_cast<std::int32_t>(turns_.size());
    if (s.fitted_frames > 0) {
        std::vector<double> turns = turns_, scales = scales_, centres = centres_;
        const double turn = median_of(turns), scale = median_of(scales);
        s.rotation_degrees = std::atan(turn) * 180.0 / std::numbers::pi;
        s.scale_percent = scale * 100.0;
        s.centre_offset = median_of(centres);
        // What the turn and the scale leave at the middle of the picture's
        // sides, and at the middle of its top and bottom.
        s.rotated = std::abs(turn) * view_w_ / 2.0 >= kGeometryWarningLines;
        s.scaled = std::abs(scale) * view_h_ / 2.0 >= kGeometryWarningLines;
    }
    s.vertical_drift = s.vertical_high - s.vertical_low >= kDriftWarningLines;
    s.vertical_spread = !s.rotated && !s.scaled && s.vertical_q3 - s.vertical_q1 >= kDriftWarningLines;
    s.depth_inverted = s.horizontal_matches > 0 && s.disparity_median < 0 && s.farthest > 0;
    return s;
}

}  // namespace ocuvex
