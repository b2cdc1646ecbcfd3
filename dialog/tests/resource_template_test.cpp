// The dialog template as the resource compiler built it from
// resources/config_dialog.rc, compared with the template table.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "dialog/control_ids.h"
#include "dialog/tests/template_checks.h"

namespace ocuvex::dialog::testing {
namespace {

constexpr int kDialogResourceType = 5;  // RT_DIALOG

TEST(ConfigDialogResource, MatchesTheTemplateTable) {
    std::ifstream file(OCUVEX_DIALOG_RES, std::ios::binary);
    ASSERT_TRUE(file) << "cannot read " << OCUVEX_DIALOG_RES;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto entry = find_res_entry(bytes, kDialogResourceType, IDD_CONFIG);
    ASSERT_TRUE(entry.has_value()) << "no dialog " << IDD_CONFIG;
    const auto dialog = parse_dialog_template(*entry);
    ASSERT_TRUE(dialog.has_value());
    for (const std::string& difference : template_differences(*dialog)) {
        ADD_FAILURE() << difference;
    }
}

TEST(ConfigDialogTable, HasEveryIdOnceAndTheCoefficientGridInOrder) {
    std::vector<int> ids;
    for (const ControlTemplate& control : kConfigControls) {
        if (control.id != -1) {
            ids.push_back(control.id);
        }
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(ids.size(), 8u + 13u + IDC_COEF_COUNT + 2u);
    int next_coefficient = IDC_COEF_FIRST;
    for (const ControlTemplate& control : kConfigControls) {
        if (control.id >= IDC_COEF_FIRST && control.id < IDC_COEF_FIRST + IDC_COEF_COUNT) {
            EXPECT_EQ(control.id, next_coefficient++);
        }
    }
}

}  // namespace
}  // namespace ocuvex::dialog::testing
