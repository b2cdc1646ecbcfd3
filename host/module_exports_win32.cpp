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

// The static C++ runtime allocates its emergency exception pool when the
// module loads and never frees it; hosts that load and unload the module on
// demand would lose it (19 KB in 32-bit, 73 KB in 64-bit processes) on every
// unload. At process exit (a non-null `reserved`) there is nothing to give back.
namespace __gnu_cxx {
void __freeres() noexcept;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        __gnu_cxx::__freeres();
    }
    return TRUE;
}
