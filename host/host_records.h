// The editor's filter plug-in records, as the host lays them out in memory.
// Fixed-width types stand in for the host's `long` (32 bits on both Windows
// targets) and pointer-sized types for its `ptrdiff_t`, so the same header
// gives the 32-bit layout on i686, the 64-bit layout on x86-64 and a native
// build on Linux for testing. Window and instance handles are opaque pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define OCUVEX_HOST_CDECL __cdecl
#else
#define OCUVEX_HOST_CDECL
#endif

namespace ocuvex::host {

using ModuleHandle = void*;  // HINSTANCE / HMODULE
using WindowHandle = void*;  // HWND

struct FilterDefinition;
struct FilterActivation;
struct FilterFunctions;
struct FilterModule;
struct FilterStateInfo;
struct CScriptObject;
struct CScriptValue;
struct IScriptInterpreter;  // opaque: the module never calls the interpreter

// paramProc's answers.
inline constexpr std::uint32_t FILTERPARAM_SWAP_BUFFERS = 0x1;
inline constexpr std::uint32_t FILTERPARAM_NEEDS_LAST = 0x2;
inline constexpr std::uint32_t FILTERPARAM_SUPPORTS_ALTFORMATS = 0x4;
inline constexpr std::uint32_t FILTERPARAM_ALIGN_SCANLINES = 0x8;
inline constexpr std::uint32_t FILTERPARAM_PURE_TRANSFORM = 0x10;
inline constexpr std::uint32_t FILTERPARAM_NOT_SUPPORTED = 0xFFFFFFFF;

// The filter API this module is written against, and the oldest it runs on.
inline constexpr int VIRTUALDUB_FILTERDEF_VERSION = 8;
inline constexpr int VIRTUALDUB_FILTERDEF_COMPATIBLE = 4;

using FilterInitProc = int(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterDeinitProc = void(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterRunProc = int(OCUVEX_HOST_CDECL*)(const FilterActivation* fa, const FilterFunctions* ff);
using FilterParamProc = std::int32_t(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterConfigProc = int(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff, WindowHandle parent);
using FilterStringProc = void(OCUVEX_HOST_CDECL*)(const FilterActivation* fa, const FilterFunctions* ff, char* buf);
using FilterStartProc = int(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff);
using FilterEndProc = int(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff);
// The host reads only the low byte of the result: it must be a C++ bool.
using FilterScriptStrProc = bool(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff, char* buf,
                                                     int buflen);
using FilterStringProc2 = void(OCUVEX_HOST_CDECL*)(const FilterActivation* fa, const FilterFunctions* ff, char* buf,
                                                   int maxlen);
using FilterSerialize = int(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff, char* buf, int maxbuf);
using FilterDeserialize = void(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff, const char* buf,
                                                   int maxbuf);
using FilterCopy = void(OCUVEX_HOST_CDECL*)(FilterActivation* fa, const FilterFunctions* ff, void* dst_filter_data);

using FilterModuleInitProc = int(OCUVEX_HOST_CDECL*)(FilterModule* fm, const FilterFunctions* ff, int& vdfd_ver,
                                                     int& vdfd_compat);
using FilterModuleDeinitProc = void(OCUVEX_HOST_CDECL*)(FilterModule* fm, const FilterFunctions* ff);

// The description a module hands to addFilter; the host keeps its own copy.
struct FilterDefinition {
    FilterDefinition* next;
    FilterDefinition* prev;
    FilterModule* module;
    const char* name;
    const char* desc;
    const char* maker;
    void* private_data;
    int inst_data_size;
    FilterInitProc initProc;
    FilterDeinitProc deinitProc;
    FilterRunProc runProc;
    FilterParamProc paramProc;
    FilterConfigProc configProc;
    FilterStringProc stringProc;
    FilterStartProc startProc;
    FilterEndProc endProc;
    CScriptObject* script_obj;
    FilterScriptStrProc fssProc;
    FilterStringProc2 stringProc2;
    FilterSerialize serializeProc;
    FilterDeserialize deserializeProc;
    FilterCopy copyProc;
};

struct FilterVTbls {
    void* pvtblVBitmap;
};

// The host's services.
struct FilterFunctions {
    FilterDefinition*(OCUVEX_HOST_CDECL* addFilter)(FilterModule* fm, FilterDefinition* fd, int fd_len);
    void(OCUVEX_HOST_CDECL* removeFilter)(FilterDefinition* fd);
    bool(OCUVEX_HOST_CDECL* isFPUEnabled)();
    bool(OCUVEX_HOST_CDECL* isMMXEnabled)();
    void(OCUVEX_HOST_CDECL* InitVTables)(FilterVTbls* vtbls);
    void(OCUVEX_HOST_CDECL* ExceptOutOfMemory)();
    void(OCUVEX_HOST_CDECL* Except)(const char* format, ...);
    std::int32_t(OCUVEX_HOST_CDECL* getCPUFlags)();
    std::int32_t(OCUVEX_HOST_CDECL* getHostVersionInfo)(char* buf, int len);
};

// Allocated and owned by the host, one per loaded module file.
struct FilterModule {
    FilterModule* next;
    FilterModule* prev;
    ModuleHandle hInstModule;
    FilterModuleInitProc initProc;
    FilterModuleDeinitProc deinitProc;
};

// The host's bitmap. Its C++ class has virtual methods, so a vtable pointer
// comes first; the module never touches it.
struct VBitmap {
    void* vtable_reserved;
    std::uint32_t* data;  // first pixel of the bottom-most row
    std::uint32_t* palette;
    std::int32_t depth;
    std::int32_t w;
    std::int32_t h;
    std::intptr_t pitch;   // bytes from one row to the next row up the picture
    std::intptr_t modulo;  // pitch - 4 * w
    std::intptr_t size;
    std::intptr_t offset;
};

// The bitmap handed to filters: VBitmap's fields followed by two of its own.
// Spelled out rather than derived, so the record stays standard-layout.
struct VFBitmap {
    void* vtable_reserved;
    std::uint32_t* data;
    std::uint32_t* palette;
    std::int32_t depth;
    std::int32_t w;
    std::int32_t h;
    std::intptr_t pitch;
    std::intptr_t modulo;
    std::intptr_t size;
    std::intptr_t offset;
    std::uint32_t dwFlags;
    void* hdc;
};

// Frame timing handed to the filter from startProc on (the 1.4 host's record).
struct FilterStateInfo {
    std::int32_t lCurrentFrame;
    std::int32_t lMicrosecsPerFrame;
    std::int32_t lCurrentSourceFrame;
    std::int32_t lMicrosecsPerSrcFrame;
    std::int32_t lSourceFrameMS;
    std::int32_t lDestFrameMS;
};

// One instance as the callbacks see it. The host declares dst and src as
// references, which occupy a pointer each; dst comes first.
struct FilterActivation {
    FilterDefinition* filter;  // the host's copy of the description
    void* filter_data;         // inst_data_size bytes owned by the host
    VFBitmap* dst;
    VFBitmap* src;
    VFBitmap* reserved0;
    VFBitmap* last;
    std::uint32_t x1;
    std::uint32_t y1;
    std::uint32_t x2;
    std::uint32_t y2;
    FilterStateInfo* pfsi;
    void* ifp;
};

// Script value types.
enum : std::int32_t {
    T_VOID = 0,
    T_INT = 1,
    T_PINT = 2,
    T_STR = 3,
    T_ARRAY = 4,
    T_OBJECT = 5,
    T_FNAME = 6,
    T_FUNCTION = 7,
    T_VARLV = 8,
    T_LONG = 9,
    T_DOUBLE = 10,
};

struct CScriptValue {
    std::int32_t type;
    CScriptObject* thisPtr;
    union {
        std::int32_t i;
        char** s;
        std::int64_t l;
        double d;
    } u;
};

// The host stores every script function in this slot type and calls it
// through the type named by the first character of arg_list.
using ScriptFunctionPtr = CScriptValue(OCUVEX_HOST_CDECL*)(IScriptInterpreter* isi, void* ctx, CScriptValue* argv,
                                                           int argc);
using ScriptVoidFunctionPtr = void(OCUVEX_HOST_CDECL*)(IScriptInterpreter* isi, void* ctx, CScriptValue* argv,
                                                       int argc);
using ScriptIntFunctionPtr = int(OCUVEX_HOST_CDECL*)(IScriptInterpreter* isi, void* ctx, CScriptValue* argv, int argc);

// Moves a function pointer between slot types, as the host's tables do; going
// through void (*)() keeps the compiler from warning about the cast.
template <typename To, typename From>
To function_cast(From f) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)()>(f));
}

struct ScriptFunctionDef {
    ScriptFunctionPtr func_ptr;
    const char* name;
    const char* arg_list;  // return type, then one character per argument
};

struct ScriptObjectDef {
    const char* name;
    CScriptObject* obj;
};

struct CScriptObject {
    void* Lookup;
    ScriptFunctionDef* func_list;
    ScriptObjectDef* obj_list;
};

// Every size and offset the host relies on, for the target's pointer width.
namespace layout {

inline constexpr bool k64 = sizeof(void*) == 8;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);
constexpr std::size_t at(std::size_t off32, std::size_t off64) { return k64 ? off64 : off32; }

static_assert(sizeof(FilterDefinition) == at(88, 176));
static_assert(offsetof(FilterDefinition, next) == 0);
static_assert(offsetof(FilterDefinition, prev) == at(4, 8));
static_assert(offsetof(FilterDefinition, module) == at(8, 16));
static_assert(offsetof(FilterDefinition, name) == at(12, 24));
static_assert(offsetof(FilterDefinition, desc) == at(16, 32));
static_assert(offsetof(FilterDefinition, maker) == at(20, 40));
static_assert(offsetof(FilterDefinition, private_data) == at(24, 48));
static_assert(offsetof(FilterDefinition, inst_data_size) == at(28, 56));
static_assert(offsetof(FilterDefinition, initProc) == at(32, 64));
static_assert(offsetof(FilterDefinition, deinitProc) == at(36, 72));
static_assert(offsetof(FilterDefinition, runProc) == at(40, 80));
static_assert(offsetof(FilterDefinition, paramProc) == at(44, 88));
static_assert(offsetof(FilterDefinition, configProc) == at(48, 96));
static_assert(offsetof(FilterDefinition, stringProc) == at(52, 104));
static_assert(offsetof(FilterDefinition, startProc) == at(56, 112));
static_assert(offsetof(FilterDefinition, endProc) == at(60, 120));
static_assert(offsetof(FilterDefinition, script_obj) == at(64, 128));
static_assert(offsetof(FilterDefinition, fssProc) == at(68, 136));
static_assert(offsetof(FilterDefinition, stringProc2) == at(72, 144));
static_assert(offsetof(FilterDefinition, serializeProc) == at(76, 152));
static_assert(offsetof(FilterDefinition, deserializeProc) == at(80, 160));
static_assert(offsetof(FilterDefinition, copyProc) == at(84, 168));

static_assert(sizeof(FilterModule) == at(20, 40));
static_assert(offsetof(FilterModule, prev) == at(4, 8));
static_assert(offsetof(FilterModule, hInstModule) == at(8, 16));
static_assert(offsetof(FilterModule, initProc) == at(12, 24));
static_assert(offsetof(FilterModule, deinitProc) == at(16, 32));

static_assert(sizeof(FilterFunctions) == at(36, 72));
static_assert(offsetof(FilterFunctions, addFilter) == 0);
static_assert(offsetof(FilterFunctions, removeFilter) == at(4, 8));
static_assert(offsetof(FilterFunctions, isFPUEnabled) == at(8, 16));
static_assert(offsetof(FilterFunctions, isMMXEnabled) == at(12, 24));
static_assert(offsetof(FilterFunctions, InitVTables) == at(16, 32));
static_assert(offsetof(FilterFunctions, ExceptOutOfMemory) == at(20, 40));
static_assert(offsetof(FilterFunctions, Except) == at(24, 48));
static_assert(offsetof(FilterFunctions, getCPUFlags) == at(28, 56));
static_assert(offsetof(FilterFunctions, getHostVersionInfo) == at(32, 64));

static_assert(sizeof(VBitmap) == at(40, 72));
static_assert(offsetof(VBitmap, vtable_reserved) == 0);
static_assert(offsetof(VBitmap, data) == at(4, 8));
static_assert(offsetof(VBitmap, palette) == at(8, 16));
static_assert(offsetof(VBitmap, depth) == at(12, 24));
static_assert(offsetof(VBitmap, w) == at(16, 28));
static_assert(offsetof(VBitmap, h) == at(20, 32));
static_assert(offsetof(VBitmap, pitch) == at(24, 40));
static_assert(offsetof(VBitmap, modulo) == at(28, 48));
static_assert(offsetof(VBitmap, size) == at(32, 56));
static_assert(offsetof(VBitmap, offset) == at(36, 64));
static_assert(sizeof(VFBitmap) == at(48, 88));
static_assert(offsetof(VFBitmap, data) == offsetof(VBitmap, data));
static_assert(offsetof(VFBitmap, w) == offsetof(VBitmap, w));
static_assert(offsetof(VFBitmap, pitch) == offsetof(VBitmap, pitch));
static_assert(offsetof(VFBitmap, offset) == offsetof(VBitmap, offset));
static_assert(offsetof(VFBitmap, dwFlags) == at(40, 72));
static_assert(offsetof(VFBitmap, hdc) == at(44, 80));

static_assert(sizeof(FilterStateInfo) == 24);
static_assert(offsetof(FilterStateInfo, lDestFrameMS) == 20);

static_assert(sizeof(FilterActivation) == at(48, 80));
static_assert(offsetof(FilterActivation, filter_data) == at(4, 8));
static_assert(offsetof(FilterActivation, dst) == at(8, 16));
static_assert(offsetof(FilterActivation, src) == at(12, 24));
static_assert(offsetof(FilterActivation, reserved0) == at(16, 32));
static_assert(offsetof(FilterActivation, last) == at(20, 40));
static_assert(offsetof(FilterActivation, x1) == at(24, 48));
static_assert(offsetof(FilterActivation, y1) == at(28, 52));
static_assert(offsetof(FilterActivation, x2) == at(32, 56));
static_assert(offsetof(FilterActivation, y2) == at(36, 60));
static_assert(offsetof(FilterActivation, pfsi) == at(40, 64));
static_assert(offsetof(FilterActivation, ifp) == at(44, 72));

static_assert(sizeof(CScriptValue) == at(16, 24));
static_assert(offsetof(CScriptValue, thisPtr) == at(4, 8));
static_assert(offsetof(CScriptValue, u) == at(8, 16));
static_assert(sizeof(ScriptFunctionDef) == at(12, 24));
static_assert(offsetof(ScriptFunctionDef, name) == at(4, 8));
static_assert(offsetof(ScriptFunctionDef, arg_list) == at(8, 16));
static_assert(sizeof(CScriptObject) == at(12, 24));
static_assert(offsetof(CScriptObject, func_list) == at(4, 8));
static_assert(offsetof(CScriptObject, obj_list) == at(8, 16));
static_assert(sizeof(ScriptObjectDef) == at(8, 16));

}  // namespace layout

}  // namespace ocuvex::host
