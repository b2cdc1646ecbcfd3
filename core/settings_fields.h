// The fields of FilterSettings as data: one row per field, in record order,
// with its name, the kind of value it holds, the values that are valid, the
// value a new instance starts with and where it lives in the record. Code
// that walks every field (the defaults, the command line's options, its JSON
// and notes) reads this table instead of naming the fields one by one. It
// knows nothing of option names or dialog controls: those shells extend it.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <variant>

#include "core/filter_settings.h"

namespace ocuvex {

enum class FieldKind : std::uint8_t {
    Flag,     // 0 or 1 (any non-zero byte reads as 1)
    Mode,     // a ConversionMode
    Integer,  // a signed 32-bit number; the output geometry corrects what does not fit
    Color,    // a pixel value, 0x00RRGGBB
};

// Where a field lives: a pointer to its member, typed by the member's width.
using FieldMember =
    std::variant<std::uint8_t FilterSettings::*, std::int32_t FilterSettings::*, std::uint32_t FilterSettings::*>;

struct SettingsField {
    const char* name;  // the member's name, e.g. "center_width"
    FieldKind kind;
    std::int64_t min;  // the valid values, min to max
    std::int64_t max;
    std::int64_t default_value;
    FieldMember member;
};

inline constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

inline constexpr std::array<SettingsField, 10> kSettingsFields = {{
    {"swap_lr", FieldKind::Flag, 0, 1, 0, &FilterSettings::swap_lr},
    {"mode", FieldKind::Mode, kFirstMode, kLastMode, MODE_NOP, &FilterSettings::mode},
    {"center_width", FieldKind::Integer, kInt32Min, kInt32Max, 0, &FilterSettings::center_width},
    {"align_horz", FieldKind::Integer, kInt32Min, kInt32Max, 0, &FilterSettings::align_horz},
    {"align_vert", FieldKind::Integer, kInt32Min, kInt32Max, 0, &FilterSettings::align_vert},
    {"crop_x", FieldKind::Integer, kInt32Min, kInt32Max, 0, &FilterSettings::crop_x},
    {"crop_y", FieldKind::Integer, kInt32Min, kInt32Max, 0, &FilterSettings::crop_y},
    {"crop_width", FieldKind::Integer, kInt32Min, kInt32Max, 10, &FilterSettings::crop_width},
    {"crop_height", FieldKind::Integer, kInt32Min, kInt32Max, 10, &FilterSettings::crop_height},
    {"fill_color", FieldKind::Color, 0, std::numeric_limits<std::uint32_t>::max(), 0, &FilterSettings::fill_color},
}};

// The row of the field at `member`, found at compile time: naming a member
// without a row does not compile.
consteval const SettingsField& settings_field(FieldMember member) {
    for (const SettingsField& field : kSettingsFields) {
        if (field.member == member) {
            return field;
        }
    }
    throw "FilterSettings member without a row in kSettingsFields";
}

// The field's value as the conversions read it (a flag as 0 or 1).
std::int64_t field_value(const SettingsField& field, const FilterSettings& settings);
// Stores `value` converted to the member's type: a value in the field's
// range as it is, a negative one in an unsigned field as its bit pattern.
void set_field_value(const SettingsField& field, FilterSettings& settings, std::int64_t value);

}  // namespace ocuvex
