// The host binding driven natively through the stand-in host: every callback
// on host records, compared with the core called directly.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/anaglyph.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "host/filter_binding.h"
#include "host/standin/host_checks.h"
#include "host/standin/module_loader.h"
#include "tests/host/recording_dialog.h"
#include "tests/test_frames.h"

namespace ocuvex {
namespace {

using standin::FilterInstance;
using standin::ModuleEntry;
using standin::StandinHost;

ModuleEntry linked_module() {
    ModuleEntry entry;
    std::string error;
    standin::load_module("linked", entry, error);
    return entry;
}

class HostBinding : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(host_.load(), 0);
        test::recorded_dialog = test::DialogCall{};
    }
    StandinHost host_{linked_module()};
};

TEST(HostChecks, TheStandinHostFindsNothingWrongWithTheBinding) {
    const std::vector<std::string> failures = standin::run_host_checks(linked_module());
    EXPECT_TRUE(failures.empty()) << failures.front();
}

TEST(HostChecks, EveryConversionCaseStaysInsideItsFrames) {
    std::vector<std::string> failures;
    const std::string report = standin::conversion_report(linked_module(), failures);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3 * 9 * 2 * 3);
}

TEST(HostChecks, InitWithoutAddFilterRefusesAndWritesNoVersions) {
    host::FilterFunctions no_services{};
    host::FilterModule module{};
    int version = -1;
    int compatible = -1;
    EXPECT_EQ(host::module_init(&module, &no_services, version, compatible), 1);
    EXPECT_EQ(host::module_init(&module, nullptr, version, compatible), 1);
    EXPECT_EQ(version, -1);
    EXPECT_EQ(compatible, -1);
}

struct GeometryCase {
    std::int32_t mode;
    std::int32_t value;  // the mode's own setting, where it has one
    std::int32_t src_w;
    std::int32_t src_h;
};

class ParamProc : public HostBinding, public ::testing::WithParamInterface<GeometryCase> {};

FilterSettings settings_for(const GeometryCase& c) {
    FilterSettings s = default_settings();
    s.mode = c.mode;
    s.center_width = c.value;
    s.align_horz = c.value;
    s.align_vert = -c.value;
    s.crop_x = c.value;
    s.crop_width = 3 * c.value;
    return s;
}

TEST_P(ParamProc, SetsTheCoreGeometryAndTheHostDerivesTheModulo) {
    const GeometryCase& c = GetParam();
    FilterInstance instance(host_);
    instance.settings() = settings_for(c);
    FilterSettings expected_settings = settings_for(c);
    const OutputGeometry expected = compute_output_geometry(expected_settings, c.src_w, c.src_h);

    EXPECT_EQ(instance.plan(c.src_w, c.src_h, 4 * c.src_w + 16), 1);
    EXPECT_EQ(instance.dst().w, expected.w);
    EXPECT_EQ(instance.dst().h, expected.h);
    EXPECT_EQ(instance.dst().pitch, expected.pitch);
    EXPECT_EQ(instance.dst().modulo, expected.pitch - 4 * expected.w);
    // The record is what the host stores: compared as its bytes.
    EXPECT_EQ(std::memcmp(&instance.settings(), &expected_settings, sizeof(FilterSettings)),
              0)  // NOLINT(bugprone-suspicious-memory-comparison)
        << "the corrected settings are kept in the instance";
    EXPECT_EQ(instance.src().w, c.src_w) << "paramProc leaves the source alone";
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, ParamProc,
    ::testing::Values(GeometryCase{MODE_NOP, 0, 641, 480}, GeometryCase{MODE_DEINTERLACE, 0, 640, 481},
                      GeometryCase{MODE_CENTERING, 33, 640, 480}, GeometryCase{MODE_ANAGLYPH, 0, 641, 480},
                      GeometryCase{MODE_SBS_TO_AB, 0, 1280, 360}, GeometryCase{MODE_AB_TO_SBS, 0, 640, 721},
                      GeometryCase{MODE_ALIGNMENT, 400, 640, 480}, GeometryCase{MODE_ALIGNMENT, -8, 640, 480},
                      GeometryCase{MODE_CROPPING, 700, 1280, 480}, GeometryCase{MODE_CROPPING, 5, 1280, 480},
                      GeometryCase{150, 0, 320, 240}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) {
        const GeometryCase& c = info.param;
        return "mode" + std::to_string(c.mode) + "_value" + (c.value < 0 ? "Minus" : "") +
               std::to_string(c.value < 0 ? -c.value : c.value) + "_" + std::to_string(c.src_w) + "x" +
               std::to_string(c.src_h);
    });

// Runs one frame through the stand-in host and the same frame through the
// core directly, with the module's coefficients; both outputs must be
// identical, padding included.
void expect_run_matches_core(StandinHost& host, const FilterSettings& settings, test::PitchKind kind) {
    constexpr std::int32_t kW = 57;
    constexpr std::int32_t kH = 23;
    std::mt19937 rng(static_cast<unsigned>(settings.mode * 2 + settings.swap_lr));
    test::TestFrame src(kW, kH, kind);
    src.fill_random(rng);

    FilterInstance instance(host);
    instance.settings() = settings;
    instance.plan(kW, kH, src.view().pitch);
    const std::int32_t dst_w = instance.dst().w;
    const std::int32_t dst_h = instance.dst().h;
    ASSERT_EQ(instance.dst().pitch % 4, 0);
    std::vector<std::uint32_t> via_host(static_cast<std::size_t>(instance.dst().pitch / 4) * dst_h, 0x5A5A5A5AU);
    std::vector<std::uint32_t> via_core(via_host);

    ASSERT_EQ(instance.start(), 0);
    EXPECT_EQ(instance.run(reinterpret_cast<std::uint32_t*>(src.view().data), via_host.data()), 0);
    EXPECT_EQ(instance.end(), 0);

    FilterSettings core_settings = settings;
    const OutputGeometry g = compute_output_geometry(core_settings, kW, kH);
    convert_frame(core_settings, src.view(), make_frame_view(via_core.data(), g.w, g.h, g.pitch),
                  anaglyph_coefficients);
    EXPECT_EQ(via_host, via_core) << "mode " << settings.mode << " swap " << int{settings.swap_lr} << " output "
                                  << dst_w << "x" << dst_h;
}

TEST_F(HostBinding, RunProcConvertsLikeTheCoreInEveryModeWithAndWithoutSwap) {
    for (const test::PitchKind kind : {test::PitchKind::packed, test::PitchKind::padded, test::PitchKind::negative}) {
        for (const ModeRow& mode : kModes) {
            for (std::uint8_t swap = 0; swap <= 1; ++swap) {
                FilterSettings s = default_settings();
                s.mode = mode.mode;
                s.swap_lr = swap;
                s.center_width = 6;
                s.fill_color = 0x00ABCDEF;
                s.align_horz = 2;
                s.align_vert = -3;
                s.crop_x = 4;
                s.crop_y = 2;
                s.crop_width = 9;
                s.crop_height = 7;
                expect_run_matches_core(host_, s, kind);
            }
        }
    }
}

// The table the dialog edits is the one every instance's frames convert with.
TEST_F(HostBinding, RunProcMakesTheAnaglyphWithTheModulesCoefficients) {
    const AnaglyphMatrix saved = anaglyph_coefficients;
    anaglyph_coefficients = AnaglyphMatrix{};
    anaglyph_coefficients[0] = 1.0;  // red = left red, everything else 0
    FilterSettings s = default_settings();
    s.mode = MODE_ANAGLYPH;
    expect_run_matches_core(host_, s, test::PitchKind::padded);
    anaglyph_coefficients = saved;
}

TEST_F(HostBinding, RunProcWithoutInstanceDataOrWithAnUnrepresentablePitchWritesNothing) {
    FilterInstance instance(host_);
    instance.settings().mode = MODE_NOP;
    std::vector<std::uint32_t> src(16 * 16, 0x11111111U);
    std::vector<std::uint32_t> dst(16 * 16, 0x22222222U);
    instance.plan(16, 16, 64);

    void* data = instance.activation().filter_data;
    instance.activation().filter_data = nullptr;
    EXPECT_EQ(instance.run(src.data(), dst.data()), 0);
    instance.activation().filter_data = data;
    EXPECT_EQ(dst, std::vector<std::uint32_t>(16 * 16, 0x22222222U));

    if constexpr (sizeof(std::intptr_t) > 4) {
        instance.activation().src->pitch = std::intptr_t{1} << 33;
        EXPECT_EQ(instance.run(src.data(), dst.data()), 0);
        EXPECT_EQ(dst, std::vector<std::uint32_t>(16 * 16, 0x22222222U));
    }
}

TEST_F(HostBinding, ConfigProcOpensTheDialogFromTheModuleOverTheParent) {
    FilterInstance instance(host_);
    int parent = 0;
    for (const int answer : {0, 1}) {
        test::recorded_dialog.answer = answer;
        EXPECT_EQ(instance.configure(&parent), answer);
    }
    EXPECT_EQ(test::recorded_dialog.count, 2);
    EXPECT_EQ(test::recorded_dialog.module_instance, host_.module().hInstModule);
    EXPECT_EQ(test::recorded_dialog.owner, &parent);
    EXPECT_EQ(test::recorded_dialog.settings, &instance.settings());
}

TEST_F(HostBinding, ConfigProcFailsTheHostsWayWhenTheDialogRunsOutOfMemory) {
    FilterInstance instance(host_);
    const FilterSettings before = instance.settings();
    test::recorded_dialog.out_of_memory = true;
    EXPECT_EQ(instance.configure(nullptr), -1);
    EXPECT_EQ(test::recorded_dialog.count, 1);
    EXPECT_EQ(instance.settings(), before);
}

TEST_F(HostBinding, ConfigProcRefusesWhenTheModuleHandleIsUnknown) {
    FilterInstance instance(host_);
    host_.module().hInstModule = nullptr;
    EXPECT_EQ(instance.configure(nullptr), -1);
    host_.filter().module = nullptr;
    EXPECT_EQ(instance.configure(nullptr), -1);
    EXPECT_EQ(test::recorded_dialog.count, 0) << "a null handle would find another module's template";
}

TEST_F(HostBinding, StringProcDescribesEveryModeAndSwap) {
    FilterInstance instance(host_);
    for (const ModeRow& mode : kModes) {
        for (std::uint8_t swap = 0; swap <= 1; ++swap) {
            instance.settings().mode = mode.mode;
            instance.settings().swap_lr = swap;
            EXPECT_EQ(instance.describe(), description_text(instance.settings()));
        }
    }
    instance.settings().mode = MODE_CROPPING;
    instance.settings().swap_lr = 1;
    EXPECT_EQ(instance.describe(), ": Cropping (swapped L/R)");
}

struct StatementCase {
    int buflen;
    bool written;
};

constexpr const char* kSwappedStatement = "Config(1, 200, 0, 0, 0, 0, 0, 10, 10, 0)";

TEST_F(HostBinding, FssProcWritesTheWholeStatementOrReportsFailure) {
    FilterInstance instance(host_);
    instance.settings().swap_lr = 7;  // any non-zero byte counts as swapped
    const int needed = static_cast<int>(std::strlen(kSwappedStatement)) + 1;
    for (const StatementCase c :
         {StatementCase{-1, false}, StatementCase{0, false}, StatementCase{1, false}, StatementCase{needed - 1, false},
          StatementCase{needed, true}, StatementCase{4096, true}}) {
        std::vector<char> buf(4200, '#');
        EXPECT_EQ(instance.script_statement(buf.data(), c.buflen), c.written) << "buflen " << c.buflen;
        const std::size_t limit = c.buflen > 0 ? static_cast<std::size_t>(c.buflen) : 0;
        EXPECT_EQ(std::count(buf.begin() + static_cast<std::ptrdiff_t>(limit), buf.end(), '#'),
                  static_cast<std::ptrdiff_t>(buf.size() - limit))
            << "wrote past a buffer of " << c.buflen;
        if (c.written) {
            EXPECT_STREQ(buf.data(), kSwappedStatement);
        }
    }
    EXPECT_FALSE(instance.script_statement(nullptr, 64));
}

TEST_F(HostBinding, TheLongestStatementFillsItsCapacityAndReplaysWhole) {
    FilterInstance instance(host_);
    FilterSettings& s = instance.settings();
    s.swap_lr = 1;
    s.mode = INT32_MIN;  // no mode: written as it is, ignored when replayed
    s.center_width = s.align_horz = s.align_vert = s.crop_x = s.crop_y = s.crop_width = s.crop_height = INT32_MIN;
    s.fill_color = 0x80000000U;
    std::vector<char> buf(host::kScriptStatementCapacity, '#');
    ASSERT_TRUE(instance.script_statement(buf.data(), host::kScriptStatementCapacity));
    EXPECT_EQ(std::strlen(buf.data()) + 1, std::size_t{host::kScriptStatementCapacity});
    EXPECT_FALSE(instance.script_statement(buf.data(), host::kScriptStatementCapacity - 1));

    FilterInstance restored(host_);
    FilterSettings expected = s;
    expected.mode = MODE_NOP;
    ASSERT_TRUE(restored.replay(instance.script_statement()));
    EXPECT_EQ(restored.settings(), expected);
}

// Ten arguments as a script host hands them over, all integers of `type`.
struct ScriptArguments {
    host::CScriptValue argv[host::kStatementNumbers] = {};

    ScriptArguments(std::int32_t type, const std::int64_t (&values)[host::kStatementNumbers]) {
        for (int i = 0; i < host::kStatementNumbers; ++i) {
            argv[i].type = type;
            argv[i].u.l = values[i];  // a T_INT reads the low half of the same bytes
        }
    }
};

TEST_F(HostBinding, ConfigScriptFunctionSetsOnlyTheSwapFlagAndIgnoresMissingArguments) {
    FilterInstance instance(host_);
    instance.settings().mode = MODE_CENTERING;
    instance.settings().center_width = 12;
    FilterSettings before = instance.settings();
    host::CScriptValue argv[2] = {};
    argv[0].type = argv[1].type = host::T_INT;

    struct Call {
        int first;
        int argc;
        std::uint8_t swap;
    };
    for (const Call call : {Call{-4, 2, 1}, Call{0, 2, 0}, Call{2, 2, 1}, Call{0, 0, 1}}) {
        argv[0].u.i = call.first;
        argv[1].u.i = 99;
        host::script_config(nullptr, &instance.activation(), argv, call.argc);
        before.swap_lr = call.swap;
        EXPECT_EQ(instance.settings(), before) << "first " << call.first;
    }
    host::script_config(nullptr, &instance.activation(), nullptr, 2);
    host::script_config(nullptr, nullptr, argv, 2);
    EXPECT_EQ(instance.settings(), before);
}

TEST_F(HostBinding, ScriptIntegersAreReadByTheirLow32BitsWhateverTheirWidth) {
    constexpr std::int64_t kHigh = std::int64_t{0x5A5A5A5A} << 32;  // junk above the number
    const std::int64_t values[host::kStatementNumbers] = {
        kHigh | 2, kHigh | MODE_CROPPING, kHigh | 0xFFFFFFFF, -5, 7, kHigh | 0x80000000, 3, 100, 50, kHigh | 0xFF8000,
    };
    FilterSettings expected = default_settings();
    expected.swap_lr = 1;
    expected.mode = MODE_CROPPING;
    expected.center_width = -1;
    expected.align_horz = -5;
    expected.align_vert = 7;
    expected.crop_x = INT32_MIN;
    expected.crop_y = 3;
    expected.crop_width = 100;
    expected.crop_height = 50;
    expected.fill_color = 0x00FF8000;
    for (const std::int32_t type : {host::T_LONG, host::T_INT}) {
        FilterInstance instance(host_);
        ScriptArguments args(type, values);
        host::script_config(nullptr, &instance.activation(), args.argv, host::kStatementNumbers);
        EXPECT_EQ(instance.settings(), expected) << "type " << type;

        FilterInstance two(host_);
        host::script_config(nullptr, &two.activation(), args.argv, 2);
        EXPECT_EQ(two.settings().mode, MODE_CROPPING) << "type " << type;
        EXPECT_EQ(two.settings().swap_lr, 1) << "type " << type;
    }
}

TEST_F(HostBinding, ScriptNumbersAreStoredAsGivenAndCorrectedAtParamProcLikeTheDialogs) {
    // A crop window far outside the frame and an alignment that leaves nothing.
    FilterInstance scripted(host_);
    ASSERT_TRUE(scripted.replay("Config(0, 207, 8, 5000, -9, 700, -3, 99999, 0, 16777215)"));
    const FilterSettings as_given = scripted.settings();
    EXPECT_EQ(as_given.crop_x, 700);
    EXPECT_EQ(as_given.crop_width, 99999);

    FilterInstance configured(host_);  // the same numbers as the dialog's OK writes them
    configured.settings() = as_given;
    scripted.plan(320, 240, 1280);
    configured.plan(320, 240, 1280);
    EXPECT_EQ(scripted.settings(), configured.settings());
    EXPECT_NE(scripted.settings(), as_given) << "paramProc corrects the window";
    EXPECT_EQ(scripted.dst().w, configured.dst().w);
    EXPECT_EQ(scripted.dst().h, configured.dst().h);
}

}  // namespace
}  // namespace ocuvex
