#include "core/settings_fields.h"

#include <type_traits>

namespace ocuvex {

std::int64_t field_value(const SettingsField& field, const FilterSettings& settings) {
    const std::int64_t value = std::visit([&](auto member) -> std::int64_t { return settings.*member; }, field.member);
    return field.kind == FieldKind::Flag ? std::int64_t{value != 0} : value;
}

void set_field_value(const SettingsField& field, FilterSettings& settings, std::int64_t value) {
    std::visit(
        [&](auto member) {
            using Value = std::remove_reference_t<decltype(settings.*member)>;
            settings.*member = static_cast<Value>(value);
        },
        field.member);
}

}  // namespace ocuvex
