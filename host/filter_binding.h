// The module's side of the host boundary: the filter description, its
// callbacks, the script object and the two module entry points, all free of
// Windows headers. The exported symbols themselves live in module_exports_win32.cpp.
#pragma once

#include "host/host_records.h"

namespace ocuvex::host {

// The name under which the filter is listed and found by scripts.
inline constexpr const char* kFilterName = "Ocuvex filter";
inline constexpr const char* kFilterDescription = "Some useful stereoscopic conversions.";

// Longest script statement, "Config(1, 0)", with its terminating zero.
inline constexpr int kScriptStatementCapacity = 13;

// The description handed to the host at registration.
const FilterDefinition& filter_definition();

// The description the host returned from addFilter, or nullptr when the
// module is not registered.
const FilterDefinition* registered_filter();

// The two entry points: register with the host (0 on success, 1 when the host
// refuses; the versions are written only on success) and unregister.
int module_init(FilterModule* fm, const FilterFunctions* ff, int& vdfd_ver, int& vdfd_compat);
void module_deinit(FilterModule* fm, const FilterFunctions* ff);

// The callbacks of the filter description.
int OCUVEX_HOST_CDECL init_proc(FilterActivation* fa, const FilterFunctions* ff);
std::int32_t OCUVEX_HOST_CDECL param_proc(FilterActivation* fa, const FilterFunctions* ff);
int OCUVEX_HOST_CDECL start_proc(FilterActivation* fa, const FilterFunctions* ff);
int OCUVEX_HOST_CDECL run_proc(const FilterActivation* fa, const FilterFunctions* ff);
int OCUVEX_HOST_CDECL end_proc(FilterActivation* fa, const FilterFunctions* ff);
int OCUVEX_HOST_CDECL config_proc(FilterActivation* fa, const FilterFunctions* ff, WindowHandle parent);
void OCUVEX_HOST_CDECL string_proc(const FilterActivation* fa, const FilterFunctions* ff, char* buf);
bool OCUVEX_HOST_CDECL fss_proc(FilterActivation* fa, const FilterFunctions* ff, char* buf, int buflen);

// The script function "Config" ("0ii"): replays the swap flag.
void OCUVEX_HOST_CDECL script_config(IScriptInterpreter* isi, void* ctx, CScriptValue* argv, int argc);

}  // namespace ocuvex::host
