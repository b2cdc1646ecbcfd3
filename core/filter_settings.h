// Per-instance settings of the filter, the conversion modes and the view of a
// frame buffer through which every conversion reads and writes pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ocuvex {

// The values double as the dialog's radio-button ids, so a mode is stored as
// the id of the button that selects it.
enum ConversionMode : std::int32_t {
    MODE_NOP = 200,
    MODE_DEINTERLACE = 201,
    MODE_CENTERING = 202,
    MODE_ANAGLYPH = 203,
    MODE_SBS_TO_AB = 204,
    MODE_AB_TO_SBS = 205,
    MODE_ALIGNMENT = 206,
    MODE_CROPPING = 207,
};

inline constexpr std::int32_t kFirstMode = MODE_NOP;
inline constexpr std::int32_t kLastMode = MODE_CROPPING;
inline constexpr int kModeCount = kLastMode - kFirstMode + 1;

constexpr bool is_known_mode(std::int32_t mode) { return mode >= kFirstMode && mode <= kLastMode; }

// The host allocates this record by its size and hands the same bytes back on
// every callback, so field order, widths and signedness are part of the ABI.
struct FilterSettings {
    std::uint8_t swap_lr;  // 0 or 1; any non-zero byte is read as 1
    std::int32_t mode;     // a ConversionMode
    std::int32_t center_width;
    std::int32_t align_horz;
    std::int32_t align_vert;
    std::int32_t crop_x;
    std::int32_t crop_y;
    std::int32_t crop_width;
    std::int32_t crop_height;
    std::uint32_t fill_color;  // a pixel value, 0x00RRGGBB

    bool operator==(const FilterSettings&) const = default;
};

static_assert(sizeof(FilterSettings) == 40);
static_assert(offsetof(FilterSettings, mode) == 4);
static_assert(offsetof(FilterSettings, center_width) == 8);
static_assert(offsetof(FilterSettings, align_horz) == 12);
static_assert(offsetof(FilterSettings, align_vert) == 16);
static_assert(offsetof(FilterSettings, crop_x) == 20);
static_assert(offsetof(FilterSettings, crop_y) == 24);
static_assert(offsetof(FilterSettings, crop_width) == 28);
static_assert(offsetof(FilterSettings, crop_height) == 32);
static_assert(offsetof(FilterSettings, fill_color) == 36);

// The defaults a new instance starts with.
FilterSettings default_settings();
void set_defaults(FilterSettings& settings);

// Longest description text (": Deinterlace (swapped L/R)") plus its terminating zero.
inline constexpr std::size_t kDescriptionCapacity = 28;

// The one-line description shown in the host's filter list, e.g. ": NOP" or
// ": Cropping (swapped L/R)". A mode without a text gives "".
const char* description_text(const FilterSettings& settings);

// Copies description_text() with its terminating zero into a buffer of at
// least kDescriptionCapacity bytes.
void describe(const FilterSettings& settings, char* buffer);

// A frame buffer as the conversions see it: 32-bit 0x00RRGGBB pixels, rows
// bottom-up, row i at data + i * pitch. A negative pitch walks a top-down
// buffer bottom-up; a pitch larger than 4 * w leaves padding after each row.
struct FrameView {
    std::uint8_t* data;
    std::int32_t w;
    std::int32_t h;
    std::int32_t pitch;
    std::int32_t modulo;  // pitch - 4 * w

    std::uint8_t* row(std::int32_t i) const { return data + static_cast<std::ptrdiff_t>(i) * pitch; }
    std::uint32_t* pixels(std::int32_t i) const { return reinterpret_cast<std::uint32_t*>(row(i)); }
};

// True when the view's rows can hold its width: w, h >= 0 and |pitch| >= 4 * w.
bool is_well_formed(const FrameView& view);

// A view of w x h pixels over a buffer of rows `pitch` bytes apart.
FrameView make_frame_view(void* data, std::int32_t w, std::int32_t h, std::int32_t pitch);

}  // namespace ocuvex
