#include "tools/ocuvex/media_conversion.h"

#include "core/frame_conversion.h"
#include "tools/ocuvex/libav_compat.h"
#include "tools/ocuvex/media_pixels.h"

namespace ocuvex::cli {

namespace {

// A top-down picture seen bottom-up through a negative pitch, as the host
// hands frames over.
FrameView bottom_up_view(const AVFrame* picture) {
    const int pitch = picture->linesize[0];
    return make_frame_view(picture->data[0] + static_cast<std::ptrdiff_t>(pitch) * (picture->height - 1),
                           picture->width, picture->height, -pitch);
}

}  // namespace

std::int64_t convert_frames(MediaReader& reader, MediaWriter& writer, const FilterSettings& settings,
                            std::int64_t max_frames, const std::function<void(std::int64_t)>& on_frame) {
    PixelGraph to_core(PixelTarget{reader.width(), reader.height(), AV_PIX_FMT_BGR0, {}});
    const AVRational time_base = reader.video_stream()->time_base;
    std::int64_t written = 0;
    while (max_frames == 0 || written < max_frames) {
        switch (reader.next()) {
        case MediaReader::Event::VideoFrame: {
            const AVFrame* decoded = reader.frame();
            const AVFrame* source = to_core.convert(decoded);
            AVFrame* destination = writer.next_picture();
            convert_frame(settings, bottom_up_view(source), bottom_up_view(destination));
            if (writer.write_picture(decoded->pts, frame_duration(decoded), time_base)) {
                ++written;
                if (on_frame) {
                    on_frame(written);
                }
            }
            break;
        }
        case MediaReader::Event::Packet:
            writer.write_packet(reader.packet());
            break;
        case MediaReader::Event::End:
            return written;
        }
    }
    return written;
}

}  // namespace ocuvex::cli
