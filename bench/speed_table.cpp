// The speed table: every copy mode against a memcpy of the same bytes between
// the same buffers, every anaglyph kernel per output pixel, and FFmpeg's
// stereo3d anaglyph, driven in-process through libavfilter, against ours on
// the same frame. Every figure is a ratio of timings taken in the same
// process, interleaved round by round, so a noisy machine slows both sides.
//
// Usage: speed_table [--rounds N] [--iterations N] [--size WxH] [--smoke]
// (--size sets the side-by-side frame, 3840x1080 by default; the modes that
// take an above/below or interlaced frame get W/2 x 2H.)
extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/anaglyph.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"

namespace {

using namespace ocuvex;

struct Options {
    int rounds = 15;
    int iterations = 4;
    bool smoke = false;
    std::int32_t width = 3840;  // of the side-by-side reference frame
    std::int32_t height = 1080;
};

// One thing to time: its per-call times in milliseconds, one per round.
struct Timed {
    std::string name;
    std::function<void()> run;
    std::vector<double> ms;

    double best() const { return *std::min_element(ms.begin(), ms.end()); }
    double median() const {
        std::vector<double> v = ms;
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    }
};

// The processor time of this process in milliseconds: time spent waiting for
// a core that other processes hold does not count, so a busy machine inflates
// the figures far less than it does wall time.
double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Runs every candidate once to warm up, then round after round each in turn,
// so that a slow stretch of the machine hits them alike.
void measure(std::vector<Timed*> group, const Options& options) {
    for (Timed* t : group) {
        t->run();
        t->ms.clear();
    }
    for (int round = 0; round < options.rounds; ++round) {
        for (Timed* t : group) {
            // One untimed run first: the caches then hold what this candidate
            // leaves in them, not what the one before it left.
            t->run();
            const double start = cpu_ms();
            for (int i = 0; i < options.iterations; ++i) {
                t->run();
            }
            t->ms.push_back((cpu_ms() - start) / options.iterations);
        }
    }
}

// A frame as the ocuvex tool and a VirtualDub host hand it over: top-down
// memory of 32-bit pixels seen bottom-up through a negative pitch.
struct Frame {
    std::vector<std::uint32_t> pixels;
    FrameView view{};

    // `capacity` pixels at least, so that the memcpy baseline of a mode
    // that writes more than it reads stays inside the source buffer.
    Frame(std::int32_t w, std::int32_t h, std::int32_t pitch_pixels, std::size_t capacity = 0) {
        pixels.assign(std::max(static_cast<std::size_t>(pitch_pixels) * (h > 0 ? h : 1), capacity), 0);
        view = make_frame_view(pixels.data() + static_cast<std::size_t>(pitch_pixels) * (h > 0 ? h - 1 : 0), w, h,
                               -4 * pitch_pixels);
    }
    std::uint8_t* top() { return reinterpret_cast<std::uint8_t*>(pixels.data()); }
};

void fill_random(std::vector<std::uint32_t>& pixels) {
    std::mt19937 rng(1);
    for (auto& p : pixels) {
        p = static_cast<std::uint32_t>(rng());
    }
}

// Windows a little inside the frame: 1800x1000 of each 1920x1080 view.
FilterSettings bench_settings(std::int32_t mode, bool swap, std::int32_t w, std::int32_t h) {
    FilterSettings s = default_settings();
    s.mode = mode;
    s.swap_lr = swap ? 1 : 0;
    s.center_width = 64;
    s.align_horz = 8;
    s.align_vert = 4;
    s.crop_x = 16;
    s.crop_y = 16;
    s.crop_width = w / 2 - 120;
    s.crop_height = h - 80;
    return s;
}

// The reference frame of a mode: 3840x1080 side by side, or 1920x2160 for
// the modes that take an above/below or interlaced frame.
void source_size(std::int32_t mode, const Options& options, std::int32_t& w, std::int32_t& h) {
    const bool tall = mode == MODE_AB_TO_SBS || mode == MODE_DEINTERLACE;
    w = tall ? options.width / 2 : options.width;
    h = tall ? options.height * 2 : options.height;
}

bool print_copy_modes(const Options& options) {
    std::printf(
        "Copy modes against memcpy of the bytes they write, same buffers (ratio of the fastest rounds;\n"
        "median ratio in brackets). Target: at most 1.10.\n\n");
    std::printf("%-30s %10s %11s %11s %14s\n", "mode", "MB written", "memcpy ms", "mode ms", "ratio");
    bool all_met = true;
    for (std::int32_t mode = kFirstMode; mode <= kLastMode; ++mode) {
        if (mode == MODE_ANAGLYPH) {
            continue;
        }
        for (const bool swap : {false, true}) {
            std::int32_t w = 0, h = 0;
            source_size(mode, options, w, h);
            FilterSettings s = bench_settings(mode, swap, w, h);
            const OutputGeometry g = compute_output_geometry(s, w, h);
            const std::size_t bytes = static_cast<std::size_t>(g.w) * g.h * 4;
            Frame src(w, h, w, bytes / 4);
            Frame dst(g.w, g.h, g.pitch / 4);
            fill_random(src.pixels);
            Timed copy{"memcpy", [&] { std::memcpy(dst.top(), src.top(), bytes); }, {}};
            Timed convert{"mode", [&] { convert_frame(s, src.view, dst.view); }, {}};
            measure({&copy, &convert}, options);
            const double ratio = convert.best() / copy.best();
            const double median_ratio = convert.median() / copy.median();
            all_met = all_met && ratio <= 1.10;
            std::printf("%-30s %10.1f %11.3f %11.3f %6.2f [%5.2f]%s", description_text(s), bytes / 1e6, copy.best(),
                        convert.best(), ratio, median_ratio, ratio <= 1.10 ? "" : "  over");
            std::printf("\n");
        }
    }
    std::printf("\n");
    return all_met;
}

// FFmpeg's stereo3d filter in a graph of its own: buffer -> graph -> buffersink.
class FfmpegGraph {
  public:
    FfmpegGraph(int w, int h, AVPixelFormat in_format, const char* chain, int threads) {
        graph_ = avfilter_graph_alloc();
        if (graph_ == nullptr) {
            fail("cannot allocate a filter graph");
        }
        graph_->nb_threads = threads;
        char args[256];
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%s:time_base=1/25:pixel_aspect=1/1", w, h,
                      av_get_pix_fmt_name(in_format));
        if (avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args, nullptr, graph_) < 0 ||
            avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph_) <
                0) {
            fail("cannot create the buffer source or sink");
        }
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source_;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink_;
        const int parsed = avfilter_graph_parse_ptr(graph_, chain, &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (parsed < 0 || avfilter_graph_config(graph_, nullptr) < 0) {
            fail(chain);
        }
        in_ = av_frame_alloc();
        out_ = av_frame_alloc();
        in_->format = in_format;
        in_->width = w;
        in_->height = h;
        if (av_frame_get_buffer(in_, 0) < 0) {
            fail("cannot allocate an input frame");
        }
    }
    FfmpegGraph(const FfmpegGraph&) = delete;
    FfmpegGraph& operator=(const FfmpegGraph&) = delete;
    ~FfmpegGraph() {
        av_frame_free(&in_);
        av_frame_free(&out_);
        avfilter_graph_free(&graph_);
    }

    AVFrame* input() { return in_; }
    const AVFrame* output() const { return out_; }

    // Pushes the input frame through and keeps the result until the next run.
    void run() {
        av_frame_unref(out_);
        in_->pts = pts_++;
        if (av_buffersrc_add_frame_flags(source_, in_, AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
            av_buffersink_get_frame(sink_, out_) < 0) {
            fail("the filter graph gave no frame");
        }
    }

  private:
    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "speed_table: FFmpeg: %s\n", what);
        std::exit(1);
    }

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* in_ = nullptr;
    AVFrame* out_ = nullptr;
    std::int64_t pts_ = 0;
};

// Copies our 0x00RRGGBB frame (top-down) into an FFmpeg frame of rgb24 or bgr0.
void copy_into(const std::vector<std::uint32_t>& pixels, int w, int h, AVFrame* frame) {
    const bool packed24 = frame->format == AV_PIX_FMT_RGB24;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = pixels[static_cast<std::size_t>(y) * w + x];
            if (packed24) {
                row[3 * x] = static_cast<std::uint8_t>(p >> 16);
                row[3 * x + 1] = static_cast<std::uint8_t>(p >> 8);
                row[3 * x + 2] = static_cast<std::uint8_t>(p);
            } else {
                std::memcpy(row + 4 * x, &p, 4);  // bgr0 is 0x00RRGGBB in memory order
            }
        }
    }
}

// How many channel values of FFmpeg's output differ from ours, and by how much at most.
void compare_outputs(const AVFrame* theirs, const std::vector<std::uint32_t>& ours, int w, int h,
                     double& differing_share, int& max_difference) {
    const bool packed24 = theirs->format == AV_PIX_FMT_RGB24;
    std::size_t differing = 0;
    max_difference = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = theirs->data[0] + static_cast<std::ptrdiff_t>(y) * theirs->linesize[0];
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = ours[static_cast<std::size_t>(y) * w + x];
            const int want[3] = {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
                                 static_cast<int>(p & 0xFF)};
            const int got[3] = {packed24 ? row[3 * x] : row[4 * x + 2], packed24 ? row[3 * x + 1] : row[4 * x + 1],
                                packed24 ? row[3 * x + 2] : row[4 * x]};
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(got[c] - want[c]);
                differing += d != 0 ? 1 : 0;
                max_difference = std::max(max_difference, d);
            }
        }
    }
    differing_share = static_cast<double>(differing) / (3.0 * w * h);
}

struct AnaglyphResult {
    bool per_pixel_met = false;
    bool rgb24_met = false;
    bool bgr0_met = false;
};

AnaglyphResult print_anaglyph(const Options& options) {
    const std::int32_t w = options.width, h = options.height;
    const std::int32_t out_w = w / 2;
    const double pixels = static_cast<double>(out_w) * h;
    const FilterSettings s = bench_settings(MODE_ANAGLYPH, false, w, h);
    Frame src(w, h, w);
    Frame dst(out_w, h, out_w);
    fill_random(src.pixels);

    std::printf(
        "Anaglyph on a %dx%d side-by-side frame (%dx%d out), ns per output pixel (fastest round;\n"
        "median in brackets). Target: at most 1.0 with the selected kernel.\n\n",
        w, h, out_w, h);
    std::vector<Timed> kernels;
    kernels.reserve(anaglyph_kernels().size());
    for (const AnaglyphKernel& kernel : anaglyph_kernels()) {
        if (kernel.supported()) {
            const AnaglyphRowKernel run = kernel.run;
            kernels.push_back({kernel.name,
                               [&, run] { convert_anaglyph_with(anaglyph_default_coefficients, run, s, src.view, dst.view); },
                               {}});
        } else {
            std::printf("%-28s not supported on this CPU\n", kernel.name);
        }
    }
    std::vector<Timed*> group;
    for (Timed& t : kernels) {
        group.push_back(&t);
    }
    measure(group, options);
    for (const Timed& t : kernels) {
        std::printf("%-28s %7.3f [%6.3f]%s\n", t.name.c_str(), t.best() * 1e6 / pixels, t.median() * 1e6 / pixels,
                    t.name == selected_anaglyph_kernel().name ? "  (selected)" : "");
    }
    AnaglyphResult result;
    for (const Timed& t : kernels) {
        if (t.name == selected_anaglyph_kernel().name) {
            result.per_pixel_met = t.best() * 1e6 / pixels <= 1.0;
        }
    }

    // FFmpeg on the same picture: its native rgb24, and the 32-bit frames we
    // take, where libavfilter converts to rgb24 and back around the filter.
    // One thread each, as our conversion runs on one.
    FfmpegGraph native(w, h, AV_PIX_FMT_RGB24, "stereo3d=sbsl:arcd", 1);
    FfmpegGraph converted(w, h, AV_PIX_FMT_BGR0, "format=rgb24,stereo3d=sbsl:arcd,format=bgr0", 1);
    FfmpegGraph threaded(w, h, AV_PIX_FMT_RGB24, "stereo3d=sbsl:arcd", 2);
    copy_into(src.pixels, w, h, native.input());
    copy_into(src.pixels, w, h, converted.input());
    copy_into(src.pixels, w, h, threaded.input());

    Timed ours{"ocuvex, 32-bit", [&] { convert_frame(s, src.view, dst.view); }, {}};
    Timed ff_native{"FFmpeg stereo3d, rgb24", [&] { native.run(); }, {}};
    Timed ff_converted{"FFmpeg bgr0->rgb24->bgr0", [&] { converted.run(); }, {}};
    Timed ff_threaded{"FFmpeg rgb24, CPU of 2 threads", [&] { threaded.run(); }, {}};
    measure({&ours, &ff_native, &ff_converted, &ff_threaded}, options);

    std::printf(
        "\nOurs against FFmpeg's stereo3d=sbsl:arcd in the same process, same frame (one thread each\n"
        "unless said). Targets: 2x against rgb24, 5x against bgr0 with its conversions.\n\n");
    std::printf("%-28s %9s %9s %16s\n", "", "ms", "ns/pixel", "ours faster by");
    for (const Timed* t : {&ours, &ff_native, &ff_converted, &ff_threaded}) {
        std::printf("%-28s %9.3f %9.3f", t->name.c_str(), t->best(), t->best() * 1e6 / pixels);
        if (t != &ours) {
            std::printf(" %8.2fx [%5.2fx]", t->best() / ours.best(), t->median() / ours.median());
        }
        std::printf("\n");
    }
    result.rgb24_met = ff_native.best() / ours.best() >= 2.0;
    result.bgr0_met = ff_converted.best() / ours.best() >= 5.0;

    double share = 0;
    int max_difference = 0;
    convert_frame(s, src.view, dst.view);
    native.run();
    compare_outputs(native.output(), dst.pixels, out_w, h, share, max_difference);
    std::printf(
        "\nFFmpeg's integer anaglyph differs from the exact one in %.1f%% of the channel values, by at most %d.\n\n",
        100.0 * share, max_difference);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--smoke") {
            options.smoke = true;
            options.rounds = 1;
            options.iterations = 1;
            options.width = 480;
            options.height = 136;
        } else if (arg == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2 || options.width < 2 ||
                options.height < 2 || options.width > 16384 || options.height > 16384) {
                std::fprintf(stderr, "speed_table: --size needs WIDTHxHEIGHT, 2 to 16384 each\n");
                return 2;
            }
        } else if ((arg == "--rounds" || arg == "--iterations") && i + 1 < argc) {
            const int value = std::atoi(argv[++i]);
            if (value < 1) {
                std::fprintf(stderr, "speed_table: %s needs a positive number\n", arg.c_str());
                return 2;
            }
            (arg == "--rounds" ? options.rounds : options.iterations) = value;
        } else {
            std::fprintf(stderr, "usage: speed_table [--rounds N] [--iterations N] [--size WxH] [--smoke]\n");
            return 2;
        }
    }
    av_log_set_level(AV_LOG_ERROR);
    std::printf("Anaglyph kernel selected: %s\n\n", selected_anaglyph_kernel().name);
    const bool copies_met = print_copy_modes(options);
    const AnaglyphResult anaglyph = print_anaglyph(options);
    std::printf("Targets: copy modes %s, anaglyph per pixel %s, against FFmpeg rgb24 %s, against FFmpeg bgr0 %s.\n",
                copies_met ? "met" : "NOT met", anaglyph.per_pixel_met ? "met" : "NOT met",
                anaglyph.rgb24_met ? "met" : "NOT met", anaglyph.bgr0_met ? "met" : "NOT met");
    return 0;
}
