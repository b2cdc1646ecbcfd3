// The module's two exported entry points, under the exact names the host looks
// up with GetProcAddress: C linkage, cdecl, no decoration.
#include <windows.h>

#include "host/filter_binding.h"

using ocuvex::host::FilterFunctions;
using ocuvex::host::FilterModule;

extern "C" __declspec(dllexport) int __cdecl VirtualdubFilterModuleInit2(FilterModule* fm, const FilterFunctions* ff,
                                                                         int& vdfd_ver, int& vdfd_compat) {
    return ocuvex::host::module_init(fm, ff, vdfd_ver, vdfd_compat);
}

extern "C" __declspec(dllexport) void __cdecl VirtualdubFilterModuleDeinit(FilterModule* fm,
                                                                           const FilterFunctions* ff) {
    ocuvex::host::module_deinit(fm, ff);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }
