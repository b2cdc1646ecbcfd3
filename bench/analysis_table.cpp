// The stereo analysis's accuracy and speed table (docs/analyze.md): the
// sample scene rendered with known vertical offsets, turns and scales,
// optionally through H.264 (the ffmpeg program encodes and decodes), and
// what the analysis finds; then the processor time of one measurement.
//
// Usage: analysis_table [--size WxH] [--crf N] [--grain SIGMA] [--rounds N]
// (--size is one view, 960x1080 by default: a 1920x1080 side-by-side frame.)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/analysis_summary.h"
#include "core/stereo_analysis.h"
#include "tools/sample/sample_scene.h"

namespace {

using namespace ocuvex;

struct Options {
    std::int32_t w = 960;
    std::int32_t h = 1080;
    std::int32_t crf = -1;  // none: the rendered pictures as they are
    std::int32_t rounds = 20;
    double grain = 0;  // the scene's grain, in 8-bit levels
};

double process_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Side-by-side frames as the analyze command will see them: one luma plane.
using Luma = std::vector<std::uint8_t>;

std::vector<Luma> render(const Options& o, const std::vector<sample::SceneOptions>& scenes) {
    const std::size_t pixels = static_cast<std::size_t>(2 * o.w) * o.h;
    std::vector<std::uint32_t> frame(pixels);
    std::vector<Luma> out;
    const std::string dir = "/tmp/ocuvex_analysis_table_" + std::to_string(getpid());
    FILE* encoder = nullptr;
    if (o.crf >= 0) {
        const std::string command =
            "mkdir -p " + dir + " && ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr0 -s " +
            std::to_string(2 * o.w) + "x" + std::to_string(o.h) + " -r 24 -i - -c:v libx264 -crf " +
            std::to_string(o.crf) + " -pix_fmt yuv420p " + dir + "/clip.mkv";
        encoder = popen(command.c_str(), "w");
    }
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        sample::render_side_by_side(frame.data(), o.w, o.h, static_cast<int>(3 * i), scenes[i]);
        if (encoder != nullptr) {
            std::fwrite(frame.data(), 4, pixels, encoder);
            continue;
        }
        Luma luma(pixels);
        for (std::size_t p = 0; p < pixels; ++p) {
            const std::uint32_t v = frame[p];
            luma[p] =
                static_cast<std::uint8_t>((77 * (v >> 16 & 255) + 150 * (v >> 8 & 255) + 29 * (v & 255) + 128) >> 8);
        }
        out.push_back(std::move(luma));
    }
    if (encoder != nullptr) {
        if (pclose(encoder) != 0) {
            std::fprintf(stderr, "analysis_table: ffmpeg could not encode\n");
            std::exit(1);
        }
        const std::string command =
            "ffmpeg -nostdin -loglevel error -i " + dir + "/clip.mkv -f rawvideo -pix_fmt gray -";
        FILE* decoder = popen(command.c_str(), "r");
        Luma luma(pixels);
        while (std::fread(luma.data(), 1, pixels, decoder) == pixels) {
            out.push_back(luma);
        }
        pclose(decoder);
        std::system(("rm -rf " + dir).c_str());
    }
    return out;
}

const FrameMeasurement& measure(PairAnalyzer& analyzer, const Options& o, const Luma& luma) {
    return analyzer.measure({luma.data(), o.w, o.h, 2 * o.w}, {luma.data() + o.w, o.w, o.h, 2 * o.w});
}

sample::SceneOptions scene(const Options& o, int lines, double rotate = 0, double scale = 0) {
    sample::SceneOptions s;
    s.textured = true;
    s.rig = {lines, rotate, scale};
    s.grain = o.grain;
    return s;
}

}  // namespace

// A whole number in [low, high] at the start of `text`; `end` after it.
bool number(const char* text, long low, long high, std::int32_t& out, const char** end = nullptr) {
    char* stop = nullptr;
    const long value = std::strtol(text, &stop, 10);
    if (stop == text || value < low || value > high || (end == nullptr && *stop != '\0')) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    if (end != nullptr) {
        *end = stop;
    }
    return true;
}

bool level(const char* text, double& out) {
    char* stop = nullptr;
    const double value = std::strtod(text, &stop);
    if (stop == text || *stop != '\0' || !(value >= 0 && value <= 64)) {
        return false;
    }
    out = value;
    return true;
}

bool size(const char* text, Options& o) {
    const char* rest = nullptr;
    return number(text, 64, 8192, o.w, &rest) && *rest == 'x' && number(rest + 1, 64, 8192, o.h);
}

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; i += 2) {
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        const bool known = (std::strcmp(argv[i], "--size") == 0 && size(value, o)) ||
                           (std::strcmp(argv[i], "--crf") == 0 && number(value, 0, 51, o.crf)) ||
                           (std::strcmp(argv[i], "--grain") == 0 && level(value, o.grain)) ||
                           (std::strcmp(argv[i], "--rounds") == 0 && number(value, 1, 100000, o.rounds));
        if (!known) {
            std::fprintf(stderr, "usage: analysis_table [--size WxH] [--crf N] [--grain SIGMA] [--rounds N]\n");
            return 2;
        }
    }
    std::printf("views %dx%d, %s, grain %.1f\n\n", o.w, o.h,
                o.crf >= 0 ? ("H.264 CRF " + std::to_string(o.crf)).c_str() : "uncompressed", o.grain);

    std::vector<sample::SceneOptions> scenes;
    for (int lines = -16; lines <= 16; ++lines) {
        scenes.push_back(scene(o, lines));
    }
    const std::vector<double> turns = {0.25, 0.5, 1.0, -1.0};
    const std::vector<double> scales = {0.5, 1.0, 2.0, -2.0};
    for (const double t : turns) {
        scenes.push_back(scene(o, 0, t));
    }
    for (const double s : scales) {
        scenes.push_back(scene(o, 0, 0, s));
    }
    const std::vector<Luma> frames = render(o, scenes);
    if (frames.size() != scenes.size()) {
        std::fprintf(stderr, "analysis_table: %zu frames decoded of %zu\n", frames.size(), scenes.size());
        return 1;
    }

    PairAnalyzer analyzer(o.w, o.h);
    AnalysisAccumulator offsets(analyzer, 33);
    int exact = 0, within_one = 0;
    std::printf(
        "| rig offset | frame median | matches / blocks | within a line | noise read |\n|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < 33; ++i) {
        const FrameMeasurement& m = measure(analyzer, o, frames[static_cast<std::size_t>(i)]);
        offsets.add(m, i);
        const int lines = i - 16;
        exact += m.vertical_median == lines ? 1 : 0;
        within_one += std::abs(m.vertical_median - lines) <= 1 ? 1 : 0;
        // Wrong matches show as offsets more than a line from the rig's.
        std::int32_t near = 0;
        for (const BlockMatch& b : m.matches) {
            near += b.vertical && std::abs(b.dy - lines) <= 1 ? 1 : 0;
        }
        std::printf("| %d | %d | %d / %d | %d %% | %.2f |\n", lines, m.vertical_median, m.vertical_matches, m.blocks,
                    m.vertical_matches > 0 ? 100 * near / m.vertical_matches : 0, m.noise);
    }
    std::printf("\nexact %d of 33, within a line %d of 33\n", exact, within_one);
    const AnalysisSummary s = offsets.summarize();
    std::printf("disparity over the 33 frames: nearest %d (red ball %.2f), farthest %d (backdrop %.2f)\n\n", s.nearest,
                sample::ball_disparity(sample::kBalls[0], o.w), s.farthest, sample::backdrop_disparity(o.w));

    std::printf("| right view | rotation found | scale found | warned | centre offset |\n|---|---:|---:|---|---:|\n");
    for (std::size_t i = 0; i < turns.size() + scales.size(); ++i) {
        AnalysisAccumulator one(analyzer, 1);
        one.add(measure(analyzer, o, frames[33 + i]), 0);
        const AnalysisSummary g = one.summarize();
        const bool turned = i < turns.size();
        std::printf("| %s %+.2f %s | %.2f° | %.2f %% | %s | %.2f |\n", turned ? "turned" : "scaled",
                    turned ? turns[i] : scales[i - turns.size()], turned ? "°" : "%", g.rotation_degrees,
                    g.scale_percent,
                    g.rotated && g.scaled ? "turned, scaled"
                    : g.rotated           ? "turned"
                    : g.scaled            ? "scaled"
                                          : "no",
                    g.centre_offset);
    }

    // Grain alone, on mid grey: nothing to match, whatever its strength.
    if (o.grain > 0) {
        Luma noise(static_cast<std::size_t>(2 * o.w) * o.h);
        for (std::int32_t y = 0; y < o.h; ++y) {
            for (std::int32_t x = 0; x < 2 * o.w; ++x) {
                const auto eye = x < o.w ? sample::Eye::left : sample::Eye::right;
                const double v = 128 + o.grain * sample::grain_deviate(x % o.w, y, eye, 0);
                noise[static_cast<std::size_t>(y) * 2 * o.w + x] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
        const FrameMeasurement& m = measure(analyzer, o, noise);
        std::printf("\ngrain alone on grey: %s, %d of %d blocks textured, noise read %.2f\n",
                    m.verdict == FrameVerdict::flat        ? "flat"
                    : m.verdict == FrameVerdict::unmatched ? "unmatched"
                                                           : "MEASURED",
                    m.textured, m.blocks, m.noise);
    }

    // Speed: the first frames in turn, round after round.
    std::vector<double> ms;
    for (int round = 0; round < o.rounds; ++round) {
        const double start = process_ms();
        measure(analyzer, o, frames[static_cast<std::size_t>(round % 33)]);
        ms.push_back(process_ms() - start);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("\nmeasure(): %.1f ms best, %.1f ms median of %d frames (processor time, one thread)\n", ms.front(),
                ms[ms.size() / 2], o.rounds);
    return 0;
}
