#include "core/copy_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "tests/copy_reference.h"
#include "tests/test_frames.h"

namespace ocuvex {
namespace {

using test::PitchKind;
using test::PixelOrigin;
using test::TestFrame;
using test::TestPlane;

constexpr PitchKind kPitchKinds[] = {PitchKind::packed, PitchKind::padded, PitchKind::negative};

// A copy mode's settings, corrected, and its geometry for a W x H source.
struct Job {
    FilterSettings settings;
    FrameSize src;
    FrameSize dst;
    CopyPlan plan;
};

Job random_job(std::mt19937& rng, std::int32_t max_w, std::int32_t max_h) {
    std::int32_t mode = MODE_ANAGLYPH;
    while (mode == MODE_ANAGLYPH) {
        mode = kFirstMode + static_cast<std::int32_t>(rng() % kModeCount);
    }
    Job job{test::random_copy_settings(rng, mode), {}, {}, {}};
    job.src = {static_cast<std::int32_t>(rng() % (max_w + 1)), static_cast<std::int32_t>(rng() % (max_h + 1))};
    const OutputGeometry g = compute_output_geometry(job.settings, job.src.w, job.src.h);
    job.dst = {g.w, g.h};
    job.plan = plan_copies(job.settings, job.src, job.dst);
    return job;
}

// The element row of frame memory row r, rows bottom-up: the grid starts at
// the picture's top line, picture line h - 1 - r.
std::int32_t element_row(std::int32_t r, std::int32_t h, std::int32_t shift_y) {
    const std::int32_t rows = plane_size({1, h}, 0, shift_y).h;
    return rows - 1 - ((h - 1 - r) >> shift_y);
}

// The frame pixels that one element of a plane covers.
std::vector<std::pair<std::int32_t, std::int32_t>> pixels_of(std::int32_t ex, std::int32_t erow, FrameSize frame,
                                                             std::int32_t shift_x, std::int32_t shift_y) {
    std::vector<std::pair<std::int32_t, std::int32_t>> pixels;
    for (std::int32_t r = 0; r < frame.h; ++r) {
        for (std::int32_t x = ex << shift_x; x < std::min(frame.w, (ex + 1) << shift_x); ++x) {
            if (element_row(r, frame.h, shift_y) == erow) {
                pixels.emplace_back(x, r);
            }
        }
    }
    return pixels;
}

bool any_pixel_outside(const Job& job) {
    for (std::int32_t r = 0; r < job.dst.h; ++r) {
        for (std::int32_t x = 0; x < job.dst.w; ++x) {
            if (test::pixel_origin(job.settings, job.src.w, job.src.h, job.dst.w, x, r).outside(job.src.w, job.src.h)) {
                return true;
            }
        }
    }
    return false;
}

// The definition of a plan on the grid, from the pixel definitions alone:
// every destination element covers frame pixels that are all unwritten, all
// fill, or all moved by one translation onto exactly the pixels of one source
// element. Views on alternate rows take the element rows of their parity
// instead, where the height has whole element rows, an even count of them.
bool moves_whole_elements(const Job& job, std::int32_t shift_x, std::int32_t shift_y) {
    if (any_pixel_outside(job)) {
        return true;  // nothing is written
    }
    if (job.settings.mode == MODE_DEINTERLACE && shift_y > 0) {
        const bool empty = job.dst.w == 0 || job.dst.h == 0;
        return empty || (job.src.h % (2 << shift_y) == 0 && moves_whole_elements(job, shift_x, 0));
    }
    const FrameSize plane = plane_size(job.dst, shift_x, shift_y);
    for (std::int32_t erow = 0; erow < plane.h; ++erow) {
        for (std::int32_t ex = 0; ex < plane.w; ++ex) {
            const auto block = pixels_of(ex, erow, job.dst, shift_x, shift_y);
            const auto origin = [&](std::size_t i) {
                return test::pixel_origin(job.settings, job.src.w, job.src.h, job.dst.w, block[i].first,
                                          block[i].second);
            };
            const PixelOrigin first = origin(0);
            const std::int64_t dx = first.x - block[0].first, dr = first.row - block[0].second;
            const auto source_block = pixels_of(static_cast<std::int32_t>(first.x >> shift_x),
                                                element_row(static_cast<std::int32_t>(first.row), job.src.h, shift_y),
                                                job.src, shift_x, shift_y);
            if (first.kind == PixelOrigin::Kind::source && source_block.size() != block.size()) {
                return false;
            }
            for (std::size_t i = 0; i < block.size(); ++i) {
                const PixelOrigin o = origin(i);
                if (o.kind != first.kind ||
                    (o.kind == PixelOrigin::Kind::source &&
                     (o.x - block[i].first != dx || o.row - block[i].second != dr ||
                      (o.x >> shift_x) != (first.x >> shift_x) ||
                      element_row(static_cast<std::int32_t>(o.row), job.src.h, shift_y) !=
                          element_row(static_cast<std::int32_t>(first.row), job.src.h, shift_y)))) {
                    return false;
                }
            }
        }
    }
    return true;
}

TEST(CopyPlan, FourByteElementsWithoutSubsamplingGiveConvertFrameBitForBit) {
    std::mt19937 rng(11);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        const Job job = random_job(rng, 40, 9);
        TestFrame src(job.src.w, job.src.h, kPitchKinds[rng() % 3]);
        src.fill_random(rng);
        const PitchKind dst_kind = kPitchKinds[rng() % 3];
        TestFrame by_frame(job.dst.w, job.dst.h, dst_kind);
        TestFrame by_plane(job.dst.w, job.dst.h, dst_kind);
        convert_frame(job.settings, src.view(), by_frame.view());
        ASSERT_TRUE(run_plane_plan(job.plan, PlaneFormat{}, &job.settings.fill_color, src.plane(), by_plane.plane()));
        ASSERT_TRUE(by_plane.outside_untouched());
        for (std::int32_t r = 0; r < job.dst.h; ++r) {
            for (std::int32_t x = 0; x < job.dst.w; ++x) {
                ASSERT_EQ(by_plane.at(x, r), by_frame.at(x, r))
                    << "mode " << job.settings.mode << " at " << x << "," << r;
            }
        }
    }
}

// The source element row that destination element row `erow` takes when its
// first frame pixel comes from source row `origin_row`: the one under that
// pixel; for views on alternate rows, counting lines from the top, element
// line k of the view whose line j is source line 2j + p takes source element
// line 2k + p, as FFmpeg's stereo3d gives each field its chroma.
std::int32_t source_element_row(const Job& job, std::int32_t shift_y, std::int32_t erow, std::int64_t origin_row) {
    if (job.settings.mode != MODE_DEINTERLACE || shift_y == 0) {
        return element_row(static_cast<std::int32_t>(origin_row), job.src.h, shift_y);
    }
    const std::int32_t k = plane_size(job.dst, 0, shift_y).h - 1 - erow;
    const auto parity = static_cast<std::int32_t>((job.src.h - 1 - origin_row) & 1);
    return plane_size(job.src, 0, shift_y).h - 1 - (2 * k + parity);
}

// Every element size a picture has, every subsampling FFmpeg knows (4:1:0
// included), against a per-element remap: each destination element takes the
// source element under the source pixel that its first frame pixel comes from
// (for views on alternate rows, see source_element_row).
TEST(CopyPlan, EveryElementSizeAndSubsamplingMatchesAPerElementRemap) {
    std::mt19937 rng(12);
    const std::int32_t sizes[] = {1, 2, 3, 4, 6, 8, 12, 16};
    int runs = 0;
    for (int iteration = 0; iteration < 6000; ++iteration) {
        const Job job = random_job(rng, 14, 10);
        const PlaneFormat format{sizes[rng() % std::size(sizes)], static_cast<std::int32_t>(rng() % 3),
                                 static_cast<std::int32_t>(rng() % 3)};
        if (!fits_plane_grid(job.plan, format.shift_x, format.shift_y)) {
            continue;
        }
        const FrameSize src_size = plane_size(job.src, format.shift_x, format.shift_y);
        const FrameSize dst_size = plane_size(job.dst, format.shift_x, format.shift_y);
        TestPlane src(src_size.w, src_size.h, format.element_bytes, kPitchKinds[rng() % 3]);
        TestPlane dst(dst_size.w, dst_size.h, format.element_bytes, kPitchKinds[rng() % 3]);
        src.fill_random_bytes(rng);
        dst.fill_random_bytes(rng);
        const std::vector<std::uint8_t> before = dst.elements();
        std::uint8_t fill[kMaxElementBytes];
        for (auto& b : fill) {
            b = static_cast<std::uint8_t>(rng());
        }
        ASSERT_TRUE(run_plane_plan(job.plan, format, fill, src.plane(), dst.plane()));
        ++runs;
        ASSERT_TRUE(dst.outside_untouched());
        const bool nothing = any_pixel_outside(job);
        for (std::int32_t erow = 0; erow < dst_size.h; ++erow) {
            for (std::int32_t ex = 0; ex < dst_size.w; ++ex) {
                const auto [x, r] = pixels_of(ex, erow, job.dst, format.shift_x, format.shift_y)[0];
                const PixelOrigin o = test::pixel_origin(job.settings, job.src.w, job.src.h, job.dst.w, x, r);
                const std::uint8_t* want =
                    &before[(static_cast<std::size_t>(erow) * dst_size.w + ex) * format.element_bytes];
                if (!nothing && o.kind == PixelOrigin::Kind::fill) {
                    want = fill;
                } else if (!nothing && o.kind == PixelOrigin::Kind::source) {
                    want = src.element(static_cast<std::int32_t>(o.x >> format.shift_x),
                                       source_element_row(job, format.shift_y, erow, o.row));
                }
                ASSERT_EQ(std::memcmp(dst.element(ex, erow), want, format.element_bytes), 0)
                    << "mode " << job.settings.mode << " swap " << int{job.settings.swap_lr} << " src " << job.src.w
                    << "x" << job.src.h << " element " << format.element_bytes << " shifts " << format.shift_x << ","
                    << format.shift_y << " at " << ex << "," << erow;
            }
        }
    }
    EXPECT_GT(runs, 2000);
}

TEST(CopyPlan, TheGridCheckPassesExactlyThePlansThatMoveWholeElements) {
    std::mt19937 rng(13);
    for (int iteration = 0; iteration < 20000; ++iteration) {
        const Job job = random_job(rng, 12, 12);
        const auto shift_x = static_cast<std::int32_t>(rng() % 3);
        const auto shift_y = static_cast<std::int32_t>(rng() % 3);
        ASSERT_EQ(fits_plane_grid(job.plan, shift_x, shift_y), moves_whole_elements(job, shift_x, shift_y))
            << "mode " << job.settings.mode << " swap " << int{job.settings.swap_lr} << " src " << job.src.w << "x"
            << job.src.h << " dst " << job.dst.w << "x" << job.dst.h << " shifts " << shift_x << "," << shift_y;
    }
}

TEST(CopyPlan, GridCheckEdgeCases) {
    struct Case {
        const char* what;
        std::int32_t mode;
        std::int32_t w, h;
        std::int32_t shift_x, shift_y;
        bool fits;
        void (*tweak)(FilterSettings&);
    };
    const auto none = [](FilterSettings&) {};
    const auto swap = [](FilterSettings& s) { s.swap_lr = 1; };
    const Case cases[] = {
        {"whole odd frame, 4:2:0", MODE_NOP, 5, 5, 1, 1, true, none},
        {"swap, odd half width", MODE_NOP, 6, 4, 1, 1, false, swap},
        {"swap, odd last column unwritten", MODE_NOP, 9, 4, 1, 1, true, swap},
        {"deinterlace, 4:2:0, a height of whole chroma row pairs", MODE_DEINTERLACE, 8, 8, 1, 1, true, none},
        {"deinterlace, 4:2:0, an odd count of chroma rows", MODE_DEINTERLACE, 8, 6, 1, 1, false, none},
        {"deinterlace, 4:2:0, odd height", MODE_DEINTERLACE, 8, 9, 1, 1, false, none},
        {"deinterlace, 4:4:0", MODE_DEINTERLACE, 8, 8, 0, 1, true, none},
        {"deinterlace, 4:1:0", MODE_DEINTERLACE, 16, 16, 2, 2, true, swap},
        {"deinterlace, 4:1:0, chroma rows of 4 an odd count", MODE_DEINTERLACE, 16, 12, 2, 2, false, none},
        {"deinterlace, 4:2:2", MODE_DEINTERLACE, 8, 7, 1, 0, true, none},
        {"deinterlace, 4:2:2, odd width", MODE_DEINTERLACE, 7, 8, 1, 0, false, none},
        {"above/below, views of even height", MODE_AB_TO_SBS, 6, 8, 1, 1, true, none},
        {"above/below, views of odd height", MODE_AB_TO_SBS, 6, 6, 1, 1, false, none},
        {"above/below, skipped middle row", MODE_AB_TO_SBS, 6, 9, 1, 1, false, none},
        {"above/below, skipped middle row, 4:2:2", MODE_AB_TO_SBS, 6, 9, 1, 0, true, none},
        {"side by side, odd height", MODE_SBS_TO_AB, 8, 5, 1, 1, false, none},
        {"side by side, 4:1:0", MODE_SBS_TO_AB, 16, 4, 2, 2, true, none},
        {"crop window on the grid", MODE_CROPPING, 16, 12, 1, 1, true,
         [](FilterSettings& s) { s.crop_x = s.crop_y = 2; }},
        {"crop at an odd column", MODE_CROPPING, 16, 12, 1, 1, false, [](FilterSettings& s) { s.crop_x = 1; }},
        {"crop at an odd line", MODE_CROPPING, 16, 12, 1, 1, false, [](FilterSettings& s) { s.crop_y = 1; }},
        {"crop at an odd line, 4:2:2", MODE_CROPPING, 16, 12, 1, 0, true, [](FilterSettings& s) { s.crop_y = 1; }},
        {"crop of odd height", MODE_CROPPING, 16, 12, 1, 1, false, [](FilterSettings& s) { s.crop_height = 3; }},
        {"crop from an odd-height picture", MODE_CROPPING, 16, 9, 1, 1, true, [](FilterSettings& s) { s.crop_y = 2; }},
        {"alignment by even steps", MODE_ALIGNMENT, 16, 8, 1, 1, true,
         [](FilterSettings& s) { s.align_horz = s.align_vert = 2; }},
        {"alignment by an odd column", MODE_ALIGNMENT, 16, 8, 1, 1, false, [](FilterSettings& s) { s.align_horz = 1; }},
        {"alignment by an odd row", MODE_ALIGNMENT, 16, 8, 1, 1, false, [](FilterSettings& s) { s.align_vert = -1; }},
        {"alignment of an odd-height picture", MODE_ALIGNMENT, 16, 9, 1, 1, false,
         [](FilterSettings& s) { s.align_vert = 2; }},
        {"alignment by nothing, odd half width", MODE_ALIGNMENT, 14, 8, 1, 1, true, none},
        {"centering by a multiple of 8", MODE_CENTERING, 16, 4, 1, 1, true,
         [](FilterSettings& s) { s.center_width = 8; }},
        {"centering with odd margins", MODE_CENTERING, 16, 4, 1, 1, false,
         [](FilterSettings& s) { s.center_width = 4; }},
        {"centering by nothing, odd width", MODE_CENTERING, 15, 4, 1, 1, true, none},
        {"the anaglyph plans nothing", MODE_ANAGLYPH, 7, 7, 1, 1, true, none},
        {"a shift out of range", MODE_NOP, 8, 8, kMaxSubsamplingShift + 1, 0, false, none},
        {"a negative shift", MODE_NOP, 8, 8, 0, -1, false, none},
    };
    for (const Case& c : cases) {
        FilterSettings s = test::settings_for(c.mode);
        s.crop_width = 4;
        s.crop_height = 4;
        c.tweak(s);
        const OutputGeometry g = compute_output_geometry(s, c.w, c.h);
        EXPECT_EQ(fits_plane_grid(plan_copies(s, {c.w, c.h}, {g.w, g.h}), c.shift_x, c.shift_y), c.fits) << c.what;
    }
    // Every other row of one view alone takes the chroma rows of its parity;
    // from a later row than the second, no parity is its own.
    CopyPlan even_rows{.src = {4, 8}, .dst = {4, 4}, .rows = 4, .copy_count = 1};
    even_rows.copies[0] = {.src_row_step = 2, .width = 4};
    EXPECT_TRUE(fits_plane_grid(even_rows, 0, 1));
    EXPECT_TRUE(fits_plane_grid(even_rows, 1, 0));
    CopyPlan later_rows{.src = {4, 12}, .dst = {4, 4}, .rows = 4, .copy_count = 1};
    later_rows.copies[0] = {.src_row = 2, .src_row_step = 2, .width = 4};
    EXPECT_FALSE(fits_plane_grid(later_rows, 0, 1));
    EXPECT_TRUE(fits_plane_grid(later_rows, 0, 0));
}

// A 4:2:0 picture 8 x 5 stored top-down: chroma line k covers picture lines
// 2k and 2k + 1, so the crop of lines 2 and 3 takes chroma line 1, whatever
// the bottom-up memory rows say.
TEST(CopyPlan, AnOddHeightPicturesChromaGridStartsAtItsTopLine) {
    std::uint8_t chroma[3][4];
    for (int line = 0; line < 3; ++line) {
        for (int x = 0; x < 4; ++x) {
            chroma[line][x] = static_cast<std::uint8_t>(10 * line + x);
        }
    }
    FilterSettings s = test::settings_for(MODE_CROPPING);
    s.crop_x = 0;
    s.crop_y = 2;
    s.crop_width = 2;
    s.crop_height = 2;
    const OutputGeometry g = compute_output_geometry(s, 8, 5);
    const CopyPlan plan = plan_copies(s, {8, 5}, {g.w, g.h});
    ASSERT_TRUE(fits_plane_grid(plan, 1, 1));
    std::uint8_t out[2] = {};
    ASSERT_TRUE(run_plane_plan(plan, {1, 1, 1}, nullptr, {&chroma[2][0], -4}, {out, 2}));
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[1], 12);
}

TEST(CopyPlan, TheRunnerRefusesWhatItCannotDoAndThenWritesNothing) {
    FilterSettings s = test::settings_for(MODE_CENTERING);
    s.center_width = 8;
    const CopyPlan plan = plan_copies(s, {8, 2}, {16, 2});
    std::uint8_t src[2 * 8 * 2] = {};
    std::uint8_t dst[2 * 16 * 2];
    std::memset(dst, 0x5A, sizeof dst);
    const std::uint16_t fill = 0x1234;
    const PlaneView in{src, 16};
    const PlaneView out{dst, 32};
    EXPECT_FALSE(run_plane_plan(plan, {0, 0, 0}, &fill, in, out)) << "no bytes per element";
    EXPECT_FALSE(run_plane_plan(plan, {kMaxElementBytes + 1, 0, 0}, &fill, in, out)) << "too wide";
    EXPECT_FALSE(run_plane_plan(plan, {2, 3, 0}, &fill, in, out)) << "off the grid";
    EXPECT_FALSE(run_plane_plan(plan, {2, 0, 0}, &fill, {nullptr, 16}, out)) << "no source";
    EXPECT_FALSE(run_plane_plan(plan, {2, 0, 0}, &fill, in, {dst, -30})) << "rows overlap";
    EXPECT_FALSE(run_plane_plan(plan, {2, 0, 0}, nullptr, in, out)) << "margins without fill";
    for (const std::uint8_t b : dst) {
        ASSERT_EQ(b, 0x5A);
    }
    EXPECT_TRUE(run_plane_plan(plan, {2, 0, 0}, &fill, in, out));
    // One source row gives no deinterlaced row: nothing to address, even without memory.
    const CopyPlan no_rows = plan_copies(test::settings_for(MODE_DEINTERLACE), {8, 1}, {16, 0});
    EXPECT_TRUE(run_plane_plan(no_rows, {2, 0, 0}, nullptr, in, {nullptr, 0}));
    std::uint16_t margin;
    std::memcpy(&margin, dst, 2);
    EXPECT_EQ(margin, fill);
}

}  // namespace
}  // namespace ocuvex
