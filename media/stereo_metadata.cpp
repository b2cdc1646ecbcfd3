#include "media/stereo_metadata.h"

#include "core/display_shape.h"
#include "core/printable.h"
#include "media/libav_compat.h"

extern "C" {
#include <libavutil/stereo3d.h>
}

namespace ocuvex::media {

namespace {

// The packing each mode reads its input as.
StereoPacking input_packing(std::int32_t mode) { return stereo_packing(input_layout(mode)); }

const char* packing_text(StereoPacking packing) {
    switch (packing) {
    case StereoPacking::SideBySide:
        return "side-by-side";
    case StereoPacking::AboveBelow:
        return "above/below";
    case StereoPacking::Lines:
        return "on alternate lines";
    case StereoPacking::Anaglyph:
        return "an anaglyph";
    case StereoPacking::Unspecified:
        return "two views";
    case StereoPacking::Other:
        break;
    }
    return "not in a layout ocuvex converts";
}

const char* first_place(StereoPacking packing) {
    switch (packing) {
    case StereoPacking::AboveBelow:
        return "the top half";
    case StereoPacking::Lines:
        return "the top line";
    case StereoPacking::Unspecified:
        return "the first place";
    default:
        return "the left half";
    }
}

const char* second_place(StereoPacking packing) {
    switch (packing) {
    case StereoPacking::AboveBelow:
        return "the bottom half";
    case StereoPacking::Lines:
        return "the second line";
    case StereoPacking::Unspecified:
        return "the second place";
    default:
        return "the right half";
    }
}

bool is_unspecified(int type) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(59, 39, 100)
    return type == AV_STEREO3D_UNSPEC;
#else
    (void)type;
    return false;
#endif
}

AVFieldOrder other_field_first(AVFieldOrder order) {
    switch (order) {
    case AV_FIELD_TT:
        return AV_FIELD_BB;
    case AV_FIELD_BB:
        return AV_FIELD_TT;
    case AV_FIELD_TB:
        return AV_FIELD_BT;
    case AV_FIELD_BT:
        return AV_FIELD_TB;
    default:
        return order;
    }
}

}  // namespace

StereoPacking stereo_packing(ViewLayout layout) {
    switch (layout) {
    case ViewLayout::AboveBelow:
        return StereoPacking::AboveBelow;
    case ViewLayout::Rows:
        return StereoPacking::Lines;
    case ViewLayout::Single:
        return StereoPacking::Anaglyph;
    case ViewLayout::SideBySide:
        break;
    }
    return StereoPacking::SideBySide;
}

bool left_view_taken_first(StereoPacking packing, std::int32_t h) {
    switch (packing) {
    case StereoPacking::AboveBelow:
        return false;
    case StereoPacking::Lines:
        return h % 2 != 0;
    default:
        return true;
    }
}

std::optional<StereoLayout> declared_stereo_layout(const AVStream* stream) {
    const AVPacketSideData* data = stream_side_data(stream, AV_PKT_DATA_STEREO3D);
    if (data == nullptr || data->size < sizeof(AVStereo3D)) {
        return std::nullopt;
    }
    const auto* stereo = reinterpret_cast<const AVStereo3D*>(data->data);
    StereoLayout layout;
    layout.left_first = (stereo->flags & AV_STEREO3D_FLAG_INVERT) == 0;
    switch (stereo->type) {
    case AV_STEREO3D_SIDEBYSIDE:
        layout.packing = StereoPacking::SideBySide;
        break;
    case AV_STEREO3D_TOPBOTTOM:
        layout.packing = StereoPacking::AboveBelow;
        break;
    case AV_STEREO3D_LINES:
        layout.packing = StereoPacking::Lines;
        break;
    default:
        layout.packing = is_unspecified(stereo->type) ? StereoPacking::Unspecified : StereoPacking::Other;
        break;
    }
    return layout;
}

std::string layout_text(const StereoLayout& layout) {
    std::string text = packing_text(layout.packing);
    if (layout.packing == StereoPacking::Anaglyph || layout.packing == StereoPacking::Other) {
        return text;
    }
    return text + ", left eye in " + (layout.left_first ? first_place(layout.packing) : second_place(layout.packing));
}

StereoReading read_stereo_layout(std::int32_t mode, std::int32_t source_h, const std::optional<StereoLayout>& declared,
                                 const std::string& name) {
    StereoReading reading;
    if (!declared || !is_known_mode(mode)) {
        return reading;
    }
    const StereoPacking reads = input_packing(mode);
    if (declared->packing != reads && declared->packing != StereoPacking::Unspecified) {
        reading.message = quoted(name) + " says its pictures are " + layout_text(*declared) + "; the mode reads " +
                          (reads == StereoPacking::AboveBelow ? "above/below pictures"
                           : reads == StereoPacking::Lines    ? "views on alternate lines"
                                                              : "side-by-side pictures") +
                          ", so that is not used";
        return reading;
    }
    const bool taken_first = left_view_taken_first(reads, source_h);
    reading.metadata_swap = taken_first != declared->left_first;
    reading.left_view_is_left_eye = !reading.metadata_swap;
    if (reading.metadata_swap) {
        reading.message = quoted(name) + " says the left eye is in " +
                          (declared->left_first ? first_place(reads) : second_place(reads)) +
                          ": the views are exchanged so the output's left view is the left eye "
                          "(--ignore-stereo-metadata takes the pictures as they are)";
    }
    return reading;
}

std::optional<StereoLayout> output_stereo_layout(const FilterSettings& settings, const StereoReading& reading,
                                                 const std::optional<StereoLayout>& declared) {
    const bool swap = settings.swap_lr != 0;
    // Whether the output's first place (left half, top half) holds the
    // conversion's left view.
    bool left_view_first = !swap;
    StereoPacking packing = StereoPacking::SideBySide;
    switch (settings.mode) {
    case MODE_NOP:
        if (!declared || declared->packing != StereoPacking::SideBySide) {
            return std::nullopt;
        }
        break;
    case MODE_DEINTERLACE:
    case MODE_CENTERING:
    case MODE_AB_TO_SBS:
    case MODE_ALIGNMENT:
    case MODE_CROPPING:
        break;
    case MODE_SBS_TO_AB:
        // The left view takes the first rows in memory: the bottom half.
        packing = StereoPacking::AboveBelow;
        left_view_first = swap;
        break;
    case MODE_ANAGLYPH:
        return StereoLayout{StereoPacking::Anaglyph, true};
    default:
        return std::nullopt;
    }
    return StereoLayout{packing, left_view_first == reading.left_view_is_left_eye};
}

const char* matroska_stereo_mode(const StereoLayout& layout) {
    switch (layout.packing) {
    case StereoPacking::SideBySide:
        return layout.left_first ? "left_right" : "right_left";
    case StereoPacking::AboveBelow:
        return layout.left_first ? "top_bottom" : "bottom_top";
    case StereoPacking::Lines:
        return layout.left_first ? "row_interleaved_lr" : "row_interleaved_rl";
    case StereoPacking::Anaglyph:
        return "anaglyph_cyan_red";
    default:
        return nullptr;
    }
}

AVFieldOrder output_field_order(const FilterSettings& settings, ocuvex::FrameSize src, ocuvex::FrameSize dst,
                                AVFieldOrder input) {
    if (input == AV_FIELD_UNKNOWN || input == AV_FIELD_PROGRESSIVE || settings.mode == MODE_ANAGLYPH) {
        return input;  // the anaglyph mixes the views' rows of the same line
    }
    const CopyPlan plan = plan_copies(settings, src, dst);
    if (plan.copy_count == 0) {
        return input;
    }
    int flips = 0;
    for (int i = 0; i < plan.copy_count; ++i) {
        const RowCopy& copy = plan.copies[i];
        if (copy.src_row_step != 1) {
            return AV_FIELD_PROGRESSIVE;
        }
        // Lines counted from the top: memory rows run bottom-up.
        const std::int64_t src_line = std::int64_t{src.h} - 1 - copy.src_row;
        const std::int64_t dst_line = std::int64_t{dst.h} - 1 - copy.dst_row;
        flips += ((src_line - dst_line) & 1) != 0 ? 1 : 0;
    }
    if (flips == 0) {
        return input;
    }
    return flips == plan.copy_count ? other_field_first(input) : AV_FIELD_UNKNOWN;
}

}  // namespace ocuvex::media
