#include "core/filter_settings.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "core/settings_fields.h"

namespace ocuvex {

namespace {

using DescriptionText = std::array<char, kDescriptionCapacity>;

// Every description with its terminating zero, the plain ones then the
// swapped ones: indexed by (mode - kFirstMode) + kModeCount * swap_lr.
consteval std::array<DescriptionText, 2 * kModeCount> make_descriptions() {
    std::array<DescriptionText, 2 * kModeCount> texts{};
    for (std::size_t i = 0; i < kModes.size(); ++i) {
        const std::string_view plain = kModes[i].description;
        std::ranges::copy(plain, texts[i].begin());
        std::ranges::copy(kSwappedSuffix, std::ranges::copy(plain, texts[i + kModes.size()].begin()).out);
    }
    return texts;
}

constexpr std::array<DescriptionText, 2 * kModeCount> kDescriptions = make_descriptions();

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
    return kDescriptions[index].data();
}

void describe(const FilterSettings& settings, char* buffer) {
    const char* text = description_text(settings);
    std::memcpy(buffer, text, std::strlen(text) + 1);
}

}  // namespace ocuvex
