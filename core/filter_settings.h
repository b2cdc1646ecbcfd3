// Per-instance settings of the filter and the conversion modes.
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

}  // namespace ocuvex
