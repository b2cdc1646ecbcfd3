// Measuring how one view of a stereo pair lies against the other: block
// matching of the two views' luma, coarse to fine, giving each block's
// vertical offset and horizontal disparity in whole pixels, and for the
// frame their robust statistics, a flat-frame verdict and a plane fitted to
// the vertical offsets that shows a turned or scaled view. See
// docs/analyze.md for the method and its limits.
//
// How a caller analyses a file (the `analyze` command does):
//   1. Once: PairAnalyzer analyzer(view_w, view_h) and an AnalysisAccumulator
//      sized for the frames it will sample (analysis_summary.h).
//   2. Per sampled frame: hand both views' 8-bit luma to measure(), at the
//      size the analyzer was made for, with the left eye as `left`; add the
//      result to the accumulator. Nothing is allocated here.
//   3. Once: summarize(), then propose_settings() (analysis_proposal.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/display_shape.h"

namespace ocuvex {

// One view's 8-bit luma (or any 8-bit grey), lines top-down: picture line y
// starts at data + y * pitch. A negative pitch reads a bottom-up buffer
// from its top line. Full range or limited range alike.
struct LumaView {
    const std::uint8_t* data = nullptr;
    std::int32_t w = 0;
    std::int32_t h = 0;
    std::int32_t pitch = 0;
};

// The size of each view of a w x h picture that holds two as `layout`
// (SideBySide, AboveBelow or Rows).
FrameSize view_size(ViewLayout layout, std::int32_t w, std::int32_t h);

// The two places of a picture's luma that hold the views, first and second,
// as the conversions pair them: an odd last column, or an above/below
// picture's odd middle line, belongs to neither; views on alternate lines
// pair each odd line with the even line above it (below it when the height
// is odd, whose top line belongs to neither view).
std::array<LumaView, 2> view_places(const LumaView& picture, ViewLayout layout);

// How far the search looks, at the size the analyzer was made for.
struct AnalysisOptions {
    // Vertical offsets either way: the larger of a number of lines and a
    // share of the view height.
    std::int32_t vertical_lines = 24;
    std::int32_t vertical_percent = 3;
    // Horizontal disparities either way, as a share of the view width.
    std::int32_t horizontal_percent = 10;
};

// Where the right view shows one block of the left view. Offsets are the
// right view's position minus the left view's, in pixels of the views
// handed over: dx > 0 behind the screen, dy > 0 lower in the right view.
struct BlockMatch {
    std::int32_t x = 0;  // the block's top-left corner in the left view
    std::int32_t y = 0;
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    // Whether the match is distinct along each axis: a horizontal edge
    // tells dy but not dx, a vertical edge or a repeated pattern dx but not dy.
    bool horizontal = false;
    bool vertical = false;
};

enum class FrameVerdict : std::uint8_t {
    measured,   // enough blocks matched to count
    flat,       // too little detail to match (black, a fade, a plain wall)
    unmatched,  // detail, but too few blocks found in the other view
    unusable,   // views of another size than the analyzer's, or without data
};

// The share of disparities set aside at each end for the nearest and the
// farthest: a few mismatched blocks or a speck of near content do not count.
inline constexpr double kDisparityTail = 0.02;

// A frame's measurement. The statistics hold only for a measured frame.
struct FrameMeasurement {
    FrameVerdict verdict = FrameVerdict::unusable;
    std::int32_t blocks = 0;    // in the grid
    std::int32_t textured = 0;  // with enough detail to match
    std::int32_t vertical_matches = 0;
    std::int32_t horizontal_matches = 0;
    // The noise of the views (sensor noise, film grain), the root mean
    // square of the two views' standard deviations in 8-bit levels: what
    // the match tests allow for. Set for every frame of the right size.
    double noise = 0;
    std::int32_t vertical_median = 0;
    // The nearest and farthest disparity, kDisparityTail set aside at each end.
    std::int32_t nearest = 0;
    std::int32_t farthest = 0;
    // The plane through the vertical offsets, about the view's centre:
    // dy = centre_offset + turn * (x - cx) + scale * (y - cy). A right view
    // turned clockwise by a small angle a has turn ~ a (radians), one
    // enlarged by a factor 1 + s has scale ~ s. Fitted only when the matches
    // spread over the picture.
    bool plane_fitted = false;
    double centre_offset = 0;
    double turn = 0;
    double scale = 0;
    // Every block of the grid; valid until the next measure().
    std::span<const BlockMatch> matches;
};

// The working memory of the measurement, sized once for the views' size.
class PairAnalyzer {
  public:
    PairAnalyzer(std::int32_t view_w, std::int32_t view_h, const AnalysisOptions& options = {});

    // Measures one frame. Allocates nothing; the result lives in the
    // analyzer until the next call.
    const FrameMeasurement& measure(const LumaView& left, const LumaView& right);

    std::int32_t view_w() const { return view_w_; }
    std::int32_t view_h() const { return view_h_; }
    // The largest offsets a match can report, either way.
    std::int32_t max_dx() const;
    std::int32_t max_dy() const;

  private:
    struct Level {
        std::int32_t w = 0, h = 0;
        std::vector<std::uint8_t> reduced[2];  // the luma at this size; level 0 reads the caller's
        std::vector<std::uint8_t> detail[2];   // the luma less its local mean, around 128
    };

    // A block's full search at the coarsest level, before it is judged.
    struct CoarseSearch {
        bool searched = false;
        std::uint32_t texture = 0;  // the left block's detail, summed
        std::uint32_t best = 0;     // the minimum's cost
        std::uint32_t other_x = 0;  // the cheapest two or more pixels off it across
        std::uint32_t other_y = 0;  // ... and down
        std::int32_t dx = 0, dy = 0;
        bool inside_x = false;  // the minimum is not on the window's edge
        bool inside_y = false;
    };
    // A block's match at full size, before look_alike() judges it.
    struct FullSizeMatch {
        double cost = 0;    // the sum of absolute differences
        double detail = 0;  // both blocks' detail, summed
        bool pending = false;
    };

    void prepare_levels(const LumaView& left, const LumaView& right);
    double estimate_noise(const LumaView& view);
    void search_coarse(CoarseSearch& search, std::int32_t bx, std::int32_t by);
    // The median of the first n of typical_costs_ (reordered), 0 for none.
    double typical_cost(std::size_t n);
    bool refine(BlockMatch& match, int level, FullSizeMatch& full);
    void look_alike();
    void gather_statistics();

    std::int32_t view_w_ = 0;
    std::int32_t view_h_ = 0;
    int coarsest_ = 0;          // the level of the full search: the views halved this often
    std::int32_t range_x_ = 0;  // the full search's reach at the coarsest level
    std::int32_t range_y_ = 0;
    std::int32_t grid_w_ = 0, grid_h_ = 0;
    std::int32_t grid_x0_ = 0, grid_y0_ = 0;
    std::vector<Level> levels_;
    std::vector<std::int32_t> column_sums_;
    std::vector<std::int32_t> noise_counts_;  // the noise estimate's histogram
    std::vector<std::uint32_t> costs_;        // the full search's cost surface of one block
    std::vector<BlockMatch> matches_;
    std::vector<CoarseSearch> coarse_searches_;
    std::vector<FullSizeMatch> full_matches_;
    std::vector<double> typical_costs_;
    std::vector<std::int32_t> dx_counts_, dy_counts_;
    std::vector<double> fit_x_, fit_y_, fit_dy_;
    FrameMeasurement result_;
};

}  // namespace ocuvex
