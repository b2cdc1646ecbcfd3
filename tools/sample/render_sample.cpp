// Renders a short side-by-side stereo clip with real depth: a far backdrop
// and shaded balls at different distances, moving, each view seen from its
// own eye. Frames go to standard output as packed 32-bit B, G, R, X pixels,
// top row first, the layout `ocuvex raw` reads, or with --output into a
// video file (H.264 in .mkv/.mp4/.mov, 24 frames a second), the kind of
// file `ocuvex convert` reads. The scene itself is sample_scene.h; the
// options add surface detail, a misaligned rig's errors and grain, and
// --disparities prints what the analysis of the clip should find.
//
//   ocuvex_render_sample [--view-size WxH] [--frames N] [scene options] > sbs.raw
//   ocuvex_render_sample [--view-size WxH] [--frames N] [scene options] --output sbs.mkv
//   ocuvex_render_sample [--view-size WxH] --disparities
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "media/conversion.h"
#include "media/output.h"
#include "tools/ocuvex/process/output_file.h"
#include "tools/sample/sample_scene.h"

namespace {

using ocuvex::sample::SceneOptions;

int write_video(const char* path, std::vector<std::uint32_t>& frame, int w, int h, int frames,
                const SceneOptions& scene) {
    using namespace ocuvex::media;
    using ocuvex::process::OutputFile;
    try {
        const std::optional<OutputFormat> format = find_output_format(path);
        if (!format || format->kind != OutputKind::Video) {
            std::fprintf(stderr, "ocuvex_render_sample: '%s': expected a .mkv, .mp4 or .mov name\n", path);
            return 2;
        }
        capture_library_log();
        OutputFile file(path, true);
        PictureFormat pictures;
        pictures.w = 2 * w;
        pictures.h = h;
        pictures.format = kCorePixelFormat;
        pictures.file_formats = kCorePixelFileFormats;
        VideoTags tags;
        tags.frame_rate = AVRational{24, 1};
        tags.stereo_layout = StereoLayout{StereoPacking::SideBySide, true};
        Muxer muxer(*format, path);
        const Timeline timeline;
        Notices notices;
        VideoOutput writer(muxer, pictures, VideoEncoding{}, tags, timeline, notices);
        muxer.open(file.temp_path());
        for (int t = 0; t < frames; ++t) {
            ocuvex::sample::render_side_by_side(frame.data(), w, h, t, scene);
            AVFrame* picture = writer.next_picture();
            for (int y = 0; y < h; ++y) {
                std::memcpy(picture->data[0] + static_cast<std::ptrdiff_t>(y) * picture->linesize[0],
                            frame.data() + static_cast<std::size_t>(y) * 2 * w, static_cast<std::size_t>(2 * w) * 4);
            }
            writer.write_picture(t, 1, AVRational{1, 24});
        }
        writer.finish();
        muxer.finish();
        file.commit();
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ocuvex_render_sample: %s\n", error.what());
        return 1;
    }
}

// A whole decimal number in [low, high], nothing after it.
bool parse_count(const char* text, long low, long high, int& out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || value < low || value > high) {
        return false;
    }
    out = static_cast<int>(value);
    return *end == '\0';
}

bool parse_size(const char* text, int& w, int& h) {
    const std::string size(text);
    const auto x = size.find('x');
    return x != std::string::npos && parse_count(size.substr(0, x).c_str(), 1, 8192, w) &&
           parse_count(size.substr(x + 1).c_str(), 1, 8192, h);
}

// A decimal number in [low, high], nothing after it.
bool parse_number(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || errno != 0 || !(value >= low && value <= high)) {
        return false;
    }
    out = value;
    return *end == '\0';
}

constexpr const char* kUsage =
    "usage: ocuvex_render_sample [--view-size WxH] [--frames N] [--texture] [--rig-vertical LINES]\n"
    "                            [--rig-rotate DEGREES] [--rig-scale PERCENT] [--grain LEVELS]\n"
    "                            [--output FILE.mkv] > sbs.raw\n"
    "       ocuvex_render_sample [--view-size WxH] --disparities\n"
    "  --texture             fine surface detail on the backdrop and the balls\n"
    "  --rig-vertical LINES  the right view's content LINES lower than the left's (negative: higher)\n"
    "  --rig-rotate DEGREES  the right view's content turned clockwise about its centre\n"
    "  --rig-scale PERCENT   the right view's content that much larger about its centre\n"
    "  --grain LEVELS        noise of that standard deviation (8-bit levels), drawn anew for each\n"
    "                        eye and frame, as a camera's sensor or film grain adds\n"
    "  --disparities         print each object's true disparity in pixels (right eye's position\n"
    "                        minus the left eye's, > 0 behind the screen) and exit\n";

void print_disparities(int w) {
    static constexpr const char* kNames[] = {"red", "green", "yellow", "blue"};
    static_assert(std::size(kNames) == ocuvex::sample::kBalls.size());
    std::printf("backdrop %.3f\n", ocuvex::sample::backdrop_disparity(w));
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        std::printf("%s %.3f\n", kNames[i], ocuvex::sample::ball_disparity(ocuvex::sample::kBalls[i], w));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int w = 640, h = 360, frames = 48;
    const char* output = nullptr;
    bool disparities = false;
    SceneOptions scene;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        const auto is = [option](const char* name) { return std::strcmp(option, name) == 0; };
        const bool valued = (is("--view-size") && parse_size(value, w, h)) ||
                            (is("--frames") && parse_count(value, 1, 100000, frames)) ||
                            (is("--rig-vertical") && parse_count(value, -4096, 4096, scene.rig.vertical_lines)) ||
                            (is("--rig-rotate") && parse_number(value, -45, 45, scene.rig.rotate_degrees)) ||
                            (is("--rig-scale") && parse_number(value, -50, 100, scene.rig.scale_percent)) ||
                            (is("--grain") && parse_number(value, 0, 64, scene.grain));
        if (valued) {
            ++i;
        } else if (is("--output") && i + 1 < argc) {
            output = argv[++i];
        } else if (is("--texture")) {
            scene.textured = true;
        } else if (is("--disparities")) {
            disparities = true;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (disparities) {
        print_disparities(w);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(2 * w) * h);
    if (output != nullptr) {
        return write_video(output, frame, w, h, frames, scene);
    }
    for (int t = 0; t < frames; ++t) {
        ocuvex::sample::render_side_by_side(frame.data(), w, h, t, scene);
        if (std::fwrite(frame.data(), 4, frame.size(), stdout) != frame.size()) {
            std::perror("ocuvex_render_sample: cannot write frames");
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
