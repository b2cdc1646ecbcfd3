// Per-instance settings of the filter, and the descriptions the host shows of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/modes.h"

namespace ocuvex {

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

// The longest description text (a swapped one) plus its terminating zero.
consteval std::size_t description_capacity() {
    std::size_t longest = 0;
    for (const ModeRow& row : kModes) {
        longest = std::max(longest, std::string_view(row.description).size());
    }
    return longest + kSwappedSuffix.size() + 1;
}
inline constexpr std::size_t kDescriptionCapacity = description_capacity();

// The one-line description shown in the host's filter list, e.g. ": NOP" or
// ": Cropping (swapped L/R)": the mode's description, with kSwappedSuffix
// when swapped. A value that is no mode gives "".
const char* description_text(const FilterSettings& settings);

// Copies description_text() with its terminating zero into a buffer of at
// least kDescriptionCapacity bytes.
void describe(const FilterSettings& settings, char* buffer);

}  // namespace ocuvex
