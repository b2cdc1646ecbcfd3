#include "host/filter_binding.h"

#include <cstdio>
#include <limits>

#include "core/filter_settings.h"
#include "core/frame_conversion.h"
#include "core/output_geometry.h"
#include "dialog/run_dialog.h"

namespace ocuvex::host {

namespace {

// What the configuration dialog returns when it cannot be created.
constexpr int kDialogFailed = -1;

ScriptFunctionDef script_functions[] = {
    {function_cast<ScriptFunctionPtr>(&script_config), "Config", "0ii"},
    {nullptr, nullptr, nullptr},  // old hosts stop at arg_list, newer ones at func_ptr
};

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

}  // namespace

const FilterDefinition& filter_definition() { return definition; }

const FilterDefinition* registered_filter() { return registration; }

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
    if (FilterSettings* settings = settings_of(fa)) {
        set_defaults(*settings);
    }
    return 0;
}

std::int32_t param_proc(FilterActivation* fa, const FilterFunctions* /*ff*/) {
    FilterSettings* settings = settings_of(fa);
    if (settings != nullptr && fa->src != nullptr && fa->dst != nullptr) {
        const OutputGeometry out = compute_output_geometry(*settings, fa->src->w, fa->src->h);
        fa->dst->w = out.w;
        fa->dst->h = out.h;
        fa->dst->pitch = out.pitch;
    }
    return static_cast<std::int32_t>(FILTERPARAM_SWAP_BUFFERS);
}

int start_proc(FilterActivation* /*fa*/, const FilterFunctions* /*ff*/) { return 0; }

int run_proc(const FilterActivation* fa, const FilterFunctions* /*ff*/) {
    const FilterSettings* settings = settings_of(fa);
    FrameView src{};
    FrameView dst{};
    if (settings == nullptr || !frame_view_of(fa->src, src) || !frame_view_of(fa->dst, dst)) {
        return 0;
    }
    return convert_frame(*settings, src, dst);
}

int end_proc(FilterActivation* /*fa*/, const FilterFunctions* /*ff*/) { return 0; }

int config_proc(FilterActivation* fa, const FilterFunctions* /*ff*/, WindowHandle parent) {
    FilterSettings* settings = settings_of(fa);
    // Without the module's own instance handle the dialog template would be
    // looked up in whatever module a null handle names.
    if (settings == nullptr || fa->filter == nullptr || fa->filter->module == nullptr ||
        fa->filter->module->hInstModule == nullptr) {
        return kDialogFailed;
    }
    return dialog::run_config_dialog(fa->filter->module->hInstModule, parent, *settings);
}

void string_proc(const FilterActivation* fa, const FilterFunctions* /*ff*/, char* buf) {
    const FilterSettings* settings = settings_of(fa);
    if (settings != nullptr && buf != nullptr) {
        describe(*settings, buf);
    }
}

bool fss_proc(FilterActivation* fa, const FilterFunctions* /*ff*/, char* buf, int buflen) {
    const FilterSettings* settings = settings_of(fa);
    if (settings == nullptr || buf == nullptr || buflen <= 0) {
        return false;
    }
    char statement[kScriptStatementCapacity + 8];
    const int length = std::snprintf(statement, sizeof statement, "Config(%d, %d)", settings->swap_lr != 0 ? 1 : 0, 0);
    // A cut-off statement would be saved into the host's script as if it were whole.
    if (length < 0 || length >= buflen) {
        buf[0] = '\0';
        return false;
    }
    for (int i = 0; i <= length; ++i) {
        buf[i] = statement[i];
    }
    return true;
}

void script_config(IScriptInterpreter* /*isi*/, void* ctx, CScriptValue* argv, int argc) {
    FilterSettings* settings = settings_of(static_cast<const FilterActivation*>(ctx));
    if (settings == nullptr || argv == nullptr || argc < 1) {
        return;
    }
    settings->swap_lr = argv[0].u.i != 0 ? 1 : 0;
}

}  // namespace ocuvex::host
