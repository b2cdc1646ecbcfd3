// The core allocates nothing per frame: every allocation in this binary goes
// through counters (operator new replaced, malloc and friends wrapped at link
// time), and converting frames in every mode must leave them unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "core/anaglyph.h"
#include "core/analysis_summary.h"
#include "core/copy_plan.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "tests/test_frames.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* p, std::size_t size);
int __real_posix_memalign(void** p, std::size_t alignment, std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);

void* __wrap_malloc(std::size_t size) {
    ++allocations;
    return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
    ++allocations;
    return __real_calloc(count, size);
}
void* __wrap_realloc(void* p, std::size_t size) {
    ++allocations;
    return __real_realloc(p, size);
}
int __wrap_posix_memalign(void** p, std::size_t alignment, std::size_t size) {
    ++allocations;
    return __real_posix_memalign(p, alignment, size);
}
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
    ++allocations;
    return __real_aligned_alloc(alignment, size);
}
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = __real_malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    ++allocations;
    void* p = nullptr;
    if (__real_posix_memalign(&p, static_cast<std::size_t>(alignment), size != 0 ? size : 1) != 0) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace ocuvex {
namespace {

using test::PitchKind;
using test::TestFrame;

TEST(Allocation, TheCountersSeeAllocations) {
    // Kept in a volatile so that the compiler cannot drop the pairs.
    static int* volatile object = nullptr;
    static void* volatile block = nullptr;
    const long before = allocations;
    object = new int(1);
    delete object;
    block = std::malloc(16);
    std::free(block);
    EXPECT_EQ(allocations - before, 2);
}

TEST(Allocation, ConvertingFramesInEveryModeAllocatesNothing) {
    std::mt19937 rng(31);
    for (std::int32_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        for (const bool swap : {false, true}) {
            FilterSettings s = test::settings_for(mode, swap);
            s.center_width = 8;
            s.align_horz = 2;
            s.align_vert = 1;
            s.crop_x = 2;
            s.crop_y = 1;
            s.crop_width = 40;
            s.crop_height = 20;
            TestFrame src(128, 32, PitchKind::negative);
            src.fill_random(rng);
            const OutputGeometry g = compute_output_geometry(s, src.w(), src.h());
            TestFrame dst(g.w, g.h, PitchKind::padded);
            const long before = allocations;
            for (int frame = 0; frame < 5; ++frame) {
                convert_frame(s, src.view(), dst.view());
            }
            EXPECT_EQ(allocations - before, 0) << "mode " << mode << " swap " << swap;
        }
    }
}

TEST(Allocation, RunningAPlanOnPlanesOfEveryKindAllocatesNothing) {
    std::mt19937 rng(32);
    const std::uint8_t fill[kMaxElementBytes] = {};
    for (std::int32_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        FilterSettings s = test::settings_for(mode, mode % 2 == 0);
        s.center_width = 8;
        s.crop_width = 40;
        s.crop_height = 20;
        const OutputGeometry g = compute_output_geometry(s, 128, 32);
        const CopyPlan plan = plan_copies(s, {128, 32}, {g.w, g.h});
        for (const PlaneFormat format : {PlaneFormat{1, 1, 1}, PlaneFormat{2, 1, 0}, PlaneFormat{3, 0, 0},
                                         PlaneFormat{6, 0, 0}, PlaneFormat{16, 0, 0}}) {
            const FrameSize in = plane_size(plan.src, format.shift_x, format.shift_y);
            const FrameSize out = plane_size(plan.dst, format.shift_x, format.shift_y);
            test::TestPlane src(in.w, in.h, format.element_bytes, PitchKind::negative);
            test::TestPlane dst(out.w, out.h, format.element_bytes, PitchKind::padded);
            src.fill_random_bytes(rng);
            const long before = allocations;
            for (int frame = 0; frame < 5; ++frame) {
                static_cast<void>(run_plane_plan(plan, format, fill, src.plane(), dst.plane()));
            }
            EXPECT_EQ(allocations - before, 0) << "mode " << mode << " element " << format.element_bytes;
        }
    }
}

TEST(Allocation, MeasuringAndAddingUpStereoPairsAllocatesNothing) {
    // Noise, the right view 3 lines lower and 5 pixels to the right; and a
    // flat frame, which takes the other path.
    constexpr std::int32_t w = 320, h = 240, pad = 8;
    std::mt19937 rng(33);
    std::vector<std::uint8_t> scene(static_cast<std::size_t>(w + pad) * (h + pad));
    for (auto& p : scene) {
        p = static_cast<std::uint8_t>(rng());
    }
    const std::vector<std::uint8_t> flat(static_cast<std::size_t>(w) * h, 40);
    const std::int32_t pitch = w + pad;
    const LumaView left{scene.data() + 3 * pitch + 5, w, h, pitch};
    const LumaView right{scene.data(), w, h, pitch};
    const LumaView blank{flat.data(), w, h, w};
    PairAnalyzer analyzer(w, h);
    AnalysisAccumulator accumulator(analyzer, 8);
    const long before = allocations;
    for (int frame = 0; frame < 8; ++frame) {
        const FrameMeasurement& m = frame % 4 == 3 ? analyzer.measure(blank, blank) : analyzer.measure(left, right);
        EXPECT_EQ(m.verdict, frame % 4 == 3 ? FrameVerdict::flat : FrameVerdict::measured);
        EXPECT_TRUE(accumulator.add(m, frame));
    }
    EXPECT_EQ(allocations - before, 0);
    EXPECT_EQ(accumulator.summarize().vertical_offset, 3);
}

}  // namespace
}  // namespace ocuvex
