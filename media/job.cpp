#include "media/job.h"

#include "core/output_geometry.h"
#include "media/libav_compat.h"
#include "media/pipeline.h"

namespace ocuvex::media {

namespace {

InputOptions stopped_by(const InputOptions& options, const StopRequest& stop) {
    InputOptions with = options;
    with.stop = &stop;
    return with;
}

}  // namespace

ConvertJob::ConvertJob(const JobRequest& request,
                       const std::function<std::unique_ptr<Input>(const InputOptions&)>& open_input)
    : stop_(request.input.stop),
      input_stop_(request.input.stop),
      encoding_(request.encoding),
      max_frames_(request.max_frames),
      overlap_stages_(request.overlap_stages),
      coefficients_(request.coefficients),
      input_(open_input(stopped_by(request.input, input_stop_))) {
    read_settings(request);
}

ConvertJob::ConvertJob(const std::string& input_path, const JobRequest& request)
    : ConvertJob(request,
                 [&input_path](const InputOptions& options) { return std::make_unique<Input>(input_path, options); }) {}

ConvertJob::ConvertJob(AVIOContext* io, const std::string& name, const JobRequest& request)
    : ConvertJob(request,
                 [io, &name](const InputOptions& options) { return std::make_unique<Input>(io, name, options); }) {}

ConvertJob::~ConvertJob() = default;

void ConvertJob::read_settings(const JobRequest& request) {
    // The input's word on which eye is where sets the swap, the user's on top.
    if (request.follow_stereo_metadata) {
        declared_ = declared_stereo_layout(input_->demuxer().video_stream());
    }
    stereo_ = read_stereo_layout(request.settings.mode, input_->height(), declared_, input_->name());
    asked_ = request.settings;
    asked_.swap_lr = (asked_.swap_lr != 0) != stereo_.metadata_swap ? 1 : 0;
    settings_ = asked_;
    const OutputGeometry geometry = compute_output_geometry(settings_, input_->width(), input_->height());
    output_size_ = FrameSize{geometry.w, geometry.h};
    const AVRational sar = input_->sample_aspect_ratio();
    aspect_ = display_aspect(settings_, FrameSize{input_->width(), input_->height()}, output_size_,
                             Ratio{sar.num, sar.den}, request.packing);
    timeline_ = Timeline(input_->demuxer().start_time());
}

bool ConvertJob::seek_frame(std::int64_t index) { return input_->seek_frame(index); }

void ConvertJob::open_output(const OutputFormat& format, const std::string& path, const std::string& name) {
    plan_ = std::make_unique<ConversionPlan>(plan_conversion(settings_, input_->frame(), output_size_));
    plan_->coefficients = coefficients_;
    notices_ = plan_->notes;
    converter_ = std::make_unique<PictureConverter>(*plan_);
    muxer_ = std::make_unique<Muxer>(format, name, *stop_);
    const bool carries = !format.is_still();
    const FrameSize source{input_->width(), input_->height()};
    VideoTags tags;
    tags.frame_rate = input_->demuxer().frame_rate();
    // An input that names no aspect gets none where its pixels stay square.
    const bool unnamed = input_->sample_aspect_ratio().num <= 0;
    if (!unnamed || !(aspect_.sample_aspect == Ratio{1, 1})) {
        tags.sample_aspect_ratio =
            AVRational{static_cast<int>(aspect_.sample_aspect.num), static_cast<int>(aspect_.sample_aspect.den)};
    }
    VideoEncoding encoding = encoding_;
    if (aspect_.squeezed) {
        encoding.width = aspect_.size.w;
        encoding.height = aspect_.size.h;
    }
    tags.stereo_layout = output_stereo_layout(settings_, stereo_, declared_);
    tags.field_order = output_field_order(settings_, source, output_size_, input_->field_order());
    // A still picture is one frame: nothing else of the input goes along.
    tags.source = carries ? input_->demuxer().video_stream() : nullptr;
    if (!carries) {
        timeline_ = Timeline();
    }
    video_ = std::make_unique<VideoOutput>(*muxer_, plan_->pictures, encoding, tags, timeline_, notices_);
    if (carries) {
        const AVFormatContext* file = input_->demuxer().format();
        streams_ = std::make_unique<StreamMap>(file, input_->demuxer().video_index(), *muxer_, timeline_,
                                               aspect_.size.w, aspect_.size.h, notices_);
        carry_file_tags(file, *muxer_, timeline_);
    }
    muxer_->open(path);
}

std::int64_t ConvertJob::run(const std::function<void(std::int64_t)>& on_frame) {
    const std::int64_t max_frames = muxer_->format().is_still() ? 1 : max_frames_;
    if (overlap_stages_ && max_frames == 0) {
        return run_overlapped(JobStages{*input_, *converter_, *video_, streams_.get(), input_stop_}, on_frame);
    }
    const AVRational time_base = input_->demuxer().video_stream()->time_base;
    std::int64_t written = 0;
    while (max_frames == 0 || written < max_frames) {
        switch (input_->next()) {
        case Input::Event::VideoFrame: {
            const AVFrame* decoded = input_->frame();
            converter_->convert(decoded, video_->next_picture());
            if (video_->write_picture(decoded->pts, frame_duration(decoded), time_base)) {
                ++written;
                if (on_frame) {
                    on_frame(written);
                }
            }
            break;
        }
        case Input::Event::Packet:
            if (streams_ != nullptr) {
                streams_->write(input_->packet());
            } else {
                av_packet_unref(input_->packet());
            }
            break;
        case Input::Event::End:
            return written;
        }
    }
    return written;
}

void ConvertJob::finish() {
    video_->finish();
    if (streams_ != nullptr) {
        streams_->finish();
    }
    muxer_->finish();
}

std::int64_t ConvertJob::frames_dropped() const { return video_ != nullptr ? video_->frames_dropped() : 0; }

}  // namespace ocuvex::media
