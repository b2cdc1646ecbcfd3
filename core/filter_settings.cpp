#include "core/filter_settings.h"

#include <array>
#include <cstring>

#include "core/settings_fields.h"

namespace ocuvex {

namespace {

// Indexed by (mode - 200) + 8 * swap_lr.
constexpr std::array<const char*, 2 * kModeCount> kDescriptions = {
    ": NOP",
    ": Deinterlace",
    ": Centering",
    ": Anaglyph",
    ": SbS --> A/B",
    ": A/B --> SbS",
    ": Alignment",
    ": Cropping",
    ": NOP (swapped L/R)",
    ": Deinterlace (swapped L/R)",
    ": Centering (swapped L/R)",
    ": Anaglyph (swapped L/R)",
    ": SbS --> A/B (swapped L/R)",
    ": A/B --> SbS (swapped L/R)",
    ": Alignment (swapped L/R)",
    ": Cropping (swapped L/R)",
};

}  // namespace

FilterSettings default_settings() {
    FilterSettings settings{};
    set_defaults(settings);
    return settings;
}

void set_defaults(FilterSettings& settings) {
    for (const SettingsField& field : kSettingsFields) {
        set_field_value(field, settings, field.default_value);
    }
}

const char* description_text(const FilterSettings& settings) {
    // Records can come from anywhere (a script, a fuzzer): stay inside the table.
    if (!is_known_mode(settings.mode)) {
        return "";
    }
    const auto index = static_cast<std::size_t>(settings.mode - kFirstMode) + (settings.swap_lr != 0 ? kModeCount : 0);
    return kDescriptions[index];
}

void describe(const FilterSettings& settings, char* buffer) {
    const char* text = description_text(settings);
    std::memcpy(buffer, text, std::strlen(text) + 1);
}

}  // namespace ocuvex
