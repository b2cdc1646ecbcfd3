// Every mode on the reference frame, beside a memcpy of the same number of
// bytes in the same run, so the ratio means something on a noisy machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "core/anaglyph.h"
#include "core/copy_plan.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"

namespace {

using namespace ocuvex;

struct Frames {
    std::vector<std::uint32_t> src_pixels, dst_pixels;
    FrameView src{}, dst{};
    FilterSettings settings{};
    std::size_t bytes_written = 0;
};

// A 3840x1080 side-by-side frame (1920x2160 above/below for the modes that
// take that input), top-down and seen through a negative pitch as the tool does.
Frames make_frames(std::int32_t mode, bool swap) {
    Frames f;
    f.settings = default_settings();
    f.settings.mode = mode;
    f.settings.swap_lr = swap ? 1 : 0;
    f.settings.center_width = 64;
    f.settings.align_horz = 8;
    f.settings.align_vert = 4;
    f.settings.crop_x = 16;
    f.settings.crop_y = 16;
    f.settings.crop_width = 1800;
    f.settings.crop_height = 1000;
    const bool above_below = mode == MODE_AB_TO_SBS;
    const bool interlaced = mode == MODE_DEINTERLACE;
    const std::int32_t w = above_below || interlaced ? 1920 : 3840;
    const std::int32_t h = above_below || interlaced ? 2160 : 1080;
    f.src_pixels.resize(static_cast<std::size_t>(w) * h);
    std::mt19937 rng(1);
    for (auto& p : f.src_pixels) {
        p = static_cast<std::uint32_t>(rng());
    }
    f.src = make_frame_view(f.src_pixels.data() + static_cast<std::size_t>(w) * (h - 1), w, h, -4 * w);
    const OutputGeometry g = compute_output_geometry(f.settings, w, h);
    f.dst_pixels.resize(static_cast<std::size_t>(g.pitch / 4) * g.h);
    f.dst = make_frame_view(f.dst_pixels.data(), g.w, g.h, g.pitch);
    f.bytes_written = static_cast<std::size_t>(g.w) * g.h * 4;
    // Centering writes more than it reads: the memcpy baseline must not read
    // past the source.
    if (f.src_pixels.size() < f.bytes_written / 4) {
        f.src_pixels.resize(f.bytes_written / 4);
        f.src = make_frame_view(f.src_pixels.data() + static_cast<std::size_t>(w) * (h - 1), w, h, -4 * w);
    }
    return f;
}

void BM_Mode(benchmark::State& state) {
    Frames f = make_frames(static_cast<std::int32_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        convert_frame(f.settings, f.src, f.dst);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.bytes_written));
    state.SetLabel(description_text(f.settings));
}

// memcpy of as many bytes as the mode writes, between buffers of the same sizes.
void BM_MemcpyBaseline(benchmark::State& state) {
    Frames f = make_frames(static_cast<std::int32_t>(state.range(0)), false);
    for (auto _ : state) {
        std::memcpy(f.dst_pixels.data(), f.src_pixels.data(), f.bytes_written);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.bytes_written));
}

// A copy mode on a yuv420p10 picture of the reference size: three planes of
// 16-bit elements, chroma subsampled both ways, planned once, run per frame.
// The baseline is a memcpy of the bytes the planes receive.
struct PlanarFrames {
    struct Plane {
        PlaneFormat format;
        std::vector<std::uint8_t> src, dst;
        PlaneView src_view, dst_view;
        std::size_t dst_bytes = 0;
    };
    CopyPlan plan;
    Plane planes[3];
    std::size_t bytes_written = 0;
};

PlanarFrames make_planar_frames(std::int32_t mode) {
    const Frames f = make_frames(mode, false);
    PlanarFrames p;
    p.plan = plan_copies(f.settings, {f.src.w, f.src.h}, {f.dst.w, f.dst.h});
    for (int i = 0; i < 3; ++i) {
        PlanarFrames::Plane& plane = p.planes[i];
        plane.format = {2, i == 0 ? 0 : 1, i == 0 ? 0 : 1};
        const FrameSize in = plane_size(p.plan.src, plane.format.shift_x, plane.format.shift_y);
        const FrameSize out = plane_size(p.plan.dst, plane.format.shift_x, plane.format.shift_y);
        const std::size_t in_row = 2 * static_cast<std::size_t>(in.w), out_row = 2 * static_cast<std::size_t>(out.w);
        plane.dst_bytes = out_row * out.h;
        plane.src.assign(std::max(in_row * in.h, plane.dst_bytes), 0x5A);
        plane.dst.resize(plane.dst_bytes);
        // Top-down memory seen bottom-up, as the tool hands decoded planes over.
        plane.src_view = {plane.src.data() + in_row * (in.h - 1), -static_cast<std::int32_t>(in_row)};
        plane.dst_view = {plane.dst.data() + out_row * (out.h - 1), -static_cast<std::int32_t>(out_row)};
        p.bytes_written += plane.dst_bytes;
    }
    return p;
}

void BM_Yuv420p10Mode(benchmark::State& state) {
    PlanarFrames p = make_planar_frames(static_cast<std::int32_t>(state.range(0)));
    const std::uint16_t fill = 64;
    if (state.range(0) == MODE_ANAGLYPH) {
        state.SkipWithError("the anaglyph runs on 32-bit frames");
        return;
    }
    for (const auto& plane : p.planes) {
        if (!fits_plane_grid(p.plan, plane.format.shift_x, plane.format.shift_y)) {
            state.SkipWithError("off the chroma grid: the tool converts to 4:4:4");
            return;
        }
    }
    for (auto _ : state) {
        for (const auto& plane : p.planes) {
            benchmark::DoNotOptimize(run_plane_plan(p.plan, plane.format, &fill, plane.src_view, plane.dst_view));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.bytes_written));
}

void BM_Yuv420p10MemcpyBaseline(benchmark::State& state) {
    PlanarFrames p = make_planar_frames(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        for (auto& plane : p.planes) {
            std::memcpy(plane.dst.data(), plane.src.data(), plane.dst_bytes);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.bytes_written));
}

void BM_AnaglyphKernel(benchmark::State& state) {
    const AnaglyphKernel& kernel = anaglyph_kernels()[static_cast<std::size_t>(state.range(0))];
    if (!kernel.supported()) {
        state.SkipWithError("not supported on this CPU");
        return;
    }
    Frames f = make_frames(MODE_ANAGLYPH, false);
    for (auto _ : state) {
        convert_anaglyph_with(anaglyph_default_coefficients, kernel.run, f.settings, f.src, f.dst);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * f.dst.w * f.dst.h);
    state.SetLabel(kernel.name);
}

void all_modes(benchmark::internal::Benchmark* b) {
    for (std::int64_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        b->Args({mode, 0});
        b->Args({mode, 1});
    }
}

void copy_modes(benchmark::internal::Benchmark* b) {
    for (std::int64_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        b->Args({mode});
    }
}

BENCHMARK(BM_Mode)->Apply(all_modes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBaseline)->Apply(copy_modes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Yuv420p10Mode)->Apply(copy_modes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Yuv420p10MemcpyBaseline)->Apply(copy_modes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnaglyphKernel)
    ->DenseRange(0, static_cast<int>(anaglyph_kernels().size()) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
