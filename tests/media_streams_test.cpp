// What becomes of an input's other streams in each container: described as
// a demuxer describes them, planned without a file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "media/stream_map.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace ocuvex::media {
namespace {

struct ContextFree {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

// An input whose stream 0 is the converted H.264 video.
class FakeInput {
  public:
    FakeInput() : context_(avformat_alloc_context()) { add(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264); }

    AVStream* add(AVMediaType type, AVCodecID codec) {
        AVStream* stream = avformat_new_stream(context_.get(), nullptr);
        AVCodecParameters* par = stream->codecpar;
        par->codec_type = type;
        par->codec_id = codec;
        stream->time_base = AVRational{1, 1000};
        if (type == AVMEDIA_TYPE_VIDEO) {
            par->width = 64;
            par->height = 36;
            par->format = AV_PIX_FMT_YUV420P;
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            par->sample_rate = 48000;
            par->format = AV_SAMPLE_FMT_FLTP;
            av_channel_layout_default(&par->ch_layout, 2);
        }
        return stream;
    }

    AVStream* video() const { return context_->streams[0]; }

    std::vector<StreamChoice> plan(const char* muxer, const char* name) const {
        return plan_streams(context_.get(), 0, av_guess_format(muxer, nullptr, nullptr), name);
    }

  private:
    std::unique_ptr<AVFormatContext, ContextFree> context_;
};

void expect_choice(const StreamChoice& choice, StreamAction action, const char* message_part) {
    EXPECT_EQ(choice.action, action) << "stream " << choice.index << ": " << choice.message;
    if (message_part == nullptr) {
        EXPECT_EQ(choice.message, "") << "stream " << choice.index;
    } else {
        EXPECT_NE(choice.message.find(message_part), std::string::npos)
            << "stream " << choice.index << ": " << choice.message;
    }
}

TEST(StreamPlan, TextSubtitlesBecomeTheTextCodecTheContainerHolds) {
    FakeInput input;
    input.add(AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_SUBRIP);
    input.add(AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_MOV_TEXT);
    const std::vector<StreamChoice> mp4 = input.plan("mp4", "out.mp4");
    ASSERT_EQ(mp4.size(), 2U);
    expect_choice(mp4[0], StreamAction::Convert, "stream 1 (subrip subtitle) becomes mov_text: 'out.mp4' cannot hold");
    EXPECT_EQ(mp4[0].codec, AV_CODEC_ID_MOV_TEXT);
    expect_choice(mp4[1], StreamAction::Copy, nullptr);
    const std::vector<StreamChoice> mkv = input.plan("matroska", "out.mkv");
    expect_choice(mkv[0], StreamAction::Copy, nullptr);
    expect_choice(mkv[1], StreamAction::Convert, "becomes ass");
    EXPECT_EQ(mkv[1].codec, AV_CODEC_ID_ASS);
}

TEST(StreamPlan, AStreamTheContainerCannotHoldIsConvertedOrLeftOutWithALineNamingIt) {
    FakeInput input;
    input.add(AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC);
    input.add(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_FFV1);
    AVStream* font = input.add(AVMEDIA_TYPE_ATTACHMENT, AV_CODEC_ID_TTF);
    av_dict_set(&font->metadata, "filename", "Sans.ttf", 0);
    input.add(AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_DVD_SUBTITLE);

    const std::vector<StreamChoice> mkv = input.plan("matroska", "out.mkv");
    ASSERT_EQ(mkv.size(), 4U);
    for (const StreamChoice& choice : mkv) {
        expect_choice(choice, StreamAction::Copy, nullptr);
    }
    const std::vector<StreamChoice> mp4 = input.plan("mp4", "out.mp4");
    expect_choice(mp4[0], StreamAction::Copy, nullptr);
    expect_choice(mp4[1], StreamAction::Convert, "stream 2 (ffv1 video) becomes h264: 'out.mp4' cannot hold ffv1");
    expect_choice(mp4[2], StreamAction::Omit,
                  "stream 3 (ttf attachment 'Sans.ttf') left out: 'out.mp4' cannot hold "
                  "attachments");
    expect_choice(mp4[3], StreamAction::Copy, nullptr);
    const std::vector<StreamChoice> gif = input.plan("gif", "out.gif");
    expect_choice(gif[0], StreamAction::Omit, "stream 1 (aac audio) left out: 'out.gif' cannot hold audio");
    expect_choice(gif[1], StreamAction::Omit, "'out.gif' cannot hold ffv1, nor a second gif video");
    expect_choice(gif[3], StreamAction::Omit, "'out.gif' cannot hold picture subtitles");
}

TEST(StreamPlan, ACoverPictureBecomesAMatroskaAttachmentAndStaysACoverInMp4) {
    FakeInput input;
    AVStream* cover = input.add(AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_PNG);
    cover->disposition = AV_DISPOSITION_ATTACHED_PIC;
    ASSERT_EQ(av_new_packet(&cover->attached_pic, 8), 0);
    std::memcpy(cover->attached_pic.data, "\x89PNG\r\n\x1a\n", 8);

    expect_choice(input.plan("matroska", "out.mkv")[0], StreamAction::Attach, nullptr);
    expect_choice(input.plan("mp4", "out.mp4")[0], StreamAction::Copy, nullptr);
    expect_choice(input.plan("webm", "out.webm")[0], StreamAction::Omit, "cannot hold a cover picture");

    const std::unique_ptr<AVFormatContext, ContextFree> output(avformat_alloc_context());
    AVStream* attachment = avformat_new_stream(output.get(), nullptr);
    make_cover_attachment(cover, attachment);
    EXPECT_EQ(attachment->codecpar->codec_type, AVMEDIA_TYPE_ATTACHMENT);
    ASSERT_EQ(attachment->codecpar->extradata_size, 8);
    EXPECT_EQ(std::memcmp(attachment->codecpar->extradata, cover->attached_pic.data, 8), 0);
    EXPECT_STREQ(av_dict_get(attachment->metadata, "filename", nullptr, 0)->value, "cover.png");
    EXPECT_STREQ(av_dict_get(attachment->metadata, "mimetype", nullptr, 0)->value, "image/png");
}

TEST(StreamPlan, TracksKeptAnotherWayAreNeitherCopiedNorReported) {
    FakeInput input;
    AVStream* timecode = input.add(AVMEDIA_TYPE_DATA, AV_CODEC_ID_NONE);
    timecode->codecpar->codec_tag = MKTAG('t', 'm', 'c', 'd');
    AVStream* chapters = input.add(AVMEDIA_TYPE_DATA, AV_CODEC_ID_BIN_DATA);
    chapters->discard = AVDISCARD_ALL;  // the MP4 demuxer reads its chapter track itself
    // Without a timecode tag on the video, the track is data the container cannot hold.
    std::vector<StreamChoice> plan = input.plan("matroska", "out.mkv");
    expect_choice(plan[0], StreamAction::Omit, "stream 1 (none data) left out");
    expect_choice(plan[1], StreamAction::WrittenOtherwise, nullptr);
    // With one, the muxer writes the timecode from the video's tag.
    av_dict_set(&input.video()->metadata, "timecode", "01:00:00:00", 0);
    plan = input.plan("mov", "out.mov");
    expect_choice(plan[0], StreamAction::WrittenOtherwise, nullptr);
    expect_choice(plan[1], StreamAction::WrittenOtherwise, nullptr);
}

}  // namespace
}  // namespace ocuvex::media
