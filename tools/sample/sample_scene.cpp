#include "tools/sample/sample_scene.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace ocuvex::sample {

namespace {

// The backdrop sits this far behind the screen, in fractions of the view width.
constexpr double kBackdropDepth = 0.012;

std::uint32_t pixel(double r, double g, double b) {
    auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return channel(r) << 16 | channel(g) << 8 | channel(b);
}

// A repeatable value in [0, 1) for a lattice point.
double lattice(std::int64_t x, std::int64_t y, std::uint32_t seed) {
    auto h = static_cast<std::uint32_t>(x) * 0x8da6b343U ^ static_cast<std::uint32_t>(y) * 0xd8163841U ^ seed;
    h ^= h >> 15;
    h *= 0x2c1b3c6dU;
    h ^= h >> 12;
    h *= 0x297a2d39U;
    h ^= h >> 15;
    return (h >> 8) * (1.0 / 16777216.0);
}

// Smoothly interpolated lattice values, lattice points `period` apart.
double value_noise(double x, double y, double period, std::uint32_t seed) {
    const double fx = x / period, fy = y / period;
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const auto ix = static_cast<std::int64_t>(x0), iy = static_cast<std::int64_t>(y0);
    auto smooth = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double tx = smooth(fx - x0), ty = smooth(fy - y0);
    const double top = lattice(ix, iy, seed) + tx * (lattice(ix + 1, iy, seed) - lattice(ix, iy, seed));
    const double bottom = lattice(ix, iy + 1, seed) + tx * (lattice(ix + 1, iy + 1, seed) - lattice(ix, iy + 1, seed));
    return top + ty * (bottom - top);
}

// Surface detail in [0.7, 1.3): four octaves, the finest a few pixels wide,
// fixed to the surface so that both eyes see it where the surface is.
double detail(double x, double y, int view_h, std::uint32_t seed) {
    static constexpr double kWeights[] = {0.35, 0.3, 0.2, 0.15};
    double period = std::max(2.0, view_h / 240.0);
    double sum = 0.0;
    for (const double weight : kWeights) {
        sum += weight * value_noise(x, y, period, seed);
        period *= 2.0;
        seed = seed * 747796405U + 2891336453U;
    }
    return 0.7 + 0.6 * sum;
}

// A pixel with `levels` added to each channel, clamped.
std::uint32_t grained(std::uint32_t value, double levels) {
    std::uint32_t out = 0;
    for (const int shift : {16, 8, 0}) {
        const double channel = static_cast<double>(value >> shift & 255) + levels;
        out |= static_cast<std::uint32_t>(std::lround(std::clamp(channel, 0.0, 255.0))) << shift;
    }
    return out;
}

struct PlacedBall {
    const Ball* ball;
    double cx, cy, rad;
    std::uint32_t seed;
};

// Where a view pixel looks into the scene: the identity, except on the
// right view of a misaligned rig, whose content is turned and scaled about
// the centre and then moved down.
struct ViewMapping {
    bool identity = true;
    double cx = 0, cy = 0, c = 1, s = 0, inverse_scale = 1;
    int down = 0;

    ViewMapping(int w, int h, Eye eye, const RigError& rig) {
        if (eye == Eye::left || !rig.any()) {
            return;
        }
        identity = false;
        cx = (w - 1) / 2.0;
        cy = (h - 1) / 2.0;
        const double angle = rig.rotate_degrees * std::numbers::pi / 180.0;
        c = std::cos(angle);
        s = std::sin(angle);
        inverse_scale = 1.0 / (1.0 + rig.scale_percent / 100.0);
        down = rig.vertical_lines;
    }

    void scene_point(int x, int y, double& xs, double& ys) const {
        if (identity) {
            xs = x;
            ys = y;
            return;
        }
        // The inverse of: turn clockwise (y points down), scale, move down.
        const double px = x - cx, py = y - down - cy;
        xs = cx + inverse_scale * (c * px + s * py);
        ys = cy + inverse_scale * (-s * px + c * py);
    }
};

}  // namespace

double grain_deviate(int x, int y, Eye eye, int t) {
    // Box-Muller on two lattice values; 1 - u keeps the logarithm finite.
    const auto seed = static_cast<std::uint32_t>(2 * t + (eye == Eye::left ? 0 : 1)) * 0x9e3779b9U;
    const double u = 1.0 - lattice(x, y, seed ^ 0x5bd1e995U), v = lattice(x, y, seed ^ 0x1b873593U);
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

double backdrop_disparity(int w) { return kBackdropDepth * w; }

double ball_disparity(const Ball& ball, int w) { return -ball.depth * w; }

// Objects with positive depth are shifted apart so that they float in front
// of the screen: the left eye sees them to the right, the right eye to the left.
void render_view(std::uint32_t* pixels, int stride, int w, int h, Eye eye, int t, const SceneOptions& options) {
    const int side = eye == Eye::left ? -1 : 1;
    const double backdrop_shift = -kBackdropDepth * w * side / 2.0;
    // Far to near, so that nearer balls cover farther ones.
    std::array<PlacedBall, kBalls.size()> placed{};
    for (std::size_t i = 0; i < kBalls.size(); ++i) {
        const Ball& ball = kBalls[i];
        placed[i] = {&ball, (std::fmod(ball.x + ball.speed * t + 1.0, 1.0)) * w - side * ball.depth * w / 2.0,
                     ball.y * h, ball.radius * h, static_cast<std::uint32_t>(101 + i)};
    }
    std::sort(placed.begin(), placed.end(),
              [](const PlacedBall& a, const PlacedBall& b) { return a.ball->depth < b.ball->depth; });
    const ViewMapping mapping(w, h, eye, options.rig);
    for (int y = 0; y < h; ++y) {
        std::uint32_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            double xs = 0, ys = 0;
            mapping.scene_point(x, y, xs, ys);
            // The backdrop: a tiled floor-like pattern shifted for depth.
            const double u = (xs + backdrop_shift) / w, v = ys / h;
            const bool tile = (static_cast<int>(std::floor(u * 16)) + static_cast<int>(std::floor(v * 9))) % 2 == 0;
            double shade = 0.35 + 0.25 * v;
            if (options.textured) {
                shade *= detail(xs + backdrop_shift, ys, h, 7);
            }
            std::uint32_t value =
                tile ? pixel(shade * 0.55, shade * 0.6, shade) : pixel(shade * 0.4, shade * 0.45, shade * 0.8);
            for (const PlacedBall& p : placed) {
                const double dx = (xs - p.cx) / p.rad, dy = (ys - p.cy) / p.rad;
                const double d2 = dx * dx + dy * dy;
                if (d2 > 1.0) {
                    continue;
                }
                // Lambert shading with the light up and to the left, plus a highlight.
                const double dz = std::sqrt(1.0 - d2);
                const double light = std::max(0.0, -0.45 * dx - 0.55 * dy + 0.7 * dz);
                const double spec = std::pow(light, 24.0) * 0.6;
                double k = 0.25 + 0.75 * light;
                if (options.textured) {
                    k *= detail(xs - p.cx, ys - p.cy, h, p.seed);
                }
                const Ball& ball = *p.ball;
                value = pixel(ball.r * k + spec, ball.g * k + spec, ball.b * k + spec);
            }
            if (options.grain > 0) {
                value = grained(value, options.grain * grain_deviate(x, y, eye, t));
            }
            row[x] = value;
        }
    }
}

void render_side_by_side(std::uint32_t* pixels, int w, int h, int t, const SceneOptions& options) {
    render_view(pixels, 2 * w, w, h, Eye::left, t, options);
    render_view(pixels + w, 2 * w, w, h, Eye::right, t, options);
}

}  // namespace ocuvex::sample
