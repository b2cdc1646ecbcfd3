// The FFmpeg-based pipeline on small pictures and files made in the test:
// the scale graphs that absorb size and format changes, a video written by
// a VideoOutput and read back by an Input (times, pixels, damage), and whole
// jobs with their stages overlapped against the same jobs in turn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "media/conversion.h"
#include "media/input.h"
#include "media/job.h"
#include "media/libav_compat.h"
#include "media/output.h"
#include "media/scale_graph.h"

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

namespace ocuvex::media {
namespace {

// A picture of one colour in any planar YUV format (or packed BGR0).
FramePtr uniform_picture(int w, int h, AVPixelFormat format, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    FramePtr picture = allocate_frame();
    picture->width = w;
    picture->height = h;
    picture->format = format;
    EXPECT_EQ(av_frame_get_buffer(picture.get(), 0), 0);
    const int planes = format == AV_PIX_FMT_BGR0 ? 1 : 3;
    const std::uint8_t values[3] = {y, u, v};
    for (int plane = 0; plane < planes; ++plane) {
        const int rows = plane == 0 || format != AV_PIX_FMT_YUV420P ? h : (h + 1) / 2;
        for (int row = 0; row < rows; ++row) {
            std::memset(picture->data[plane] + static_cast<std::ptrdiff_t>(row) * picture->linesize[plane],
                        values[plane], static_cast<std::size_t>(picture->linesize[plane]));
        }
    }
    return picture;
}

// Every pixel of a BGR0 picture within `slack` of (b, g, r).
void expect_colour(const AVFrame* picture, int b, int g, int r, int slack, const char* what) {
    for (int y = 0; y < picture->height; ++y) {
        const std::uint8_t* row = picture->data[0] + static_cast<std::ptrdiff_t>(y) * picture->linesize[0];
        for (int x = 0; x < picture->width; ++x) {
            ASSERT_NEAR(row[4 * x], b, slack) << what << " at " << x << "," << y;
            ASSERT_NEAR(row[4 * x + 1], g, slack) << what << " at " << x << "," << y;
            ASSERT_NEAR(row[4 * x + 2], r, slack) << what << " at " << x << "," << y;
        }
    }
}

TEST(ScaleGraph, TurnsEverySizeAndFormatIntoTheFirstPicturesGeometry) {
    ScaleGraph graph(ScaleTarget{64, 36, AV_PIX_FMT_BGR0, {}});
    // BT.601 red, green and blue in limited range, in three shapes.
    const FramePtr red = uniform_picture(64, 36, AV_PIX_FMT_YUV420P, 81, 90, 240);
    const FramePtr green = uniform_picture(80, 48, AV_PIX_FMT_YUV444P, 145, 54, 34);
    const FramePtr blue = uniform_picture(31, 17, AV_PIX_FMT_YUV420P, 41, 240, 110);
    for (int round = 0; round < 2; ++round) {
        for (const auto& [picture, b, g, r] : {std::tuple{red.get(), 0, 0, 255}, std::tuple{green.get(), 0, 255, 0},
                                               std::tuple{blue.get(), 255, 0, 0}}) {
            const AVFrame* out = graph.convert(picture);
            ASSERT_EQ(out->width, 64);
            ASSERT_EQ(out->height, 36);
            ASSERT_EQ(out->format, AV_PIX_FMT_BGR0);
            expect_colour(out, b, g, r, 3, av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)));
        }
    }
}

TEST(ScaleGraph, HandsOnPicturesThatAlreadyFitUntouched) {
    ScaleGraph graph(ScaleTarget{8, 4, AV_PIX_FMT_BGR0, {}});
    const FramePtr fitting = uniform_picture(8, 4, AV_PIX_FMT_BGR0, 1, 2, 3);
    EXPECT_EQ(graph.convert(fitting.get()), fitting.get());
    const FramePtr larger = uniform_picture(9, 4, AV_PIX_FMT_BGR0, 10, 0, 0);
    const AVFrame* scaled = graph.convert(larger.get());
    EXPECT_NE(scaled, larger.get());
    EXPECT_EQ(scaled->width, 8);
}

TEST(ScaleGraph, WritesTheEncodersColourMatrixAndRange) {
    ScaleGraph graph(ScaleTarget{16, 8, AV_PIX_FMT_YUV420P, "out_color_matrix=bt709:out_range=tv"});
    const FramePtr white = uniform_picture(16, 8, AV_PIX_FMT_BGR0, 255, 255, 255);
    const AVFrame* out = graph.convert(white.get());
    EXPECT_NEAR(out->data[0][0], 235, 1);  // limited range: white is 235
    EXPECT_NEAR(out->data[1][0], 128, 1);
}

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/ocuvex-media-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string file(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// 8x6 pictures whose every byte tells the frame and the position apart.
std::uint8_t pattern(int frame, int x, int y, int channel) {
    return static_cast<std::uint8_t>(frame * 29 + x * 7 + y * 13 + channel * 61);
}

// A lossless video of 8x6 pictures of the core's pixels at 10 frames a second.
struct ClipWriter {
    explicit ClipWriter(const std::string& path, const AVStream* source = nullptr)
        : muxer(*find_output_format(path), path),
          video(muxer, pictures(), encoding(), tags(source), timeline, notices) {
        muxer.open(path);
    }
    static PictureFormat pictures() {
        PictureFormat format;
        format.w = 8;
        format.h = 6;
        format.format = kCorePixelFormat;
        return format;
    }
    static VideoEncoding encoding() {
        VideoEncoding encoding;
        encoding.codec = "ffv1";
        return encoding;
    }
    static VideoTags tags(const AVStream* source) {
        VideoTags tags;
        tags.frame_rate = AVRational{10, 1};
        tags.source = source;
        return tags;
    }
    void finish() {
        video.finish();
        muxer.finish();
    }
    Muxer muxer;
    const Timeline timeline;
    Notices notices;
    VideoOutput video;
};

// Writes `frames` lossless frames 0.1 s apart, the first at 0.023 s.
void write_clip(const std::string& path, int frames) {
    ClipWriter clip(path);
    VideoOutput& writer = clip.video;
    for (int i = 0; i < frames; ++i) {
        AVFrame* picture = writer.next_picture();
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 8; ++x) {
                for (int c = 0; c < 4; ++c) {
                    picture->data[0][y * picture->linesize[0] + 4 * x + c] = pattern(i, x, y, c);
                }
            }
        }
        ASSERT_TRUE(writer.write_picture(23 + 100 * i, 100, AVRational{1, 1000}));
    }
    if (frames > 0) {
        // A frame far behind the last one's time is dropped, and counted.
        writer.next_picture();
        EXPECT_FALSE(writer.write_picture(23, 100, AVRational{1, 1000}));
        EXPECT_EQ(writer.frames_dropped(), 1);
    }
    clip.finish();
}

TEST(InputAndVideoOutput, ReadBackEveryFrameAtItsTimeWithItsPixels) {
    TempFolder folder;
    const std::string path = folder.file("clip.mkv");
    write_clip(path, 5);
    Input reader(path);
    EXPECT_EQ(reader.width(), 8);
    EXPECT_EQ(reader.height(), 6);
    EXPECT_EQ(reader.demuxer().frame_rate().num, 10);
    ScaleGraph to_core(ScaleTarget{8, 6, AV_PIX_FMT_BGR0, {}});
    int frames = 0;
    while (reader.next() != Input::Event::End) {
        const AVFrame* frame = reader.frame();
        EXPECT_EQ(frame->pts * 1000 * reader.demuxer().video_stream()->time_base.num /
                      reader.demuxer().video_stream()->time_base.den,
                  23 + 100 * frames);
        const AVFrame* pixels = to_core.convert(frame);
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 8; ++x) {
                for (int c = 0; c < 3; ++c) {
                    ASSERT_EQ(pixels->data[0][y * pixels->linesize[0] + 4 * x + c], pattern(frames, x, y, c))
                        << "frame " << frames << " at " << x << "," << y;
                }
            }
        }
        ++frames;
    }
    EXPECT_EQ(frames, 5);
    EXPECT_FALSE(reader.damage().any());
}

TEST(InputAndVideoOutput, FindsAFrameByNumberAndSaysHowManyThereAre) {
    TempFolder folder;
    const std::string path = folder.file("clip.mkv");
    write_clip(path, 12);
    Input reader(path);
    ASSERT_TRUE(reader.seek_frame(7));
    ASSERT_EQ(reader.next(), Input::Event::VideoFrame);
    ScaleGraph to_core(ScaleTarget{8, 6, AV_PIX_FMT_BGR0, {}});
    EXPECT_EQ(to_core.convert(reader.frame())->data[0][0], pattern(7, 0, 0, 0));
    Input again(path);
    EXPECT_FALSE(again.seek_frame(12));
    EXPECT_EQ(again.frames_in_input(), 12);
}

TEST(InputAndVideoOutput, AFileCutShortIsDamageStrictModeRefuses) {
    TempFolder folder;
    const std::string path = folder.file("clip.mkv");
    write_clip(path, 10);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) * 2 / 3);

    Input lenient(path);
    int frames = 0;
    while (lenient.next() != Input::Event::End) {
        ++frames;
    }
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, 10);
    EXPECT_TRUE(lenient.damage().any());

    InputOptions strict;
    strict.strict = true;
    Input refusing(path, strict);
    EXPECT_THROW(
        {
            while (refusing.next() != Input::Event::End) {
            }
        },
        MediaError);
}

// FFV1 packets of 16x16 pictures, with slice checksums, packet `damaged`
// with a few bytes overwritten; `decoder` gets their parameters.
std::vector<PacketPtr> ffv1_packets(int count, int damaged, AVCodecContext* decoder) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    const CodecContextPtr encoder(allocated(avcodec_alloc_context3(codec)));
    encoder->width = 16;
    encoder->height = 16;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational{1, 25};
    OptionDict options;
    options.set("level", "3");
    options.set("slicecrc", "1");
    EXPECT_EQ(avcodec_open2(encoder.get(), codec, options.get()), 0);
    const std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> parameters(
        avcodec_parameters_alloc(), [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
    EXPECT_GE(avcodec_parameters_from_context(parameters.get(), encoder.get()), 0);
    EXPECT_GE(avcodec_parameters_to_context(decoder, parameters.get()), 0);
    std::vector<PacketPtr> packets;
    for (int i = 0; i <= count; ++i) {
        const FramePtr picture =
            uniform_picture(16, 16, AV_PIX_FMT_YUV420P, static_cast<std::uint8_t>(16 + i * 9), 90, 140);
        picture->pts = i;
        EXPECT_GE(avcodec_send_frame(encoder.get(), i < count ? picture.get() : nullptr), 0);
        PacketPtr packet = allocate_packet();
        while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
            packets.push_back(std::move(packet));
            packet = allocate_packet();
        }
    }
    AVPacket* hit = packets.at(static_cast<std::size_t>(damaged)).get();
    EXPECT_EQ(av_packet_make_writable(hit), 0);
    std::memset(hit->data + hit->size / 2, 0xff, 4);
    return packets;
}

// The decoder's error lines belong to the packet it was decoding, also when
// a frame thread logs them from its own copy of the context; lines of other
// contexts are not the decoder's.
TEST(DecoderLog, TellsTheLinesOfEachPacketApartThroughFrameThreads) {
    capture_library_log();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_FFV1);
    DecoderLog log;
    const CodecContextPtr decoder(allocated(avcodec_alloc_context3(codec)));
    const std::vector<PacketPtr> packets = ffv1_packets(8, 5, decoder.get());
    decoder->thread_count = 3;
    decoder->thread_type = FF_THREAD_FRAME;
    decoder->err_recognition = AV_EF_CRCCHECK;
    carry_packet_numbers(decoder.get());
    ASSERT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);
    const CodecContextPtr other(allocated(avcodec_alloc_context3(codec)));
    const FramePtr frame = allocate_frame();
    std::vector<std::int64_t> frame_numbers;
    const auto receive_all = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            frame_numbers.push_back(frame_packet_number(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    for (std::size_t i = 0; i < packets.size(); ++i) {
        log.decoding(decoder.get(), static_cast<std::int64_t>(i));
        set_packet_number(decoder.get(), packets[i].get(), static_cast<std::int64_t>(i));
        ASSERT_GE(avcodec_send_packet(decoder.get(), packets[i].get()), 0);
        receive_all();
    }
    av_log(other.get(), AV_LOG_ERROR, "not the decoder's\n");
    ASSERT_GE(avcodec_send_packet(decoder.get(), nullptr), 0);
    receive_all();
    std::vector<DecoderLog::Line> lines;
    log.take(lines);
    ASSERT_FALSE(lines.empty());
    for (const DecoderLog::Line& line : lines) {
        EXPECT_EQ(line.packet, 5) << line.text;
        EXPECT_EQ(line.text.rfind("ffv1: ", 0), 0U) << line.text;
    }
    EXPECT_EQ(frame_numbers, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    log.take(lines);
    EXPECT_TRUE(lines.empty());
}

TEST(InputAndVideoOutput, AFileWithoutPicturesIsRefusedInOneLine) {
    TempFolder folder;
    const std::string path = folder.file("empty.mkv");
    write_clip(path, 0);
    try {
        Input reader(path);
        FAIL() << "opened a video without frames";
    } catch (const MediaError& error) {
        EXPECT_NE(std::string(error.what()).find("has no frame that can be decoded"), std::string::npos)
            << error.what();
    }
}

// Copies the video of `from` into `to` with HDR's static metadata on its
// stream, as an HDR10 file carries it.
void remux_with_hdr_metadata(const std::string& from, const std::string& to, const AVMasteringDisplayMetadata& display,
                             const AVContentLightMetadata& light) {
    AVFormatContext* opened = nullptr;
    ASSERT_EQ(avformat_open_input(&opened, from.c_str(), nullptr, nullptr), 0);
    const InputContextPtr input(opened);
    ASSERT_GE(avformat_find_stream_info(opened, nullptr), 0);
    AVFormatContext* made = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&made, nullptr, nullptr, to.c_str()), 0);
    const OutputContextPtr output(made);
    AVStream* stream = avformat_new_stream(made, nullptr);
    ASSERT_NE(stream, nullptr);
    ASSERT_GE(avcodec_parameters_copy(stream->codecpar, opened->streams[0]->codecpar), 0);
    stream->time_base = opened->streams[0]->time_base;
    ASSERT_EQ(set_stream_side_data(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &display, sizeof display), 0);
    ASSERT_EQ(set_stream_side_data(stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &light, sizeof light), 0);
    ASSERT_GE(avio_open(&made->pb, to.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(made, nullptr), 0);
    const PacketPtr packet = allocate_packet();
    while (av_read_frame(opened, packet.get()) >= 0) {
        av_packet_rescale_ts(packet.get(), opened->streams[0]->time_base, stream->time_base);
        ASSERT_GE(av_interleaved_write_frame(made, packet.get()), 0);
    }
    ASSERT_GE(av_write_trailer(made), 0);
}

// HDR's mastering display and light levels reach the output's video stream
// (Matroska writes both), whatever the mode does to the pictures.
TEST(InputAndVideoOutput, TheVideoKeepsItsHdrMasteringDisplayAndLightLevels) {
    TempFolder folder;
    AVMasteringDisplayMetadata display{};
    const AVRational primaries[3][2] = {{{17, 25}, {8, 25}}, {{53, 200}, {69, 100}}, {{3, 20}, {3, 50}}};
    std::memcpy(display.display_primaries, primaries, sizeof primaries);
    display.white_point[0] = AVRational{3127, 10000};
    display.white_point[1] = AVRational{329, 1000};
    display.min_luminance = AVRational{1, 200};
    display.max_luminance = AVRational{1000, 1};
    display.has_primaries = display.has_luminance = 1;
    const AVContentLightMetadata light{1000, 400};
    write_clip(folder.file("clip.mkv"), 2);
    remux_with_hdr_metadata(folder.file("clip.mkv"), folder.file("hdr.mkv"), display, light);

    const std::string out = folder.file("out.mkv");
    {
        const Input reader(folder.file("hdr.mkv"));
        ClipWriter clip(out, reader.demuxer().video_stream());
        clip.video.next_picture();
        ASSERT_TRUE(clip.video.write_picture(0, 1, AVRational{1, 10}));
        clip.finish();
    }
    const Input written(out);
    const AVStream* stream = written.demuxer().video_stream();
    const AVPacketSideData* display_data = stream_side_data(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA);
    const AVPacketSideData* light_data = stream_side_data(stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL);
    ASSERT_NE(display_data, nullptr);
    ASSERT_NE(light_data, nullptr);
    const auto* got = reinterpret_cast<const AVMasteringDisplayMetadata*>(display_data->data);
    for (int c = 0; c < 3; ++c) {
        for (int xy = 0; xy < 2; ++xy) {
            EXPECT_EQ(av_cmp_q(got->display_primaries[c][xy], primaries[c][xy]), 0) << c << " " << xy;
        }
    }
    EXPECT_EQ(av_cmp_q(got->white_point[0], display.white_point[0]), 0);
    EXPECT_EQ(av_cmp_q(got->white_point[1], display.white_point[1]), 0);
    EXPECT_EQ(av_cmp_q(got->min_luminance, display.min_luminance), 0);
    EXPECT_EQ(av_cmp_q(got->max_luminance, display.max_luminance), 0);
    const auto* got_light = reinterpret_cast<const AVContentLightMetadata*>(light_data->data);
    EXPECT_EQ(got_light->MaxCLL, 1000U);
    EXPECT_EQ(got_light->MaxFALL, 400U);
}

// A lossless video of `frames` 8x6 pictures at 10 frames a second, each
// frame's bytes its own, with a second video of 4 frames a second between
// its packets, which a job converting the first carries along.
void write_two_videos(const std::string& path, int frames) {
    Muxer muxer(*find_output_format(path), path);
    const Timeline timeline;
    Notices notices;
    VideoTags slower = ClipWriter::tags(nullptr);
    slower.frame_rate = AVRational{4, 1};
    VideoOutput video(muxer, ClipWriter::pictures(), ClipWriter::encoding(), ClipWriter::tags(nullptr), timeline,
                      notices);
    VideoOutput other(muxer, ClipWriter::pictures(), ClipWriter::encoding(), slower, timeline, notices);
    muxer.open(path);
    const auto fill = [](AVFrame* picture, int frame) {
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 8; ++x) {
                for (int c = 0; c < 4; ++c) {
                    picture->data[0][y * picture->linesize[0] + 4 * x + c] = pattern(frame, x, y, c);
                }
            }
        }
    };
    for (int i = 0, other_frames = 0; i < frames; ++i) {
        fill(video.next_picture(), i);
        ASSERT_TRUE(video.write_picture(100 * i, 100, AVRational{1, 1000}));
        if (100 * i >= 250 * other_frames) {
            fill(other.next_picture(), 200 - other_frames);
            ASSERT_TRUE(other.write_picture(250 * other_frames, 250, AVRational{1, 1000}));
            ++other_frames;
        }
    }
    video.finish();
    other.finish();
    muxer.finish();
}

// Every packet of a file in the order it holds them: stream, times and bytes.
using Packets = std::vector<std::tuple<int, std::int64_t, std::int64_t, std::vector<std::uint8_t>>>;
Packets packets_of(const std::string& path) {
    AVFormatContext* opened = nullptr;
    EXPECT_EQ(avformat_open_input(&opened, path.c_str(), nullptr, nullptr), 0) << path;
    const InputContextPtr file(opened);
    const PacketPtr packet = allocate_packet();
    Packets packets;
    while (opened != nullptr && av_read_frame(opened, packet.get()) >= 0) {
        packets.emplace_back(packet->stream_index, packet->pts, packet->dts,
                             std::vector<std::uint8_t>(packet->data, packet->data + packet->size));
        av_packet_unref(packet.get());
    }
    return packets;
}

// What a job wrote (the file's packets) and what it said while running.
struct JobResult {
    Packets packets;
    std::vector<std::int64_t> counts;  // on_frame's, in order
    std::string failure;               // the MediaError's text, if it threw one
};

JobResult run_job(const std::string& input, const std::string& output, bool overlap, bool strict) {
    JobRequest request;
    request.settings.mode = MODE_SBS_TO_AB;
    request.encoding.codec = "ffv1";
    request.overlap_stages = overlap;
    request.input.video_stream = 0;
    request.input.strict = strict;
    JobResult result;
    try {
        ConvertJob job(input, request);
        job.open_output(*find_output_format(output), output, output);
        const std::int64_t written = job.run([&result](std::int64_t count) { result.counts.push_back(count); });
        EXPECT_EQ(written, static_cast<std::int64_t>(result.counts.size()));
        job.finish();
    } catch (const MediaError& error) {
        result.failure = error.what();
        return result;
    }
    result.packets = packets_of(output);
    return result;
}

// Overlapped, the stages hand on every frame once and in order, with the
// carried stream's packets in their places: the output is the one the
// stages give in turn, packet for packet. 40 frames take the pool of
// pictures round more than twice.
TEST(ConvertJob, OverlappedStagesWriteWhatTheStagesInTurnWrite) {
    TempFolder folder;
    const std::string input = folder.file("two.mkv");
    write_two_videos(input, 40);
    const JobResult in_turn = run_job(input, folder.file("in_turn.mkv"), false, false);
    const JobResult overlapped = run_job(input, folder.file("overlapped.mkv"), true, false);
    ASSERT_EQ(in_turn.failure, "");
    ASSERT_EQ(overlapped.failure, "");
    ASSERT_EQ(in_turn.counts.size(), 40u);
    EXPECT_EQ(overlapped.counts, in_turn.counts);
    int carried = 0;
    for (const auto& packet : in_turn.packets) {
        carried += std::get<0>(packet) == 1 ? 1 : 0;
    }
    EXPECT_EQ(carried, 16);
    ASSERT_EQ(overlapped.packets.size(), in_turn.packets.size());
    for (std::size_t i = 0; i < in_turn.packets.size(); ++i) {
        ASSERT_EQ(overlapped.packets[i], in_turn.packets[i]) << "packet " << i;
    }
}

// Damage in strict mode part way: the frames before it are written, in turn
// or overlapped, then the same error ends the job.
TEST(ConvertJob, AFailurePartWayComesAfterTheFramesBeforeIt) {
    TempFolder folder;
    const std::string input = folder.file("cut.mkv");
    write_two_videos(input, 30);
    std::filesystem::resize_file(input, std::filesystem::file_size(input) * 2 / 3);
    const JobResult in_turn = run_job(input, folder.file("in_turn.mkv"), false, true);
    const JobResult overlapped = run_job(input, folder.file("overlapped.mkv"), true, true);
    EXPECT_NE(in_turn.failure.find("is damaged"), std::string::npos) << in_turn.failure;
    EXPECT_EQ(overlapped.failure, in_turn.failure);
    EXPECT_FALSE(in_turn.counts.empty());
    EXPECT_EQ(overlapped.counts, in_turn.counts);
}

// A stop requested while the stages overlap ends the run with Interrupted,
// the threads joined, whichever stage sees it first.
TEST(ConvertJob, AStopRequestEndsAnOverlappedRun) {
    TempFolder folder;
    const std::string input = folder.file("two.mkv");
    write_two_videos(input, 40);
    StopRequest stop;
    JobRequest request;
    request.encoding.codec = "ffv1";
    request.input.stop = &stop;
    ConvertJob job(input, request);
    const std::string output = folder.file("out.mkv");
    job.open_output(*find_output_format(output), output, output);
    try {
        job.run([&stop](std::int64_t count) {
            if (count == 5) {
                stop.request(15);
            }
        });
        FAIL() << "not interrupted";
    } catch (const Interrupted& interrupted) {
        EXPECT_EQ(interrupted.reason, 15);
    }
}

}  // namespace
}  // namespace ocuvex::media
