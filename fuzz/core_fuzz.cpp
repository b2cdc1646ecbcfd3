// Any settings record, any source up to 64 x 64 through any pitch, through
// the output geometry and convert_frame. Frames sit in exactly sized heap
// blocks with their row padding poisoned, so AddressSanitizer stops any read
// or write outside a frame; the result is compared with a per-pixel model of
// each conversion written from its definition.
//
// Input: the first 40 bytes are the FilterSettings record as the host stores
// it; the sizes, pitches and choices come from the end of the input; what is
// left seeds the pixels (and, for the anaglyph, may replace the coefficients).
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/anaglyph.h"
#include "core/filter_settings.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"

namespace {

using namespace ocuvex;
using Wide = std::int64_t;

constexpr std::int32_t kMaxSource = 64;
constexpr Wide kMaxFrameBytes = Wide{1} << 16;
constexpr std::uint8_t kCanary = 0xA5;

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "core_fuzz: %s\n", what);
    std::abort();
}

// A frame in a heap block of exactly the bytes its rows span: the padding
// between rows holds a canary and is poisoned, and nothing lies past the
// last pixel of the row at the highest address.
class GuardedFrame {
  public:
    GuardedFrame(std::int32_t w, std::int32_t h, std::int32_t pitch, bool null_when_empty) {
        const Wide abs_pitch = pitch < 0 ? -Wide{pitch} : pitch;
        row_bytes_ = w > 0 ? 4 * Wide{w} : 0;
        const Wide row_bytes = row_bytes_;
        const Wide bytes = h > 0 ? abs_pitch * (h - 1) + row_bytes : 0;
        size_ = static_cast<std::size_t>(bytes);
        if (size_ > 0 || !null_when_empty) {
            block_ = std::make_unique<std::uint8_t[]>(size_);
        }
        std::uint8_t* base = block_.get();
        // A negative pitch walks a top-down block bottom-up: memory row 0 is the last row of the block.
        std::uint8_t* data = pitch < 0 && h > 0 ? base + abs_pitch * (h - 1) : base;
        view_ = make_frame_view(data, w, h, pitch);
        if (abs_pitch > row_bytes && h > 1) {
            padding_ = static_cast<std::size_t>(abs_pitch - row_bytes);
            for (std::int32_t i = 0; i + 1 < h; ++i) {
                std::uint8_t* gap = base + abs_pitch * i + row_bytes;
                std::memset(gap, kCanary, padding_);
                ASAN_POISON_MEMORY_REGION(gap, padding_);
            }
        }
    }
    ~GuardedFrame() {
        if (size_ > 0) {
            ASAN_UNPOISON_MEMORY_REGION(block_.get(), size_);
        }
    }
    GuardedFrame(const GuardedFrame&) = delete;
    GuardedFrame& operator=(const GuardedFrame&) = delete;

    const FrameView& view() const { return view_; }
    bool holds_pixels() const { return is_well_formed(view_) && view_.w > 0 && view_.h > 0; }

    // Pixels of a well-formed frame, row by row.
    std::vector<std::uint32_t> pixels() const {
        std::vector<std::uint32_t> out;
        if (!holds_pixels()) {
            return out;
        }
        out.resize(static_cast<std::size_t>(view_.w) * view_.h);
        for (std::int32_t r = 0; r < view_.h; ++r) {
            std::memcpy(&out[static_cast<std::size_t>(r) * view_.w], view_.row(r), 4 * std::size_t(view_.w));
        }
        return out;
    }
    void set_pixels(const std::vector<std::uint32_t>& in) {
        for (std::int32_t r = 0; holds_pixels() && r < view_.h; ++r) {
            std::memcpy(view_.row(r), &in[static_cast<std::size_t>(r) * view_.w], 4 * std::size_t(view_.w));
        }
    }

    // Reads the canaries back; the poisoning catches most stray accesses at
    // once, this catches writes into the few padding bytes that share an
    // 8-byte granule with the next row and so cannot be poisoned.
    bool padding_untouched() const {
        if (padding_ == 0) {
            return true;
        }
        const Wide abs_pitch = view_.pitch < 0 ? -Wide{view_.pitch} : view_.pitch;
        const Wide row_bytes = row_bytes_;
        for (std::int32_t i = 0; i + 1 < view_.h; ++i) {
            std::uint8_t* gap = block_.get() + abs_pitch * i + row_bytes;
            ASAN_UNPOISON_MEMORY_REGION(gap, padding_);
            const bool intact = std::all_of(gap, gap + padding_, [](std::uint8_t b) { return b == kCanary; });
            ASAN_POISON_MEMORY_REGION(gap, padding_);
            if (!intact) {
                return false;
            }
        }
        return true;
    }

  private:
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t size_ = 0;
    std::size_t padding_ = 0;
    Wide row_bytes_ = 0;
    FrameView view_{};
};

// A pitch for rows of w pixels: packed or padded by up to 7 pixels (so both
// 8-byte-aligned and unaligned row starts occur), bottom-up or top-down, and
// now and then too short for the row.
std::int32_t choose_pitch(FuzzedDataProvider& in, std::int32_t w) {
    const int spare = in.ConsumeIntegralInRange(-2, 7);
    const bool top_down = in.ConsumeBool();
    const Wide magnitude = std::max<Wide>(0, 4 * (Wide{std::max(w, 0)} + spare));
    return static_cast<std::int32_t>(top_down ? -magnitude : magnitude);
}

// The geometry as defined, evaluated in 64 bits; centering takes a negative
// width as 0 and cuts a row that no 32-bit pitch can hold to the widest one.
struct Expected {
    FilterSettings settings;
    Wide w;
    Wide h;
};

Expected model_geometry(FilterSettings s, Wide W, Wide H) {
    Wide w = W;
    Wide h = H;
    switch (s.mode) {
    case MODE_DEINTERLACE:
    case MODE_AB_TO_SBS:
        w = 2 * W;
        h = H / 2;
        break;
    case MODE_CENTERING:
        if (s.center_width > 0 && W + s.center_width > kMaxFrameWidth) {
            s.center_width = static_cast<std::int32_t>(kMaxFrameWidth - W);
        }
        w = W + std::max(s.center_width, 0);
        break;
    case MODE_ALIGNMENT:
        w = W - 2 * std::abs(Wide{s.align_horz});
        h = H - 2 * std::abs(Wide{s.align_vert});
        if (w <= 0) {
            s.align_horz = 0;
            w = W;
        }
        if (h <= 0) {
            s.align_vert = 0;
            h = H;
        }
        break;
    case MODE_CROPPING:
        if (s.crop_x < 0 || s.crop_x >= W / 2) {
            s.crop_x = 0;
        }
        if (s.crop_y < 0 || s.crop_y >= H) {
            s.crop_y = 0;
        }
        if (s.crop_width < 0 || Wide{s.crop_x} + s.crop_width >= W / 2) {
            s.crop_width = 1;
        }
        if (s.crop_height < 0 || Wide{s.crop_y} + s.crop_height >= H) {
            s.crop_height = 1;
        }
        w = 2 * Wide{s.crop_width};
        h = s.crop_height;
        break;
    case MODE_ANAGLYPH:
        w = W / 2;
        break;
    case MODE_SBS_TO_AB:
        w = W / 2;
        h = 2 * H;
        break;
    default:
        break;
    }
    return {s, w, h};
}

// The destination a conversion should leave: every pixel it names written,
// the rest as before; or, when any named pixel lies outside either frame,
// nothing written at all.
class ModelFrame {
  public:
    ModelFrame(const FrameView& src, const std::vector<std::uint32_t>& src_pixels, const FrameView& dst,
               std::vector<std::uint32_t> dst_pixels)
        : src_(src), src_pixels_(src_pixels), dst_(dst), before_(dst_pixels), pixels_(std::move(dst_pixels)) {}

    std::uint32_t get(Wide row, Wide col) {
        if (row < 0 || row >= src_.h || col < 0 || col >= src_.w) {
            outside_ = true;
            return 0;
        }
        return src_pixels_[static_cast<std::size_t>(row * src_.w + col)];
    }
    void put(Wide row, Wide col, std::uint32_t value) {
        if (row < 0 || row >= dst_.h || col < 0 || col >= dst_.w) {
            outside_ = true;
            return;
        }
        pixels_[static_cast<std::size_t>(row * dst_.w + col)] = value;
    }
    void copy(Wide src_row, Wide src_col, Wide dst_row, Wide dst_col, Wide n) {
        for (Wide x = 0; x < n && !outside_; ++x) {
            put(dst_row, dst_col + x, get(src_row, src_col + x));
        }
    }
    const std::vector<std::uint32_t>& result() const { return outside_ ? before_ : pixels_; }

  private:
    FrameView src_;
    const std::vector<std::uint32_t>& src_pixels_;
    FrameView dst_;
    std::vector<std::uint32_t> before_;
    std::vector<std::uint32_t> pixels_;
    bool outside_ = false;
};

std::vector<std::uint32_t> model_conversion(const FilterSettings& s, const AnaglyphMatrix& m, const FrameView& src,
                                            const std::vector<std::uint32_t>& src_pixels, const FrameView& dst,
                                            const std::vector<std::uint32_t>& dst_pixels) {
    ModelFrame out(src, src_pixels, dst, dst_pixels);
    if (!is_well_formed(src) || !is_well_formed(dst)) {
        return dst_pixels;
    }
    const bool swap = s.swap_lr != 0;
    const Wide W = src.w;
    const Wide H = src.h;
    const Wide hw = W / 2;
    const Wide hd = Wide{dst.w} / 2;
    switch (s.mode) {
    case MODE_NOP:
        for (Wide r = 0; r < H; ++r) {
            if (swap) {
                out.copy(r, 0, r, hd, hw);
                out.copy(r, hw, r, 0, hw);
            } else {
                out.copy(r, 0, r, 0, W);
            }
        }
        break;
    case MODE_DEINTERLACE:
        for (Wide k = 0; k < H / 2; ++k) {
            out.copy(2 * k, 0, k, swap ? W : 0, W);
            out.copy(2 * k + 1, 0, k, swap ? 0 : W, W);
        }
        break;
    case MODE_CENTERING: {
        const Wide q = std::max(s.center_width, 0) / 4;
        for (Wide r = 0; r < H; ++r) {
            for (Wide x = 0; x < dst.w; ++x) {
                out.put(r, x, s.fill_color);
            }
            out.copy(r, 0, r, swap ? hd + q : q, hw);
            out.copy(r, hw, r, swap ? q : hd + q, hw);
        }
        break;
    }
    case MODE_ANAGLYPH:
        for (Wide r = 0; r < H; ++r) {
            for (Wide x = 0; x < hw; ++x) {
                const std::uint32_t left = out.get(r, swap ? hw + x : x);
                const std::uint32_t right = out.get(r, swap ? x : hw + x);
                out.put(r, x, anaglyph_pixel(m, left, right));
            }
        }
        break;
    case MODE_SBS_TO_AB:
        for (Wide r = 0; r < H; ++r) {
            out.copy(r, 0, swap ? H + r : r, 0, hw);
            out.copy(r, hw, swap ? r : H + r, 0, hw);
        }
        break;
    case MODE_AB_TO_SBS: {
        // An odd middle row belongs to neither view: the second starts above it.
        const Wide n = H / 2;
        const Wide t = H - n;
        for (Wide r = 0; r < n; ++r) {
            out.copy(r, 0, r, swap ? W : 0, W);
            out.copy(t + r, 0, r, swap ? 0 : W, W);
        }
        break;
    }
    case MODE_ALIGNMENT: {
        const Wide a = s.align_horz;
        const Wide v = s.align_vert;
        for (Wide r = 0; r < dst.h; ++r) {
            out.copy(std::max(-v, Wide{0}) + r, std::max(a, Wide{0}), r, swap ? hd : 0, hd);
            out.copy(std::max(v, Wide{0}) + r, hw + std::max(-a, Wide{0}), r, swap ? 0 : hd, hd);
        }
        break;
    }
    case MODE_CROPPING: {
        const Wide b = H - s.crop_y - dst.h;
        for (Wide r = 0; r < dst.h; ++r) {
            out.copy(b + r, s.crop_x, r, swap ? hd : 0, hd);
            out.copy(b + r, hw + s.crop_x, r, swap ? 0 : hd, hd);
        }
        break;
    }
    default:
        break;
    }
    return out.result();
}

std::vector<std::uint32_t> pixel_values(FuzzedDataProvider& in, std::size_t count) {
    // A small generator seeded from the input fills frames larger than the input.
    std::uint64_t state = in.ConsumeIntegral<std::uint64_t>() | 1;
    std::vector<std::uint32_t> out(count);
    for (std::uint32_t& p : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        p = static_cast<std::uint32_t>(state);
    }
    return out;
}

}  // namespace

// Frames are allocated and freed on every input: a small quarantine and no
// fill of fresh blocks keep that cheap. Nothing here is freed twice or used
// after being freed, which is what the large quarantine would catch.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16:max_malloc_fill_size=0"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);

    FilterSettings settings{};
    const std::vector<std::uint8_t> record = in.ConsumeBytes<std::uint8_t>(sizeof(FilterSettings));
    if (!record.empty()) {
        std::memcpy(&settings, record.data(), record.size());
    }

    const std::int32_t src_w = in.ConsumeIntegralInRange<std::int32_t>(0, kMaxSource);
    const std::int32_t src_h = in.ConsumeIntegralInRange<std::int32_t>(0, kMaxSource);
    const std::int32_t src_pitch = choose_pitch(in, src_w);
    const bool plan_first = in.ConsumeIntegralInRange(0, 7) != 0;
    const bool dst_as_planned = in.ConsumeIntegralInRange(0, 7) != 0;
    const bool null_when_empty = in.ConsumeBool();

    // The geometry, its corrections, and that a second planning changes nothing more.
    const Expected expected = model_geometry(settings, src_w, src_h);
    FilterSettings planned = settings;
    const OutputGeometry geometry = compute_output_geometry(planned, src_w, src_h);
    if (geometry.w < 0 || geometry.h < 0 || geometry.pitch != padded_pitch(geometry.w) ||
        geometry.pitch < 4 * Wide{geometry.w}) {
        finding("output geometry out of range");
    }
    if (geometry.w != expected.w || geometry.h != expected.h || !(planned == expected.settings)) {
        finding("output geometry or corrected settings differ from the model");
    }
    FilterSettings replanned = planned;
    const OutputGeometry again = compute_output_geometry(replanned, src_w, src_h);
    if (!(replanned == planned) || again.w != geometry.w || again.h != geometry.h || again.pitch != geometry.pitch) {
        finding("planning the corrected settings again changes them");
    }

    // The destination the host would allocate, or (rarely, and whenever that
    // would be huge) one of any other size: the core must then stay inside it.
    std::int32_t dst_w = geometry.w;
    std::int32_t dst_h = geometry.h;
    const bool huge = Wide{geometry.pitch} * geometry.h > kMaxFrameBytes;
    if (!dst_as_planned || huge) {
        dst_w = in.ConsumeIntegralInRange<std::int32_t>(-1, 2 * kMaxSource + 8);
        dst_h = in.ConsumeIntegralInRange<std::int32_t>(-1, 2 * kMaxSource + 8);
    }
    const std::int32_t dst_pitch =
        dst_as_planned && !huge && in.ConsumeBool() ? geometry.pitch : choose_pitch(in, dst_w);

    AnaglyphMatrix coefficients = anaglyph_default_coefficients;
    if (settings.mode == MODE_ANAGLYPH && in.ConsumeBool()) {
        const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(sizeof(AnaglyphMatrix));
        if (!bytes.empty()) {
            std::memcpy(coefficients.data(), bytes.data(), bytes.size());
        }
    }

    GuardedFrame src(src_w, src_h, src_pitch, null_when_empty);
    GuardedFrame dst(dst_w, dst_h, dst_pitch, null_when_empty);
    src.set_pixels(pixel_values(in, static_cast<std::size_t>(src_w) * src_h));
    if (dst.holds_pixels()) {
        dst.set_pixels(pixel_values(in, static_cast<std::size_t>(dst_w) * dst_h));
    }
    const std::vector<std::uint32_t> src_before = src.pixels();
    const std::vector<std::uint32_t> dst_before = dst.pixels();

    const FilterSettings& used = plan_first ? planned : settings;
    if (convert_frame(used, src.view(), dst.view(), coefficients) != 0) {
        finding("convert_frame returned non-zero");
    }
    if (!src.padding_untouched() || !dst.padding_untouched()) {
        finding("row padding written");
    }
    if (src.pixels() != src_before) {
        finding("source written");
    }
    const std::vector<std::uint32_t> want =
        model_conversion(used, coefficients, src.view(), src_before, dst.view(), dst_before);
    if (dst.pixels() != want) {
        finding("destination differs from the model");
    }

    // Every anaglyph kernel this CPU runs gives the same bits as the definition.
    if (used.mode == MODE_ANAGLYPH) {
        for (const AnaglyphKernel& kernel : anaglyph_kernels()) {
            if (!kernel.supported()) {
                continue;
            }
            dst.set_pixels(dst_before);
            convert_anaglyph_with(coefficients, kernel.run, used, src.view(), dst.view());
            if (dst.pixels() != want || !dst.padding_untouched()) {
                std::fprintf(stderr, "core_fuzz: kernel %s\n", kernel.name);
                finding("anaglyph kernel differs from the definition");
            }
        }
    }
    return 0;
}
