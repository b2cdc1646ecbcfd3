// The analysis after lossy compression: sample frames with known vertical
// offsets, clean and grainy, encoded by the ffmpeg program as H.264 at CRF
// 23, decoded back to grey, and measured as the analyze command will
// measure a decoded frame's luma plane (both views in one plane, side by side).
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

// Encodes frames of the sample scene with the right view `offsets` lines
// lower, each with grain of deviation `grain`, as H.264 at CRF 23, decodes
// them to grey, and measures each: within a line of the rig's offset.
void expect_offsets_within_a_line(const std::vector<int>& offsets, double grain) {
    const std::filesystem::path dir =
        std::filesystem::path(testing::TempDir()) / ("ocuvex_analysis_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string clip = (dir / "offsets.mkv").string();

    Pipe encoder(
        "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr0 -s 1920x1080 -r 24 -i - "
        "-c:v libx264 -crf 23 -pix_fmt yuv420p '" +
            clip + "'",
        "w");
    ASSERT_NE(encoder.file, nullptr);
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(2 * kViewW) * kViewH);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        sample::render_side_by_side(frame.data(), kViewW, kViewH, static_cast<int>(3 * i),
                                    test::grainy(test::rig(offsets[i]), grain));
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
        ASSERT_EQ(m.verdict, FrameVerdict::measured) << lines << " " << grain;
        EXPECT_NEAR(m.vertical_median, lines, 1) << lines << " " << grain;
        EXPECT_GT(m.vertical_matches, m.blocks / 3) << lines << " " << grain;
    }
    EXPECT_EQ(decoder.close(), 0);
    std::filesystem::remove_all(dir);
}

TEST(AnalysisAfterH264, VerticalOffsetsWithinALine) {
    std::vector<int> offsets;
    for (int lines = -16; lines <= 16; ++lines) {
        offsets.push_back(lines);
    }
    expect_offsets_within_a_line(offsets, 0);
}

// Grain the codec smoothed but did not remove, differing between the views.
TEST(AnalysisAfterH264, GrainyVerticalOffsetsWithinALine) { expect_offsets_within_a_line({-16, -7, 0, 9, 16}, 5); }

}  // namespace
}  // namespace ocuvex
