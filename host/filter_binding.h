// The module's side of the host boundary: the filter description, its
// callbacks, the script object and the two module entry points, all free of
// Windows headers. The exported symbols themselves live in module_exports_win32.cpp.
#pragma once

#include "host/host_records.h"

namespace ocuvex::host {

// The name under which the filter is listed and found by scripts.
inline constexpr const char* kFilterName = "Ocuvex filter";
inline constexpr const char* kFilterDescription = "Some useful stereoscopic conversions.";

// The script statement saves the whole record as ten numbers:
// "Config(swap_lr, mode, center_width, align_horz, align_vert, crop_x, crop_y,
// crop_width, crop_height, fill_color)", fill_color as its signed 32-bit pattern.
inline constexpr int kStatementNumbers = 10;
// Its longest text with the terminating zero: "Config(", swap_lr (0 or 1),
// nine numbers of at most 11 characters ("-2147483648") each after ", ", ")".
inline constexpr int kScriptStatementCapacity = 7 + 1 + (kStatementNumbers - 1) * (2 + 11) + 1 + 1;

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

// The script function "Config", behind both entries of the table: "0ii" sets
// swap_lr and mode (statements saved by earlier versions carry 0 there, which
// is no mode and is ignored); "0iiiiiiiiii" sets the whole record, as given:
// paramProc corrects it as it corrects the dialog's values.
void OCUVEX_HOST_CDECL script_config(IScriptInterpreter* isi, void* ctx, CScriptValue* argv, int argc);

}  // namespace ocuvex::host
