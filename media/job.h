// A conversion job: one input file through the core into one output file,
// as `ocuvex convert` runs it. It owns every stage: the input (demux and
// decode), the plan and the picture converter, the converted video's output
// (encode), the other streams' map, and the muxer. One frame's path:
//
//   Input::next()  ->  PictureConverter::convert()  ->  VideoOutput::write_picture()  ->  Muxer::write()
//
// and one packet of a carried stream's: Input::next() -> StreamMap::write()
// -> Muxer::write(), through a transcoder where the container needs another
// codec. A video's stages run at once, each on a thread of its own
// (media/pipeline.h); a job that stops after a number of frames (a still
// picture, max_frames) runs them in turn, so that it reads and judges no
// frame it does not write.
//
// A job is set up in two steps, so that its user can check what it found
// before anything is written: the constructor opens the input and works out
// the settings and the output's size; open_output() plans the conversion
// from the frame at hand and opens the output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/anaglyph.h"
#include "core/display_shape.h"
#include "core/filter_settings.h"
#include "media/conversion.h"
#include "media/input.h"
#include "media/mux.h"
#include "media/notice.h"
#include "media/output.h"
#include "media/stereo_metadata.h"
#include "media/stream_map.h"
#include "media/timestamps.h"

namespace ocuvex::media {

struct JobRequest {
    FilterSettings settings = default_settings();  // as asked; the input's stereo metadata may add a swap
    AnaglyphMatrix coefficients = anaglyph_default_coefficients;
    // Whether the views follow the input's stereo metadata (Matroska's
    // StereoMode, MP4's stereo side data) where it says the left eye is
    // elsewhere than the mode reads it.
    bool follow_stereo_metadata = true;
    // How INPUT packs its views and how OUTPUT should (--half, --output-packing).
    PackingChoice packing;
    InputOptions input;
    VideoEncoding encoding;
    std::int64_t max_frames = 0;  // frames written at most (ffmpeg's -frames:v); 0: all
    // Whether decoding, the conversion and encoding overlap; false runs
    // them in turn, which the overlapped run matches frame for frame.
    bool overlap_stages = true;
};

class ConvertJob {
  public:
    // Opens `input_path` ("-": standard input), decodes its first frame and
    // works out the settings and the output's size. Throws MediaError.
    ConvertJob(const std::string& input_path, const JobRequest& request);
    // The same from `io`, which must outlive the job; `name` names it.
    ConvertJob(AVIOContext* io, const std::string& name, const JobRequest& request);
    ConvertJob(const ConvertJob&) = delete;
    ConvertJob& operator=(const ConvertJob&) = delete;
    ~ConvertJob();

    const Input& input() const { return *input_; }
    // What the input's stereo metadata means for the conversion.
    const StereoReading& stereo() const { return stereo_; }
    // The settings asked for, with the swap the stereo metadata adds, and
    // the same corrected to fit the input (output_size() is theirs).
    const FilterSettings& asked_settings() const { return asked_; }
    const FilterSettings& settings() const { return settings_; }
    // The converted frames' size; the file's is aspect().size, squeezed
    // when a half output of a full input is asked for.
    FrameSize output_size() const { return output_size_; }
    // How the output displays: its pixel aspect and packing.
    const DisplayAspect& aspect() const { return aspect_; }

    // For a still output from a video: makes frame `index` the one
    // converted. False when the input ends before (Input::frames_in_input()
    // says how many it has).
    bool seek_frame(std::int64_t index);

    // Plans the conversion from the frame at hand and opens the output of
    // `format` at `path` (for a sequence, the pattern of its files; empty
    // for a muxer without a file); `name` names it in messages. A video
    // output carries what the input holds besides its converted video; a
    // still picture is the one frame. Throws MediaError.
    void open_output(const OutputFormat& format, const std::string& path, const std::string& name);
    // What the user should know about the plan and the output: notes and
    // warnings, in the order they arose.
    const Notices& notices() const { return notices_; }

    // Converts frames until the input ends or the request's max_frames are
    // written (one for a still output), calling `on_frame` with the count
    // written after each, on the thread that writes the output (not the
    // calling one when the stages overlap). Returns the count written.
    // Throws MediaError and Interrupted.
    std::int64_t run(const std::function<void(std::int64_t)>& on_frame = {});
    // Drains the encoders and completes the output. Throws MediaError.
    void finish();

    const DamageTally& damage() const { return input_->damage(); }
    // Frames dropped because they fell behind the ones before them.
    std::int64_t frames_dropped() const;

  private:
    // The input made by `open_input` with the request's options, its stop
    // request the job's own.
    ConvertJob(const JobRequest& request, const std::function<std::unique_ptr<Input>(const InputOptions&)>& open_input);
    void read_settings(const JobRequest& request);

    const StopRequest* stop_;
    // The input's: made with the job's, or alone when the other stages stop
    // before the input ends.
    StopRequest input_stop_;
    VideoEncoding encoding_;
    std::int64_t max_frames_;
    bool overlap_stages_;
    AnaglyphMatrix coefficients_;
    std::optional<StereoLayout> declared_;
    std::unique_ptr<Input> input_;
    StereoReading stereo_;
    FilterSettings asked_;
    FilterSettings settings_;
    FrameSize output_size_;
    DisplayAspect aspect_;
    Timeline timeline_;

    Notices notices_;
    std::unique_ptr<ConversionPlan> plan_;
    std::unique_ptr<PictureConverter> converter_;
    std::unique_ptr<Muxer> muxer_;
    std::unique_ptr<VideoOutput> video_;
    std::unique_ptr<StreamMap> streams_;  // null for a still output
};

}  // namespace ocuvex::media
