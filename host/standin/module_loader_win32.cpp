// Loads Ocuvex.vdf the way the editor does, and reads back its version block
// and manifest.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/standin/module_loader.h"
#include "ocuvex_version.h"

namespace ocuvex::standin {

bool load_module(const char* path, ModuleEntry& entry, std::string& error) {
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        char message[512];
        std::snprintf(message, sizeof message, "cannot load '%s': error %lu", path, GetLastError());
        error = message;
        return false;
    }
    entry.init = reinterpret_cast<host::FilterModuleInitProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "VirtualdubFilterModuleInit2")));
    entry.deinit = reinterpret_cast<host::FilterModuleDeinitProc>(
        reinterpret_cast<void*>(GetProcAddress(module, "VirtualdubFilterModuleDeinit")));
    entry.instance = module;
    if (entry.init == nullptr || entry.deinit == nullptr) {
        char message[512];
        std::snprintf(message, sizeof message, "'%s' lacks VirtualdubFilterModuleInit2 or VirtualdubFilterModuleDeinit",
                      path);
        error = message;
        return false;
    }
    return true;
}

namespace {

struct VersionString {
    const char* key;
    const char* value;  // nullptr: present, any non-empty text
};

constexpr VersionString kVersionStrings[] = {
    {"Comments", "Apply various conversions to stereoscopic source video."},
    {"CompanyName", ""},
    {"FileDescription", "VirtualDUB Ocuvex Filter"},
    {"FileVersion", OCUVEX_VERSION_COMMAS},
    {"InternalName", "Ocuvex"},
    {"LegalCopyright", nullptr},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "Ocuvex.vdf"},
    {"PrivateBuild", ""},
    {"ProductName", "VirtualDUB Ocuvex Filter"},
    {"ProductVersion", OCUVEX_VERSION_COMMAS},
    {"SpecialBuild", ""},
};

void check_version_block(const char* path, std::vector<std::string>& failures) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> block(size);
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) {
        failures.push_back("the module has no version block");
        return;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        failures.push_back("the version block has no fixed part");
        return;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    constexpr DWORD kVersionMS = OCUVEX_VERSION_MAJOR << 16 | OCUVEX_VERSION_MINOR;
    constexpr DWORD kVersionLS = OCUVEX_VERSION_PATCH << 16 | OCUVEX_VERSION_TWEAK;
    if (fixed->dwFileVersionMS != kVersionMS || fixed->dwFileVersionLS != kVersionLS ||
        fixed->dwProductVersionMS != kVersionMS || fixed->dwProductVersionLS != kVersionLS) {
        failures.push_back("the numeric versions are not " OCUVEX_VERSION_COMMAS);
    }
    if (fixed->dwFileOS != VOS__WINDOWS32 || fixed->dwFileType != VFT_APP ||
        (fixed->dwFileFlags & fixed->dwFileFlagsMask) != 0) {
        failures.push_back("the fixed part is not Windows32 / application / no flags");
    }
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) || length != 4 ||
        static_cast<const WORD*>(value)[0] != 0x0409 || static_cast<const WORD*>(value)[1] != 1200) {
        failures.push_back("the translation is not US English, Unicode");
    }
    for (const VersionString& s : kVersionStrings) {
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + s.key;
        value = nullptr;
        length = 0;
        if (!VerQueryValueA(block.data(), key.c_str(), &value, &length)) {
            failures.push_back(std::string("the version block lacks ") + s.key);
            continue;
        }
        const std::string text = value != nullptr && length > 0 ? static_cast<const char*>(value) : "";
        if (s.value != nullptr ? text != s.value : text.empty()) {
            failures.push_back(std::string("the version string ") + s.key + " is \"" + text + "\"");
        }
    }
}

void check_manifest(HMODULE module, std::vector<std::string>& failures) {
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(2),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (found == nullptr) {
        failures.push_back("the module has no US English manifest with id 2");
        return;
    }
    HGLOBAL loaded = LoadResource(module, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    const std::string text(bytes != nullptr ? bytes : "", bytes != nullptr ? SizeofResource(module, found) : 0);
    if (text.find("requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"") == std::string::npos) {
        failures.push_back("the manifest does not request asInvoker without uiAccess");
    }
}

}  // namespace

std::vector<std::string> check_module_file(const char* path, const ModuleEntry& entry) {
    std::vector<std::string> failures;
    check_version_block(path, failures);
    check_manifest(static_cast<HMODULE>(entry.instance), failures);
    return failures;
}

}  // namespace ocuvex::standin
