#include "core/stereo_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>

#include "core/histogram.h"

namespace ocuvex {

namespace {

// A block's side at the coarsest level; it doubles at each finer one.
constexpr std::int32_t kBlock = 16;
// The full search runs on views halved until their area is at most this:
// 240x270 for a 1920x1080 side-by-side frame's views.
constexpr std::int64_t kCoarseArea = 160000;
constexpr int kMaxCoarsest = 4;
// The local mean taken off every level: a box of (2r + 1)^2 pixels. It makes
// the match blind to a brightness difference between the two cameras.
constexpr std::int32_t kMeanRadius = 4;
constexpr std::int32_t kMeanArea = (2 * kMeanRadius + 1) * (2 * kMeanRadius + 1);
// A block has detail when its pixels differ from their local mean by this
// much on average, in 8-bit levels: above the noise of a compressed dark picture.
constexpr std::int32_t kTextureLevels = 2;
// A minimum is distinct along an axis when every candidate two or more
// pixels away along it costs at least 4/3 of it (once the noise's part is
// taken off both, below).
constexpr std::uint32_t kDistinctNum = 4;
constexpr std::uint32_t kDistinctDen = 3;
// Noise that differs between the views (a camera's sensor, film grain) adds
// to every cost, the true match's too, and to every block's detail: for
// Gaussian noise of deviation s its mean absolute value is sqrt(2/pi) s.
// Costs and detail of independent parts add roughly as the root of their
// sum of squares, so the tests below take the noise's part off that way.
constexpr double kMeanAbsPerSigma = 0.7979;
// Beside the 4/3, the candidates two or more pixels away must cost more
// than the noise alone by half the noise's own cost: a block's sum of
// noise varies by a few percent, and the best of many candidates is its
// lucky draw.
constexpr double kNoiseMargin = 0.5;
// Each view's noise is read off its finest detail: the median of
// |a - b - c + d| over the 2x2 squares (the diagonal difference, which
// shading and straight edges cancel, and which is 1.349 times the
// deviation of noise at its median), on every second pair of lines.
constexpr double kDiagonalMedianPerSigma = 1.349;
constexpr std::int32_t kNoiseBins = 2 * 255 + 1;
// Squares all black or all white (letterbox bars, clipped highlights) show
// no noise whatever the camera's: left out.
constexpr int kClippedLow = 16;
constexpr int kClippedHigh = 235;
// The finer levels look this far around the coarser level's answer.
constexpr std::int32_t kRefineReach = 2;
// Frames need this many textured blocks (and a 20th of the grid), and then
// this many distinct matches along one axis, to count.
constexpr std::int32_t kMinTextured = 6;
constexpr std::int32_t kMinMatches = 6;
// The plane's fit: offsets further than this from it are outliers.
constexpr double kFitReach = 3.0;
constexpr std::int32_t kMinFitBlocks = 12;

// Each level is the finer one halved, by the mean of each 2x2 square (an odd
// last row or column dropped).
void halve(const std::uint8_t* src, std::int32_t pitch, std::uint8_t* dst, std::int32_t w, std::int32_t h) {
    for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* a = src + static_cast<std::ptrdiff_t>(2 * y) * pitch;
        const std::uint8_t* b = a + pitch;
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(y) * w;
        for (std::int32_t x = 0; x < w; ++x) {
            out[x] = static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
        }
    }
}

// The picture less its local mean, plus 128, clamped to 8 bits; edges
// repeated outwards. `sums` holds w + 2r + 1 column sums.
void take_off_local_mean(const std::uint8_t* src, std::int32_t pitch, std::uint8_t* dst, std::int32_t w, std::int32_t h,
                         std::int32_t* sums) {
    const auto line = [src, pitch, h](std::int32_t y) {
        return src + static_cast<std::ptrdiff_t>(std::clamp(y, 0, h - 1)) * pitch;
    };
    std::int32_t* columns = sums + kMeanRadius;
    for (std::int32_t x = 0; x < w; ++x) {
        std::int32_t sum = 0;
        for (std::int32_t k = -kMeanRadius; k <= kMeanRadius; ++k) {
            sum += line(k)[x];
        }
        columns[x] = sum;
    }
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t k = 1; k <= kMeanRadius; ++k) {
            columns[-k] = columns[0];
        }
        // One more on the right: the running box reads it after the last pixel.
        for (std::int32_t k = 1; k <= kMeanRadius + 1; ++k) {
            columns[w - 1 + k] = columns[w - 1];
        }
        const std::uint8_t* in = line(y);
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(y) * w;
        std::int32_t box = 0;
        for (std::int32_t k = -kMeanRadius; k <= kMeanRadius; ++k) {
            box += columns[k];
        }
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int32_t mean = (box + kMeanArea / 2) / kMeanArea;
            out[x] = static_cast<std::uint8_t>(std::clamp(in[x] - mean + 128, 0, 255));
            box += columns[x + kMeanRadius + 1] - columns[x - kMeanRadius];
        }
        const std::uint8_t* leaving = line(y - kMeanRadius);
        const std::uint8_t* entering = line(y + kMeanRadius + 1);
        for (std::int32_t x = 0; x < w; ++x) {
            columns[x] += entering[x] - leaving[x];
        }
    }
}

// The sum of absolute differences of two blocks of `side` x `side` pixels
// (a multiple of 16: the fixed inner width lets the compiler use its
// vector sum-of-differences instructions).
std::uint32_t block_cost(const std::uint8_t* a, const std::uint8_t* b, std::int32_t pitch, std::int32_t side) {
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x0 = 0; x0 < side; x0 += 16) {
            std::uint32_t part = 0;
            for (std::int32_t x = 0; x < 16; ++x) {
                part += static_cast<std::uint32_t>(std::abs(a[x0 + x] - b[x0 + x]));
            }
            sum += part;
        }
        a += pitch;
        b += pitch;
    }
    return sum;
}

// How far a block's pixels lie from their local mean, summed.
std::uint32_t block_texture(const std::uint8_t* a, std::int32_t pitch, std::int32_t side) {
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x = 0; x < side; ++x) {
            sum += static_cast<std::uint32_t>(std::abs(a[x] - 128));
        }
        a += pitch;
    }
    return sum;
}

// Whether `best` stands out from `other`, the cheapest candidate two or
// more pixels away, when noise adds `noise` to each cost: with the noise's
// part taken off both, `other` is more than 4/3 of `best` and more than
// kNoiseMargin of the noise. Without noise, other > 4/3 best.
bool distinct(std::uint32_t best, std::uint32_t other, double noise) {
    if (other == std::numeric_limits<std::uint32_t>::max()) {
        return false;  // no candidate that far (a window cut short by the picture's edge)
    }
    const double b = best, o = other, n2 = noise * noise;
    const double best_part = std::max(b * b - n2, 0.0);
    const double other_part = o * o - n2;
    return other_part * (kDistinctDen * kDistinctDen) > best_part * (kDistinctNum * kDistinctNum) &&
           other_part > kNoiseMargin * kNoiseMargin * n2;
}

// Solves the 3x3 system m * p = v by Cramer's rule; false when singular.
bool solve3(const double (&m)[3][3], const double (&v)[3], double (&p)[3]) {
    const auto det = [](const double(&a)[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (std::abs(d) < 1e-9) {
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        double column[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) {
                column[r][k] = k == c ? v[r] : m[r][k];
            }
        }
        p[c] = det(column) / d;
    }
    return true;
}

}  // namespace

PairAnalyzer::PairAnalyzer(std::int32_t view_w, std::int32_t view_h, const AnalysisOptions& options)
    : view_w_(std::max(view_w, 0)), view_h_(std::max(view_h, 0)) {
    while (coarsest_ < kMaxCoarsest && (std::int64_t{view_w_} >> coarsest_) * (view_h_ >> coarsest_) > kCoarseArea) {
        ++coarsest_;
    }
    levels_.resize(static_cast<std::size_t>(coarsest_) + 1);
    std::int32_t widest = 0;
    for (int l = 0; l <= coarsest_; ++l) {
        Level& level = levels_[static_cast<std::size_t>(l)];
        level.w = view_w_ >> l;
        level.h = view_h_ >> l;
        const auto size = static_cast<std::size_t>(level.w) * static_cast<std::size_t>(level.h);
        for (int v = 0; v < 2; ++v) {
            if (l > 0) {
                level.reduced[v].resize(size);
            }
            level.detail[v].resize(size);
        }
        widest = std::max(widest, level.w);
    }
    column_sums_.resize(static_cast<std::size_t>(widest) + 2 * kMeanRadius + 1);
    noise_counts_.resize(kNoiseBins);

    const std::int32_t reach_y = std::max<std::int32_t>(
        options.vertical_lines, static_cast<std::int32_t>(std::int64_t{view_h_} * options.vertical_percent / 100));
    const auto reach_x = static_cast<std::int32_t>(std::int64_t{view_w_} * options.horizontal_percent / 100);
    const std::int32_t factor = std::int32_t{1} << coarsest_;
    range_x_ = std::max<std::int32_t>(1, (reach_x + factor - 1) / factor);
    range_y_ = std::max<std::int32_t>(1, (reach_y + factor - 1) / factor);
    costs_.resize(static_cast<std::size_t>(2 * range_x_ + 1) * static_cast<std::size_t>(2 * range_y_ + 1));

    const Level& coarse = levels_.back();
    grid_w_ = coarse.w / kBlock;
    grid_h_ = coarse.h / kBlock;
    grid_x0_ = (coarse.w - grid_w_ * kBlock) / 2;
    grid_y0_ = (coarse.h - grid_h_ * kBlock) / 2;
    const auto blocks = static_cast<std::size_t>(grid_w_) * static_cast<std::size_t>(grid_h_);
    matches_.resize(blocks);
    coarse_searches_.resize(blocks);
    full_matches_.resize(blocks);
    typical_costs_.resize(blocks);
    fit_x_.resize(blocks);
    fit_y_.resize(blocks);
    fit_dy_.resize(blocks);
    dx_counts_.resize(slots(max_dx()));
    dy_counts_.resize(slots(max_dy()));
}

std::int32_t PairAnalyzer::max_dx() const {
    return (range_x_ << coarsest_) + kRefineReach * ((std::int32_t{1} << coarsest_) - 1);
}

std::int32_t PairAnalyzer::max_dy() const {
    return (range_y_ << coarsest_) + kRefineReach * ((std::int32_t{1} << coarsest_) - 1);
}

void PairAnalyzer::prepare_levels(const LumaView& left, const LumaView& right) {
    const LumaView views[2] = {left, right};
    for (int v = 0; v < 2; ++v) {
        const std::uint8_t* src = views[v].data;
        std::int32_t pitch = views[v].pitch;
        for (int l = 0; l <= coarsest_; ++l) {
            Level& level = levels_[static_cast<std::size_t>(l)];
            if (l > 0) {
                halve(src, pitch, level.reduced[v].data(), level.w, level.h);
                src = level.reduced[v].data();
                pitch = level.w;
            }
            take_off_local_mean(src, pitch, level.detail[v].data(), level.w, level.h, column_sums_.data());
        }
    }
}

double PairAnalyzer::estimate_noise(const LumaView& view) {
    std::fill(noise_counts_.begin(), noise_counts_.end(), 0);
    std::int64_t n = 0;
    for (std::int32_t y = 0; y + 1 < view.h; y += 4) {
        const std::uint8_t* a = view.data + static_cast<std::ptrdiff_t>(y) * view.pitch;
        const std::uint8_t* b = a + view.pitch;
        for (std::int32_t x = 0; x + 1 < view.w; x += 2) {
            const int p = a[x], q = a[x + 1], r = b[x], t = b[x + 1];
            const bool clipped = p == q && p == r && p == t && (p <= kClippedLow || p >= kClippedHigh);
            if (!clipped) {
                ++noise_counts_[static_cast<std::size_t>(std::abs(p - q - r + t))];
                ++n;
            }
        }
    }
    if (n == 0) {
        return 0.0;
    }
    // The median, placed within its whole number's bin (which spans half a
    // level either way, bin 0 only upwards) by its rank.
    const double middle = static_cast<double>(n) / 2.0;
    std::int64_t below = 0;
    for (std::size_t v = 0; v < noise_counts_.size(); ++v) {
        const std::int32_t count = noise_counts_[v];
        if (count > 0 && static_cast<double>(below + count) >= middle) {
            const double low = v == 0 ? 0.0 : static_cast<double>(v) - 0.5;
            const double width = v == 0 ? 0.5 : 1.0;
            return (low + width * (middle - static_cast<double>(below)) / count) / kDiagonalMedianPerSigma;
        }
        below += count;
    }
    return 0.0;
}

void PairAnalyzer::search_coarse(CoarseSearch& search, std::int32_t bx, std::int32_t by) {
    const Level& level = levels_.back();
    const std::int32_t pitch = level.w;
    const std::uint8_t* a = level.detail[0].data() + static_cast<std::ptrdiff_t>(by) * pitch + bx;
    const std::uint8_t* b = level.detail[1].data();
    const std::int32_t lo_x = std::max(-range_x_, -bx), hi_x = std::min(range_x_, level.w - kBlock - bx);
    const std::int32_t lo_y = std::max(-range_y_, -by), hi_y = std::min(range_y_, level.h - kBlock - by);
    const std::int32_t span = 2 * range_x_ + 1;
    const auto at = [this, span](std::int32_t dx, std::int32_t dy) -> std::uint32_t& {
        return costs_[static_cast<std::size_t>(std::int64_t{dy + range_y_} * span + dx + range_x_)];
    };
    std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
    std::int32_t best_x = 0, best_y = 0;
    for (std::int32_t dy = lo_y; dy <= hi_y; ++dy) {
        for (std::int32_t dx = lo_x; dx <= hi_x; ++dx) {
            const std::uint8_t* c = b + static_cast<std::ptrdiff_t>(by + dy) * pitch + bx + dx;
            const std::uint32_t cost = block_cost(a, c, pitch, kBlock);
            at(dx, dy) = cost;
            if (cost < best) {
                best = cost;
                best_x = dx;
                best_y = dy;
            }
        }
    }
    // The cheapest candidates two or more pixels off the minimum along each axis.
    std::uint32_t other_x = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t other_y = other_x;
    for (std::int32_t dy = lo_y; dy <= hi_y; ++dy) {
        for (std::int32_t dx = lo_x; dx <= hi_x; ++dx) {
            const std::uint32_t cost = at(dx, dy);
            if (std::abs(dx - best_x) >= 2) {
                other_x = std::min(other_x, cost);
            }
            if (std::abs(dy - best_y) >= 2) {
                other_y = std::min(other_y, cost);
            }
        }
    }
    search.searched = true;
    search.best = best;
    search.other_x = other_x;
    search.other_y = other_y;
    search.dx = best_x;
    search.dy = best_y;
    // A minimum on the window's edge may lie beyond it.
    search.inside_x = best_x != lo_x && best_x != hi_x;
    search.inside_y = best_y != lo_y && best_y != hi_y;
}

double PairAnalyzer::typical_cost(std::size_t n) {
    if (n == 0) {
        return 0.0;
    }
    const auto middle = typical_costs_.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(typical_costs_.begin(), middle, typical_costs_.begin() + static_cast<std::ptrdiff_t>(n));
    return *middle;
}

bool PairAnalyzer::refine(BlockMatch& match, int l, FullSizeMatch& full) {
    const Level& level = levels_[static_cast<std::size_t>(l)];
    const std::int32_t side = kBlock << (coarsest_ - l);
    const std::int32_t bx = match.x >> l, by = match.y >> l;
    const std::int32_t pitch = level.w;
    const std::uint8_t* a = level.detail[0].data() + static_cast<std::ptrdiff_t>(by) * pitch + bx;
    const std::uint8_t* b = level.detail[1].data();
    const std::int32_t cx = 2 * match.dx, cy = 2 * match.dy;
    const std::int32_t lo_x = std::max(cx - kRefineReach, -bx), hi_x = std::min(cx + kRefineReach, level.w - side - bx);
    const std::int32_t lo_y = std::max(cy - kRefineReach, -by), hi_y = std::min(cy + kRefineReach, level.h - side - by);
    if (lo_x > hi_x || lo_y > hi_y) {
        match.horizontal = match.vertical = false;
        return false;
    }
    std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
    std::int32_t best_x = cx, best_y = cy;
    for (std::int32_t dy = lo_y; dy <= hi_y; ++dy) {
        for (std::int32_t dx = lo_x; dx <= hi_x; ++dx) {
            const std::uint32_t cost =
                block_cost(a, b + static_cast<std::ptrdiff_t>(by + dy) * pitch + bx + dx, pitch, side);
            if (cost < best) {
                best = cost;
                best_x = dx;
                best_y = dy;
            }
        }
    }
    match.dx = best_x;
    match.dy = best_y;
    match.horizontal = match.horizontal && best_x != lo_x && best_x != hi_x;
    match.vertical = match.vertical && best_y != lo_y && best_y != hi_y;
    if (l == 0 && (match.horizontal || match.vertical)) {
        // Judged once every block has its full-size match (look_alike()).
        full.cost = best;
        full.detail = block_texture(a, pitch, side) +
                      block_texture(b + static_cast<std::ptrdiff_t>(by + best_y) * pitch + bx + best_x, pitch, side);
        full.pending = true;
    }
    return match.horizontal || match.vertical;
}

const FrameMeasurement& PairAnalyzer::measure(const LumaView& left, const LumaView& right) {
    result_ = FrameMeasurement{};
    const auto fits = [this](const LumaView& v) {
        return v.data != nullptr && v.w == view_w_ && v.h == view_h_ && std::abs(std::int64_t{v.pitch}) >= v.w;
    };
    if (!fits(left) || !fits(right) || matches_.empty()) {
        return result_;
    }
    prepare_levels(left, right);
    const double noise[2] = {estimate_noise(left), estimate_noise(right)};
    result_.noise = std::sqrt((noise[0] * noise[0] + noise[1] * noise[1]) / 2.0);
    result_.blocks = static_cast<std::int32_t>(matches_.size());
    const Level& coarse = levels_.back();
    const double coarse_block = kBlock * kBlock;

    // The full search, for every block with detail enough to match without noise.
    std::size_t searched = 0;
    for (std::int32_t gy = 0; gy < grid_h_; ++gy) {
        for (std::int32_t gx = 0; gx < grid_w_; ++gx) {
            const auto index = static_cast<std::size_t>(std::int64_t{gy} * grid_w_ + gx);
            const std::int32_t bx = grid_x0_ + gx * kBlock, by = grid_y0_ + gy * kBlock;
            matches_[index] = BlockMatch{bx << coarsest_, by << coarsest_, 0, 0, false, false};
            full_matches_[index] = FullSizeMatch{};
            CoarseSearch& search = coarse_searches_[index];
            search = CoarseSearch{};
            const std::uint8_t* block = coarse.detail[0].data() + static_cast<std::ptrdiff_t>(by) * coarse.w + bx;
            search.texture = block_texture(block, coarse.w, kBlock);
            if (search.texture < kTextureLevels * kBlock * kBlock) {
                continue;
            }
            search_coarse(search, bx, by);
            typical_costs_[searched++] = search.best;
        }
    }

    // What noise that differs between the views costs a true match at the
    // coarsest level: as the views' finest detail shows it (each halving
    // averages four pixels, halving the noise), unless the frame's matches
    // typically cost less (fine detail the views share, which reads as
    // noise there but matches).
    const double shrink = 1.0 / (1 << coarsest_);
    const double coarse_noise = std::min(kMeanAbsPerSigma * std::sqrt(2.0) * result_.noise * shrink * coarse_block,
                                         searched > 0 ? typical_cost(searched) : 0.0);
    // A block has detail when it stands out from its own noise by kTextureLevels.
    const double enough_texture = kTextureLevels * coarse_block + coarse_noise / std::sqrt(2.0);
    for (std::size_t index = 0; index < matches_.size(); ++index) {
        const CoarseSearch& search = coarse_searches_[index];
        if (!search.searched || static_cast<double>(search.texture) < enough_texture) {
            continue;
        }
        ++result_.textured;
        BlockMatch& match = matches_[index];
        match.dx = search.dx;
        match.dy = search.dy;
        match.horizontal = search.inside_x && distinct(search.best, search.other_x, coarse_noise);
        match.vertical = search.inside_y && distinct(search.best, search.other_y, coarse_noise);
        for (int l = coarsest_ - 1; l >= 0 && (match.horizontal || match.vertical); --l) {
            refine(match, l, full_matches_[index]);
        }
    }
    look_alike();
    result_.matches = matches_;
    gather_statistics();
    return result_;
}

void PairAnalyzer::look_alike() {
    // What the frame's full-size matches typically cost: where noise that
    // differs between the views dominates, what it makes unavoidable. (Read
    // off the matches, not the views' finest detail: a codec smooths
    // grain's finest detail and leaves the rest.)
    std::size_t n = 0;
    for (const FullSizeMatch& full : full_matches_) {
        if (full.pending) {
            typical_costs_[n++] = full.cost;
        }
    }
    const double noise = typical_cost(n);
    for (std::size_t i = 0; i < matches_.size(); ++i) {
        const FullSizeMatch& full = full_matches_[i];
        if (!full.pending) {
            continue;
        }
        // At full size the two blocks must look alike: a match that costs
        // more than the two blocks' mean detail is an occlusion or a
        // different object. (Against the mean, a camera that sees less
        // contrast than the other still matches.) Noise adds to the cost
        // what it adds to both blocks' detail together: cost^2 <= mean
        // detail^2 + noise cost^2 / 2, which is cost <= mean detail
        // without noise.
        const bool alike = 4.0 * full.cost * full.cost <= full.detail * full.detail + 2.0 * noise * noise;
        matches_[i].horizontal = matches_[i].horizontal && alike;
        matches_[i].vertical = matches_[i].vertical && alike;
    }
}

void PairAnalyzer::gather_statistics() {
    FrameMeasurement& r = result_;
    std::fill(dx_counts_.begin(), dx_counts_.end(), 0);
    std::fill(dy_counts_.begin(), dy_counts_.end(), 0);
    const std::int32_t side = kBlock << coarsest_;
    const double cx = view_w_ / 2.0, cy = view_h_ / 2.0;
    std::int32_t n = 0;
    for (const BlockMatch& m : matches_) {
        if (m.horizontal) {
            ++dx_counts_[slot(m.dx, max_dx())];
            ++r.horizontal_matches;
        }
        if (m.vertical) {
            ++dy_counts_[slot(m.dy, max_dy())];
            fit_x_[static_cast<std::size_t>(n)] = m.x + side / 2.0 - cx;
            fit_y_[static_cast<std::size_t>(n)] = m.y + side / 2.0 - cy;
            fit_dy_[static_cast<std::size_t>(n)] = m.dy;
            ++n;
        }
    }
    r.vertical_matches = n;
    if (r.textured < std::max(kMinTextured, r.blocks / 20)) {
        r.verdict = FrameVerdict::flat;
        return;
    }
    if (r.vertical_matches < kMinMatches && r.horizontal_matches < kMinMatches) {
        r.verdict = FrameVerdict::unmatched;
        return;
    }
    r.verdict = FrameVerdict::measured;
    if (r.horizontal_matches > 0) {
        r.nearest = percentile(dx_counts_, max_dx(), r.horizontal_matches, kDisparityTail);
        r.farthest = percentile(dx_counts_, max_dx(), r.horizontal_matches, 1.0 - kDisparityTail);
    }
    if (n == 0) {
        return;
    }
    r.vertical_median = percentile(dy_counts_, max_dy(), n, 0.5);

    // The plane through the offsets, refitted to those near it: the first
    // fit takes every match, each next one those near the plane before, so
    // that a turned view's offsets, which spread far from their median at the
    // picture's sides, are kept while mismatches are dropped.
    double p[3] = {static_cast<double>(r.vertical_median), 0.0, 0.0};
    bool fitted = false;
    for (const double reach :
         {static_cast<double>(2 * max_dy() + 1), 4 * kFitReach, 2 * kFitReach, kFitReach, kFitReach, kFitReach}) {
        double m[3][3] = {}, v[3] = {};
        std::int32_t used = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            const double x = fit_x_[static_cast<std::size_t>(i)], y = fit_y_[static_cast<std::size_t>(i)];
            const double dy = fit_dy_[static_cast<std::size_t>(i)];
            if (std::abs(dy - (p[0] + p[1] * x + p[2] * y)) > reach) {
                continue;
            }
            const double row[3] = {1.0, x, y};
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b) {
                    m[a][b] += row[a] * row[b];
                }
                v[a] += row[a] * dy;
            }
            ++used;
        }
        // The matches must spread across the picture both ways: an eighth
        // of its size as their standard deviation.
        const double spread_x = used > 0 ? m[1][1] / used - (m[0][1] / used) * (m[0][1] / used) : 0.0;
        const double spread_y = used > 0 ? m[2][2] / used - (m[0][2] / used) * (m[0][2] / used) : 0.0;
        fitted = used >= kMinFitBlocks && spread_x >= cx * cx / 16.0 && spread_y >= cy * cy / 16.0 && solve3(m, v, p);
        if (!fitted) {
            break;
        }
    }
    r.plane_fitted = fitted;
    if (fitted) {
        r.centre_offset = p[0];
        r.turn = p[1];
        r.scale = p[2];
    }
}

FrameSize view_size(ViewLayout layout, std::int32_t w, std::int32_t h) {
    return layout == ViewLayout::SideBySide ? FrameSize{w / 2, h} : FrameSize{w, h / 2};
}

std::array<LumaView, 2> view_places(const LumaView& picture, ViewLayout layout) {
    const FrameSize view = view_size(layout, picture.w, picture.h);
    const std::int32_t pitch = picture.pitch;
    const auto at = [&picture, &view](std::int32_t x, std::int32_t y) {
        return view.w > 0 && view.h > 0 ? picture.data + (static_cast<std::ptrdiff_t>(y) * picture.pitch) + x
                                        : picture.data;
    };
    switch (layout) {
    case ViewLayout::AboveBelow:
        return {LumaView{at(0, 0), view.w, view.h, pitch}, LumaView{at(0, picture.h - view.h), view.w, view.h, pitch}};
    case ViewLayout::Rows:
        return {LumaView{at(0, picture.h % 2 != 0 ? 2 : 0), view.w, view.h, 2 * pitch},
                LumaView{at(0, 1), view.w, view.h, 2 * pitch}};
    default:
        return {LumaView{at(0, 0), view.w, view.h, pitch}, LumaView{at(view.w, 0), view.w, view.h, pitch}};
    }
}

}  // namespace ocuvex
