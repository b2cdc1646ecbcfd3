// The analysis's way in: a few frames spread over a whole video, found by
// seeking where the input allows it and decoding little from each seek
// point, and each frame's 8-bit luma at full size, as the stereo analysis
// (core/stereo_analysis.h) measures it.
//
// A file that can seek is cut into as many equal stretches of time as
// samples are wanted, and each stretch gives one frame: its first key
// frame, decoded alone, or where it holds none (key frames further apart
// than the stretches) the first frame decoded on from the key frame before
// it. A pipe, a file whose length is unknown and a short file are decoded
// through, every Nth frame sampled; a still picture is one sample.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/stereo_analysis.h"
#include "media/decode.h"
#include "media/demux.h"
#include "media/libav.h"
#include "media/scale_graph.h"

namespace ocuvex::media {

enum class SamplingMethod {
    still,     // a single picture: its one frame
    seeking,   // a frame from each stretch of the file, found by seeking
    decoding,  // every Nth frame, decoding through
};

struct SampledFrame {
    const AVFrame* picture = nullptr;  // as decoded; null at the end
    double seconds = 0;                // from the first frame
    // Seeking: the stretch it comes from; decoding through: its frame number.
    std::int64_t position = 0;
};

class FrameSampler {
  public:
    // Opens `path` ("-": standard input), its video alone, and decodes the
    // first frame, to plan `samples` samples by. Throws MediaError.
    FrameSampler(const std::string& path, std::int32_t samples, InputOptions options = {});
    FrameSampler(const FrameSampler&) = delete;
    FrameSampler& operator=(const FrameSampler&) = delete;

    const Demuxer& demuxer() const { return demuxer_; }
    const std::string& name() const { return demuxer_.name(); }
    // The first frame's size.
    int width() const { return width_; }
    int height() const { return height_; }
    // The first frame's pixel aspect, as the stream or the frame says; 0/1
    // when neither says.
    AVRational sample_aspect_ratio() const { return sample_aspect_ratio_; }
    SamplingMethod method() const { return method_; }
    // The samples aimed at; an input may give fewer (fewer frames, or key
    // frames, than stretches).
    std::int32_t samples() const { return samples_; }
    // What decoding through decodes: the frames the container announces
    // (or its duration implies), 0 when unknown.
    std::int64_t frames_expected() const { return demuxer_.expected_frames(); }
    std::int64_t frames_decoded() const { return decoder_.frames_decoded(); }

    // The next sample, valid until the next call; its picture is null at the
    // end. `on_frame` hears of every frame decoded on the way (for a
    // progress line). Throws MediaError on a read error.
    const SampledFrame& next(const std::function<void(std::int64_t)>& on_frame = {});

    // Whether a sample handed out at `position` still counts. Decoding
    // through an input longer than announced (or of unknown length), the
    // samples are thinned out as it goes, every second one dropped, so that
    // at most samples() of them stay spread evenly over the whole input.
    bool keeps(std::int64_t position) const { return method_ != SamplingMethod::decoding || position % stride_ == 0; }

  private:
    enum class Stretch { sampled, passed, ended };
    enum class KeyFrame { taken, early, late };

    bool decode_on(const std::function<void(std::int64_t)>& on_frame);
    Stretch sample_stretch(std::int32_t index, const std::function<void(std::int64_t)>& on_frame);
    KeyFrame take_key_frame(std::int64_t after, std::int64_t before);
    void sample_decoding_through(const std::function<void(std::int64_t)>& on_frame);
    void hand_out(std::int64_t position);

    Demuxer demuxer_;
    VideoDecoder decoder_;
    PacketPtr packet_ = allocate_packet();
    FramePtr frame_ = allocate_frame();
    std::int32_t samples_ = 0;
    SamplingMethod method_ = SamplingMethod::decoding;
    int width_ = 0;
    int height_ = 0;
    AVRational sample_aspect_ratio_{0, 1};
    std::int64_t first_pts_ = 0;
    std::int64_t end_pts_ = 0;  // seeking: where the video ends, by the container
    SampledFrame sample_;
    std::int32_t handed_ = 0;            // samples handed out (seeking: stretches tried)
    bool first_waiting_ = true;          // the frame decoded on opening is not handed out yet
    bool ended_ = false;                 // the decoder is drained
    std::int64_t last_pts_ = INT64_MIN;  // the latest sample's time
    // Seeking: decoding on from the previous sample rather than seeking,
    // while the stretches hold no key frame of their own.
    bool decoding_on_ = false;
    std::int64_t last_key_pts_ = INT64_MIN;  // the latest key packet sent to the decoder
    // Decoding through: sample every stride-th frame; `kept_` of the
    // samples handed out so far are at multiples of the stride.
    std::int64_t stride_ = 1;
    std::int64_t kept_ = 0;
};

// A picture's 8-bit luma at full size, for the stereo analysis: the decoded
// plane itself for 8-bit YUV and grey pictures, no copy; other formats
// (more bits, RGB, a palette) converted to grey once, at their own size.
class LumaReader {
  public:
    // Valid until the next call or until `picture` changes. Throws MediaError.
    LumaView luma(const AVFrame* picture);

  private:
    std::optional<ScaleGraph> graph_;
};

}  // namespace ocuvex::media
