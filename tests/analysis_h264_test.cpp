// The analysis after lossy compression: sample frames with known vertical
// offsets encoded by the ffmpeg program as H.264 at CRF 23, decoded back to
// grey, and measured as the analyze command will measure a decoded frame's
// luma plane (both views in one plane, side by side).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/stereo_analysis.h"
#include "tests/sample_pair.h"

namespace ocuvex {
namespace {

constexpr std::int32_t kViewW = 960, kViewH = 1080;  // a 1920x1080 side-by-side frame

struct Pipe {
    FILE* file;
    explicit Pipe(const std::string& command, const char* mode) : file(popen(command.c_str(), mode)) {}
    ~Pipe() {
        if (file != nullptr) {
            pclose(file);
        }
    }
    int close() {
        const int status = pclose(file);
        file = nullptr;
        return status;
    }
};

TEST(AnalysisAfterH264, VerticalOffsetsWithinALine) {
    const std::filesystem::path dir =
        std::filesystem::path(testing::TempDir()) / ("ocuvex_analysis_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string clip = (dir / "offsets.mkv").string();
    std::vector<int> offsets;
    for (int lines = -16; lines <= 16; ++lines) {
        offsets.push_back(lines);
    }

    Pipe encoder(
        "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr0 -s 1920x1080 -r 24 -i - "
        "-c:v libx264 -crf 23 -pix_fmt yuv420p '" +
            clip + "'",
        "w");
    ASSERT_NE(encoder.file, nullptr);
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(2 * kViewW) * kViewH);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        sample::render_side_by_side(frame.data(), kViewW, kViewH, static_cast<int>(3 * i), test::rig(offsets[i]));
        ASSERT_EQ(std::fwrite(frame.data(), 4, frame.size(), encoder.file), frame.size());
    }
    ASSERT_EQ(encoder.close(), 0);

    Pipe decoder("ffmpeg -nostdin -loglevel error -i '" + clip + "' -f rawvideo -pix_fmt gray -", "r");
    ASSERT_NE(decoder.file, nullptr);
    std::vector<std::uint8_t> luma(static_cast<std::size_t>(2 * kViewW) * kViewH);
    PairAnalyzer analyzer(kViewW, kViewH);
    for (const int lines : offsets) {
        ASSERT_EQ(std::fread(luma.data(), 1, luma.size(), decoder.file), luma.size()) << lines;
        const LumaView left{luma.data(), kViewW, kViewH, 2 * kViewW};
        const LumaView right{luma.data() + kViewW, kViewW, kViewH, 2 * kViewW};
        const FrameMeasurement& m = analyzer.measure(left, right);
        ASSERT_EQ(m.verdict, FrameVerdict::measured) << lines;
        EXPECT_NEAR(m.vertical_median, lines, 1) << lines;
        EXPECT_GT(m.vertical_matches, m.blocks / 3) << lines;
    }
    EXPECT_EQ(decoder.close(), 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ocuvex
