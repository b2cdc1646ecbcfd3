// How timestamps are mended on their way from demuxer to muxer: the encoder's
// frame rate, jumps in transport streams closed up, frames placed on the
// encoder's ticks, and packets kept in order for the muxer.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <optional>
#include <vector>

#include "media/timestamps.h"

namespace ocuvex::media {
namespace {

constexpr AVRational kMpegTime{1, 90000};

AVPacket packet_at(int stream, std::int64_t dts, std::int64_t duration = 3600) {
    AVPacket packet{};
    packet.stream_index = stream;
    packet.pts = dts;
    packet.dts = dts;
    packet.duration = duration;
    return packet;
}

TEST(EncoderFrameRate, IsTheInputsOr25AndFitsEveryEncoder) {
    const AVRational ntsc = choose_encoder_frame_rate(AVRational{30000, 1001}, nullptr);
    EXPECT_EQ(ntsc.num, 30000);
    EXPECT_EQ(ntsc.den, 1001);
    const AVRational unknown = choose_encoder_frame_rate(AVRational{0, 1}, nullptr);
    EXPECT_EQ(unknown.num, 25);
    EXPECT_EQ(unknown.den, 1);
    // A transport stream's clock as a frame rate: reduced to 16-bit terms.
    const AVRational odd = choose_encoder_frame_rate(AVRational{90000, 3001}, nullptr);
    EXPECT_LE(odd.num, 65535);
    EXPECT_LE(odd.den, 65535);
    EXPECT_NEAR(av_q2d(odd), 90000.0 / 3001, 1e-5);  // a frame in a day
    const AVRational big = choose_encoder_frame_rate(AVRational{1200000, 1}, nullptr);
    EXPECT_LE(big.num, 65535);
}

TEST(EncoderFrameRate, TakesTheNearestOfTheRatesAnEncoderAllows) {
    const AVRational mpeg2[] = {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {0, 0}};
    const AVRational chosen = choose_encoder_frame_rate(AVRational{2997, 100}, mpeg2);
    EXPECT_EQ(chosen.num, 30000);
    EXPECT_EQ(chosen.den, 1001);
    const AVRational high = choose_encoder_frame_rate(AVRational{120, 1}, mpeg2);
    EXPECT_EQ(high.num, 50);
    const AVRational empty[] = {{0, 0}};
    EXPECT_EQ(choose_encoder_frame_rate(AVRational{48, 1}, empty).num, 48);
}

// The dts a packet of `stream` at `dts` (1/90000) has once mended.
std::int64_t mended(DiscontinuityMender& mender, int stream, std::int64_t dts, bool decides = true) {
    AVPacket packet = packet_at(stream, dts);
    mender.mend(packet, kMpegTime, decides);
    EXPECT_EQ(packet.pts, packet.dts);
    return packet.dts;
}

TEST(DiscontinuityMender, LeavesFormatsWithoutJumpsAlone) {
    DiscontinuityMender mender(false);
    EXPECT_EQ(mended(mender, 0, 900000), 900000);
    EXPECT_EQ(mended(mender, 0, 0), 0);
    EXPECT_EQ(mender.offset(), 0);
}

// Two transport streams joined with cat: video and audio start over.
TEST(DiscontinuityMender, ContinuesAJoinedStreamWhereTheFirstPartEnded) {
    DiscontinuityMender mender(true);
    std::vector<std::int64_t> video;
    std::vector<std::int64_t> audio;
    for (int part = 0; part < 2; ++part) {
        for (int i = 0; i < 50; ++i) {
            video.push_back(mended(mender, 0, 126000 + i * 3600));
            audio.push_back(mended(mender, 1, 126000 + i * 3600));
        }
    }
    for (std::size_t i = 1; i < video.size(); ++i) {
        EXPECT_EQ(video[i] - video[i - 1], 3600) << "video packet " << i;
        EXPECT_EQ(audio[i] - audio[i - 1], 3600) << "audio packet " << i;
    }
}

TEST(DiscontinuityMender, ClosesLongJumpsForwardButKeepsSmallSteps) {
    DiscontinuityMender mender(true);
    EXPECT_EQ(mended(mender, 0, 0), 0);
    // 0.05 s back: B-frame order or jitter, not a discontinuity.
    EXPECT_EQ(mended(mender, 0, -900), -900);
    // 20 s forward: the clock jumped; the stream goes on one frame later.
    EXPECT_EQ(mended(mender, 0, 20 * 90000), 2700);
    // 5 s forward: a pause the stream may really have.
    EXPECT_EQ(mended(mender, 0, 25 * 90000), 2700 + 5 * 90000);
}

TEST(DiscontinuityMender, SubtitlesFollowTheOffsetWithoutMovingIt) {
    DiscontinuityMender mender(true);
    mended(mender, 0, 900000);
    EXPECT_EQ(mended(mender, 0, 0), 903600);
    const std::int64_t offset = mender.offset();
    EXPECT_EQ(mended(mender, 2, 0, false), 903600);
    EXPECT_EQ(mended(mender, 2, 90000000, false), 90903600);
    EXPECT_EQ(mender.offset(), offset);
}

// Places frames of `pts` (1/90000) on a 1/25 encoder; -1 for a dropped frame.
std::vector<std::int64_t> place(VideoSync& sync, const std::vector<std::int64_t>& pts, AVRational encoder = {1, 25}) {
    std::vector<std::int64_t> ticks;
    for (const std::int64_t t : pts) {
        const std::optional<std::int64_t> tick = sync.place(t, 3600, kMpegTime, encoder);
        ticks.push_back(tick ? *tick : -1);
    }
    return ticks;
}

TEST(VideoSync, CountsTicksFromTheFirstFrameWhateverItsTime) {
    VideoSync sync;
    // The first frame 0.023 s after a whole frame: the grid starts there.
    EXPECT_EQ(place(sync, {2070, 5670, 9270, 12870}), (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(sync.origin(), 2070);
}

TEST(VideoSync, MovesRepeatsOnAndDropsFramesFarBehind) {
    VideoSync sync;
    const std::int64_t f = 3600;
    EXPECT_EQ(place(sync, {0, f, f, 3 * f, f, AV_NOPTS_VALUE, 6 * f}),
              (std::vector<std::int64_t>{0, 1, 2, 3, -1, 4, 6}));
}

TEST(VideoSync, KeepsVariableTimesOnAFinerGrid) {
    VideoSync sync;
    // 0.1 s apart, then 1/30 s, on a 1/30 encoder: every frame at its own time.
    EXPECT_EQ(place(sync, {0, 9000, 18000, 21000, 24000}, AVRational{1, 30}),
              (std::vector<std::int64_t>{0, 3, 6, 7, 8}));
}

TEST(VideoSync, AFirstFrameWithoutTimeStartsAtZero) {
    VideoSync sync;
    EXPECT_EQ(place(sync, {AV_NOPTS_VALUE, AV_NOPTS_VALUE}), (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(sync.origin(), 0);
}

struct MuxCase {
    std::int64_t pts, dts;            // handed in
    std::int64_t want_pts, want_dts;  // handed to the muxer
};

// Mends `packets` one after the other for one stream.
void expect_mended(bool nonstrict, std::initializer_list<MuxCase> packets) {
    MuxTimestamps timestamps;
    for (const MuxCase& c : packets) {
        AVPacket packet = packet_at(0, c.dts);
        packet.pts = c.pts;
        timestamps.mend(packet, nonstrict);
        EXPECT_EQ(packet.pts, c.want_pts) << "pts " << c.pts << ", dts " << c.dts;
        EXPECT_EQ(packet.dts, c.want_dts) << "pts " << c.pts << ", dts " << c.dts;
    }
}

TEST(MuxTimestamps, KeepsDecodingOrderAndPtsNotBeforeDts) {
    // A repeat moves to the next tick; a later picture with an early dts
    // keeps its pts.
    expect_mended(false, {{10, 10, 10, 10}, {10, 10, 11, 11}, {20, 5, 20, 12}});
    // Formats that take equal timestamps get them.
    expect_mended(true, {{10, 10, 10, 10}, {10, 10, 10, 10}});
}

TEST(MuxTimestamps, ReplacesADtsAfterItsPtsByTheMedian) {
    expect_mended(false, {{40, 50, 40, 40}});
    // The median of 120, 130 and the next tick, 101.
    expect_mended(false, {{100, 100, 100, 100}, {120, 130, 120, 120}});
}

}  // namespace
}  // namespace ocuvex::media
