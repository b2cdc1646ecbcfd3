// Any bytes as a media file in memory, through what `ocuvex convert` does:
// a conversion job reading a custom AVIOContext, with its plan, its scale
// graphs, the core (on the decoded planes or on 32-bit pixels), and its
// output into FFmpeg's null muxer (which writes no file), copied audio and
// subtitle streams included.
//
// A finding: a crash, undefined behaviour, a leak (LeakSanitizer), a hang,
// any exception but MediaError, or a strict job that ends without a
// MediaError although damage was reported: by its own count, or (for a
// video) by the same input converted leniently; strict inputs are converted
// both ways.
// Each input is bounded: a small probe, at most 256 packets and 12 frames,
// pictures up to 2^18 pixels. The conversion's choices (mode, swap, strict
// damage handling, a seek, the encoder's pixel format) come from a hash of
// the input, so that the seeds stay plain media files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/filter_settings.h"
#include "core/output_geometry.h"
#include "media/job.h"

extern "C" {
#include <libavutil/mem.h>
}

namespace {

using namespace ocuvex;
using namespace ocuvex::media;

constexpr int kBufferBytes = 4096;
constexpr std::int64_t kMaxFrames = 12;
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 18;

struct MemoryFile {
    const std::uint8_t* data;
    std::int64_t size;
    std::int64_t position;
};

int read_memory(void* opaque, std::uint8_t* buffer, int wanted) {
    auto* file = static_cast<MemoryFile*>(opaque);
    const std::int64_t left = file->size - file->position;
    if (left <= 0) {
        return AVERROR_EOF;
    }
    const int count = static_cast<int>(std::min<std::int64_t>(left, wanted));
    std::memcpy(buffer, file->data + file->position, static_cast<std::size_t>(count));
    file->position += count;
    return count;
}

std::int64_t seek_memory(void* opaque, std::int64_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(opaque);
    if ((whence & AVSEEK_SIZE) != 0) {
        return file->size;
    }
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = file->position;
        break;
    case SEEK_END:
        base = file->size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset > file->size - base || offset < -base) {
        return AVERROR(EINVAL);
    }
    file->position = base + offset;
    return file->position;
}

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ULL;
    }
    return hash;
}

// A still output, of a frame found by seeking, rather than a video.
bool still_output(std::uint64_t hash) { return ((hash >> 10) & 3) == 0; }

// Runs the job on `data` as the hash chooses, as the tool does; false when
// the output would be empty or too large. Throws MediaError.
bool run_job(const std::uint8_t* data, std::size_t size, std::uint64_t hash, bool strict, DamageTally* damage) {
    MemoryFile file{data, static_cast<std::int64_t>(size), 0};
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferBytes));
    if (buffer == nullptr) {
        return false;
    }
    IOContextPtr io(avio_alloc_context(buffer, kBufferBytes, 0, &file, read_memory, nullptr, seek_memory));
    if (io == nullptr) {
        av_free(buffer);
        return false;
    }
    FilterSettings settings = default_settings();
    settings.mode = MODE_NOP + static_cast<std::int32_t>(hash % kModeCount);
    settings.swap_lr = static_cast<std::uint8_t>((hash >> 3) & 1);
    settings.center_width = static_cast<std::int32_t>((hash >> 4) % 17);
    settings.crop_width = settings.crop_height = 4;

    JobRequest request;
    request.settings = settings;
    request.input.strict = strict;
    request.input.probe_bytes = 32 << 10;
    request.input.analyze_microseconds = 500000;
    request.input.max_pixels = kMaxPixels;
    request.input.max_packets = 256;
    request.encoding.codec = "rawvideo";
    // The pictures as they are, or through the output's scale graph.
    request.encoding.pixel_format = ((hash >> 11) & 1) != 0 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NONE;
    request.max_frames = kMaxFrames;
    ConvertJob job(io.get(), "fuzz input", request);
    const bool still = still_output(hash);
    if (still && !job.seek_frame(static_cast<std::int64_t>((hash >> 12) % 6))) {
        throw MediaError("fewer frames");  // as the tool answers
    }
    const FrameSize output = job.output_size();
    if (output.w <= 0 || output.h <= 0 || std::int64_t{output.w} * output.h > 4 * kMaxPixels) {
        return false;
    }
    const OutputFormat null_output{"null", "rawvideo", still ? OutputKind::Still : OutputKind::Video};
    job.open_output(null_output, "", "fuzz output");
    job.run();
    job.finish();
    *damage = job.damage();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The tool's log capture: it prints nothing, and tells the decoder's
    // error lines apart.
    static const bool captured = [] {
        capture_library_log();
        return true;
    }();
    (void)captured;
    const std::uint64_t hash = fnv1a(data, size);
    DamageTally damage;
    bool lenient_done = false;
    try {
        lenient_done = run_job(data, size, hash, false, &damage);
    } catch (const MediaError&) {
        // The expected answer to a file that is not a video.
    }
    if (((hash >> 9) & 1) == 0) {
        return 0;
    }
    // Strict: whatever damage the strict run counts, and for a video
    // whatever damage the lenient run reported, ends in a MediaError. (On
    // the way to a sought frame damage is not judged, and the strict
    // decoder may drop a frame the lenient one kept.)
    bool strict_done = false;
    DamageTally strict_damage;
    try {
        strict_done = run_job(data, size, hash, true, &strict_damage);
    } catch (const MediaError&) {
        return 0;
    }
    const bool lenient_damage = lenient_done && damage.any() && !still_output(hash);
    if ((strict_done && strict_damage.any()) || lenient_damage) {
        std::fprintf(stderr,
                     "strict mode ended without an error on damage it found (%d) or the lenient run found (%d)\n",
                     strict_done && strict_damage.any() ? 1 : 0, lenient_damage ? 1 : 0);
        std::abort();
    }
    return 0;
}
