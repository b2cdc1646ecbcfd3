// How the stand-in host gets at a module: from a DLL on Windows, from the
// binding linked into the program elsewhere.
#pragma once

#include <string>
#include <vector>

#include "host/standin/standin_host.h"

namespace ocuvex::standin {

// Loads the module at `path` and finds its two entry points. On failure
// returns false with a one-line reason in `error`.
bool load_module(const char* path, ModuleEntry& entry, std::string& error);

// Checks of the module file itself (its resources), where the platform can
// read them. Returns one line per failed check.
std::vector<std::string> check_module_file(const char* path, const ModuleEntry& entry);

}  // namespace ocuvex::standin
