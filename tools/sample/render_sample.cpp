// Renders a short side-by-side stereo clip with real depth: a far backdrop
// and shaded balls at different distances, moving, each view seen from its
// own eye. Frames go to standard output as packed 32-bit B, G, R, X pixels,
// top row first, the layout `ocuvex raw` reads, or with --output into a
// video file (H.264 in .mkv/.mp4/.mov, 24 frames a second), the kind of
// file `ocuvex convert` reads.
//
//   ocuvex_render_sample [--view-size WxH] [--frames N] > sbs.raw
//   ocuvex_render_sample [--view-size WxH] [--frames N] --output sbs.mkv
#include <algorithm>
#include <cerrno>
#include <cmath>
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

namespace {

struct Ball {
    double x, y;     // centre in the picture, as fractions of the view size
    double radius;   // fraction of the view height
    double depth;    // disparity in fractions of the view width: > 0 in front of the screen
    double r, g, b;  // base colour, 0..1
    double speed;    // horizontal drift per frame
};

std::uint32_t pixel(double r, double g, double b) {
    auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return channel(r) << 16 | channel(g) << 8 | channel(b);
}

// One eye's view: eye = -1 for the left, +1 for the right. Objects with
// positive depth are shifted apart so that they float in front of the screen.
void render_view(std::vector<std::uint32_t>& frame, int stride, int x0, int w, int h, int eye, int t,
                 const std::vector<Ball>& balls) {
    // Backdrop behind the screen: a tiled floor-like pattern shifted for depth.
    const double backdrop_shift = -0.012 * w * eye / 2.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double u = (x + backdrop_shift) / w, v = static_cast<double>(y) / h;
            const bool tile = (static_cast<int>(std::floor(u * 16)) + static_cast<int>(std::floor(v * 9))) % 2 == 0;
            const double shade = 0.35 + 0.25 * v;
            frame[static_cast<std::size_t>(y) * stride + x0 + x] =
                tile ? pixel(shade * 0.55, shade * 0.6, shade) : pixel(shade * 0.4, shade * 0.45, shade * 0.8);
        }
    }
    // Far to near, so nearer balls cover farther ones.
    std::vector<Ball> order = balls;
    std::sort(order.begin(), order.end(), [](const Ball& a, const Ball& b) { return a.depth < b.depth; });
    for (const Ball& ball : order) {
        const double cx = (std::fmod(ball.x + ball.speed * t + 1.0, 1.0)) * w - eye * ball.depth * w / 2.0;
        const double cy = ball.y * h;
        const double rad = ball.radius * h;
        for (int y = std::max(0, static_cast<int>(cy - rad)); y < std::min(h, static_cast<int>(cy + rad) + 1); ++y) {
            for (int x = std::max(0, static_cast<int>(cx - rad)); x < std::min(w, static_cast<int>(cx + rad) + 1);
                 ++x) {
                const double dx = (x - cx) / rad, dy = (y - cy) / rad;
                const double d2 = dx * dx + dy * dy;
                if (d2 > 1.0) {
                    continue;
                }
                // Lambert shading with the light up and to the left, plus a highlight.
                const double dz = std::sqrt(1.0 - d2);
                const double light = std::max(0.0, -0.45 * dx - 0.55 * dy + 0.7 * dz);
                const double spec = std::pow(light, 24.0) * 0.6;
                const double k = 0.25 + 0.75 * light;
                frame[static_cast<std::size_t>(y) * stride + x0 + x] =
                    pixel(ball.r * k + spec, ball.g * k + spec, ball.b * k + spec);
            }
        }
    }
}

int write_video(const char* path, std::vector<std::uint32_t>& frame, int w, int h, int frames,
                const std::vector<Ball>& balls) {
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
            render_view(frame, 2 * w, 0, w, h, -1, t, balls);
            render_view(frame, 2 * w, w, w, h, +1, t, balls);
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

}  // namespace

int main(int argc, char** argv) {
    int w = 640, h = 360, frames = 48;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        const bool size_given = std::strcmp(argv[i], "--view-size") == 0 && has_value && parse_size(argv[i + 1], w, h);
        const bool frames_given =
            std::strcmp(argv[i], "--frames") == 0 && has_value && parse_count(argv[i + 1], 1, 100000, frames);
        if (size_given || frames_given) {
            ++i;
        } else if (std::strcmp(argv[i], "--output") == 0 && i + 1 < argc) {
            output = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: ocuvex_render_sample [--view-size WxH] [--frames N] [--output FILE.mkv] > sbs.raw\n");
            return 2;
        }
    }
    const std::vector<Ball> balls = {
        {0.20, 0.62, 0.20, 0.030, 0.90, 0.20, 0.15, 0.004},   // red, in front of the screen
        {0.55, 0.40, 0.15, 0.012, 0.20, 0.75, 0.25, -0.003},  // green, just in front
        {0.80, 0.55, 0.11, -0.004, 0.95, 0.85, 0.20, 0.002},  // yellow, at the screen
        {0.40, 0.25, 0.07, -0.010, 0.30, 0.45, 0.95, 0.005},  // blue, far behind
    };
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(2 * w) * h);
    if (output != nullptr) {
        return write_video(output, frame, w, h, frames, balls);
    }
    for (int t = 0; t < frames; ++t) {
        render_view(frame, 2 * w, 0, w, h, -1, t, balls);
        render_view(frame, 2 * w, w, w, h, +1, t, balls);
        if (std::fwrite(frame.data(), 4, frame.size(), stdout) != frame.size()) {
            std::perror("ocuvex_render_sample: cannot write frames");
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
