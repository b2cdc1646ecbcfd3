// The sample scene: a far backdrop and shaded balls at known distances, each
// view seen from its own eye, optionally with surface detail and with the
// errors of a misaligned rig on the right view. No FFmpeg: the renderer
// program writes it to files, the tests render it in memory and know every
// object's disparity.
#pragma once

#include <array>
#include <cstdint>

namespace ocuvex::sample {

struct Ball {
    double x, y;     // centre in the picture, as fractions of the view size
    double radius;   // fraction of the view height
    double depth;    // disparity in fractions of the view width: > 0 in front of the screen
    double r, g, b;  // base colour, 0..1
    double speed;    // horizontal drift per frame
};

// The demo's balls: red in front of the screen, green just in front, yellow
// just behind, blue far behind.
inline constexpr std::array<Ball, 4> kBalls = {{
    {0.20, 0.62, 0.20, 0.030, 0.90, 0.20, 0.15, 0.004},
    {0.55, 0.40, 0.15, 0.012, 0.20, 0.75, 0.25, -0.003},
    {0.80, 0.55, 0.11, -0.004, 0.95, 0.85, 0.20, 0.002},
    {0.40, 0.25, 0.07, -0.010, 0.30, 0.45, 0.95, 0.005},
}};

// How the right camera of a misaligned rig sees the scene against the left
// one. The right view's content is turned and scaled about the view's
// centre, then moved down; the left view is always the true one.
struct RigError {
    int vertical_lines = 0;     // > 0 moves the content down
    double rotate_degrees = 0;  // > 0 turns the content clockwise as seen
    double scale_percent = 0;   // > 0 enlarges it

    bool any() const { return vertical_lines != 0 || rotate_degrees != 0 || scale_percent != 0; }
};

struct SceneOptions {
    // Fine detail on the backdrop and the balls, as real surfaces have; off,
    // the scene is the demo's flat tiles and smooth balls.
    bool textured = false;
    RigError rig;
    // Grain (sensor noise, film grain): Gaussian noise of this standard
    // deviation in 8-bit levels, the same on the three channels, drawn
    // anew for each eye, pixel and frame.
    double grain = 0;
};

enum class Eye { left, right };

// A standard normal deviate for one pixel of one eye's frame t: the grain
// before its scaling. Repeatable; independent between eyes and frames.
double grain_deviate(int x, int y, Eye eye, int t);

// One eye's view of frame t: w x h pixels, 0x00RRGGBB, top row first, rows
// `stride` pixels apart.
void render_view(std::uint32_t* pixels, int stride, int w, int h, Eye eye, int t, const SceneOptions& options);

// A side-by-side frame, left eye in the left half: 2w x h pixels, rows 2w apart.
void render_side_by_side(std::uint32_t* pixels, int w, int h, int t, const SceneOptions& options);

// The true disparities for views w pixels wide: the right eye's position of
// an object minus the left eye's, in pixels, > 0 behind the screen.
double backdrop_disparity(int w);
double ball_disparity(const Ball& ball, int w);

}  // namespace ocuvex::sample
