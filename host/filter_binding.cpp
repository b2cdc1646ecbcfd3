#include "host/filter_binding.h"

#include <array>
#include <cstdio>
#include <limits>

#include "core/anaglyph.h"
#include "core/filter_settings.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "core/settings_fields.h"
#include "dialog/run_dialog.h"
#include "host/host_boundary.h"

namespace ocuvex::host {

namespace {

// What the configuration dialog returns when it cannot be created.
constexpr int kDialogFailed = -1;
// What runProc returns for a frame it could not convert: the old editor stops
// the chain on any non-zero status.
constexpr int kFrameFailed = 1;

// A null name continues the name above it: the hosts try such entries in
// order as overloads of one function.
ScriptFunctionDef script_functions[] = {
    {function_cast<ScriptFunctionPtr>(&script_config), "Config", "0ii"},
    {function_cast<ScriptFunctionPtr>(&script_config), nullptr, "0iiiiiiiiii"},
    {nullptr, nullptr, nullptr},  // old hosts stop at arg_list, newer ones at func_ptr
};

// The statement's numbers are the record's fields in record order: swap_lr
// and mode first, fill_color (as its signed 32-bit pattern) last.
static_assert(kSettingsFields.size() == kStatementNumbers && kSettingsFields[0].kind == FieldKind::Flag &&
              kSettingsFields[1].kind == FieldKind::Mode);

CScriptObject script_object = {nullptr, script_functions, nullptr};

// Writable because addFilter takes it by non-const pointer; the host only copies it.
FilterDefinition definition = {
    nullptr,  // next
    nullptr,  // prev
    nullptr,  // module
    kFilterName,
    kFilterDescription,
    "Ocuvex developers",  // maker
    nullptr,              // private_data
    static_cast<int>(sizeof(FilterSettings)),
    &init_proc,
    nullptr,  // deinitProc
    &run_proc,
    &param_proc,
    &config_proc,
    &string_proc,
    &start_proc,
    &end_proc,
    &script_object,
    &fss_proc,
    nullptr,  // stringProc2
    nullptr,  // serializeProc
    nullptr,  // deserializeProc
    nullptr,  // copyProc
};

FilterDefinition* registration = nullptr;

FilterSettings* settings_of(const FilterActivation* fa) {
    return fa != nullptr ? static_cast<FilterSettings*>(fa->filter_data) : nullptr;
}

bool fits_int32(std::intptr_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// The host's bitmap as the core's view; false when its pitch has no 32-bit view.
bool frame_view_of(const VFBitmap* bitmap, FrameView& view) {
    if (bitmap == nullptr || !fits_int32(bitmap->pitch)) {
        return false;
    }
    view = make_frame_view(bitmap->data, bitmap->w, bitmap->h, static_cast<std::int32_t>(bitmap->pitch));
    return true;
}

std::array<std::int32_t, kStatementNumbers> statement_numbers(const FilterSettings& settings) {
    std::array<std::int32_t, kStatementNumbers> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        numbers[i] = static_cast<std::int32_t>(field_value(kSettingsFields[i], settings));
    }
    return numbers;
}

// An integer argument. AviSynth+ hands integers over as 64-bit values, the
// editor as 32-bit ones: the number is the low 32 bits of either.
std::int32_t script_integer(const CScriptValue& value) {
    return value.type == T_LONG ? static_cast<std::int32_t>(value.u.l) : value.u.i;
}

}  // namespace

int module_init(FilterModule* fm, const FilterFunctions* ff, int& vdfd_ver, int& vdfd_compat) {
    if (ff == nullptr || ff->addFilter == nullptr) {
        return 1;
    }
    FilterDefinition* added = ff->addFilter(fm, &definition, static_cast<int>(sizeof(FilterDefinition)));
    if (added == nullptr) {
        return 1;
    }
    registration = added;
    vdfd_ver = VIRTUALDUB_FILTERDEF_VERSION;
    vdfd_compat = VIRTUALDUB_FILTERDEF_COMPATIBLE;
    return 0;
}

void module_deinit(FilterModule* /*fm*/, const FilterFunctions* ff) {
    // A host that unloads after a refused registration has nothing to remove.
    if (registration != nullptr && ff != nullptr && ff->removeFilter != nullptr) {
        ff->removeFilter(registration);
    }
    registration = nullptr;
}

int init_proc(FilterActivation* fa, const FilterFunctions* /*ff*/) {
    // A non-zero answer makes the host drop the instance and report it.
    return guard_host_call(
        [fa] {
            if (FilterSettings* settings = settings_of(fa)) {
                set_defaults(*settings);
            }
            return 0;
        },
        [] { return 1; });
}

std::int32_t param_proc(FilterActivation* fa, const FilterFunctions* /*ff*/) {
    // The old filter API has no failure answer here; the destination keeps the
    // source geometry the host preset.
    return guard_host_call(
        [fa] {
            FilterSettings* settings = settings_of(fa);
            if (settings != nullptr && fa->src != nullptr && fa->dst != nullptr) {
                const OutputGeometry out = compute_output_geometry(*settings, fa->src->w, fa->src->h);
                fa->dst->w = out.w;
                fa->dst->h = out.h;
                fa->dst->pitch = out.pitch;
            }
            return static_cast<std::int32_t>(FILTERPARAM_SWAP_BUFFERS);
        },
        [] { return static_cast<std::int32_t>(FILTERPARAM_SWAP_BUFFERS); });
}

int start_proc(FilterActivation* /*fa*/, const FilterFunctions* /*ff*/) { return 0; }

int run_proc(const FilterActivation* fa, const FilterFunctions* /*ff*/) {
    return guard_host_call(
        [fa] {
            const FilterSettings* settings = settings_of(fa);
            FrameView src{};
            FrameView dst{};
            if (settings == nullptr || !frame_view_of(fa->src, src) || !frame_view_of(fa->dst, dst)) {
                return 0;
            }
            // The dialog may store new coefficients meanwhile: a frame converts with one copy.
            const AnaglyphMatrix coefficients = anaglyph_coefficients;
            return convert_frame(*settings, src, dst, coefficients);
        },
        [] { return kFrameFailed; });
}

int end_proc(FilterActivation* /*fa*/, const FilterFunctions* /*ff*/) { return 0; }

int config_proc(FilterActivation* fa, const FilterFunctions* /*ff*/, WindowHandle parent) {
    return guard_host_call(
        [fa, parent] {
            FilterSettings* settings = settings_of(fa);
            // Without the module's own instance handle the dialog template would be
            // looked up in whatever module a null handle names.
            if (settings == nullptr || fa->filter == nullptr || fa->filter->module == nullptr ||
                fa->filter->module->hInstModule == nullptr) {
                return kDialogFailed;
            }
            return dialog::run_config_dialog(fa->filter->module->hInstModule, parent, *settings);
        },
        [] { return kDialogFailed; });
}

void string_proc(const FilterActivation* fa, const FilterFunctions* /*ff*/, char* buf) {
    guard_host_call(
        [fa, buf] {
            const FilterSettings* settings = settings_of(fa);
            if (settings != nullptr && buf != nullptr) {
                describe(*settings, buf);
            }
        },
        [] {});
}

bool fss_proc(FilterActivation* fa, const FilterFunctions* /*ff*/, char* buf, int buflen) {
    return guard_host_call(
        [fa, buf, buflen] {
            const FilterSettings* settings = settings_of(fa);
            if (settings == nullptr || buf == nullptr || buflen <= 0) {
                return false;
            }
            const std::array<std::int32_t, kStatementNumbers> n = statement_numbers(*settings);
            char statement[kScriptStatementCapacity];
            const int length =
                std::snprintf(statement, sizeof statement, "Config(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d)", n[0], n[1],
                              n[2], n[3], n[4], n[5], n[6], n[7], n[8], n[9]);
            // A cut-off statement would be saved into the host's script as if it were whole.
            if (length < 0 || length >= static_cast<int>(sizeof statement) || length >= buflen) {
                buf[0] = '\0';
                return false;
            }
            for (int i = 0; i <= length; ++i) {
                buf[i] = statement[i];
            }
            return true;
        },
        [] { return false; });
}

void script_config(IScriptInterpreter* /*isi*/, void* ctx, CScriptValue* argv, int argc) {
    guard_host_call(
        [ctx, argv, argc] {
            FilterSettings* settings = settings_of(static_cast<const FilterActivation*>(ctx));
            if (settings == nullptr || argv == nullptr || argc < 1) {
                return;
            }
            settings->swap_lr = script_integer(argv[0]) != 0 ? 1 : 0;
            if (argc >= 2 && is_known_mode(script_integer(argv[1]))) {
                settings->mode = script_integer(argv[1]);
            }
            if (argc >= kStatementNumbers) {
                // The fields after the mode as given; fill_color takes the number's 32-bit pattern.
                for (std::size_t i = 2; i < kSettingsFields.size(); ++i) {
                    set_field_value(kSettingsFields[i], *settings, script_integer(argv[i]));
                }
            }
        },
        [] {});
}

}  // namespace ocuvex::host
