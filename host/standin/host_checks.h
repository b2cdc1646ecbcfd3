// What the stand-in host checks of a module, shared by the native tests and
// the Windows stand-in that loads Ocuvex.vdf under Wine.
#pragma once

#include <string>
#include <vector>

#include "host/standin/standin_host.h"

namespace ocuvex::standin {

// Registration, the script-function table as each host reads it, the script
// statement and its replay (old statements, random records round-tripped),
// the description, the too-small script buffer, refused registration and
// unloading. Returns one
// line per failed check.
std::vector<std::string> run_host_checks(const ModuleEntry& module);

// Converts seeded random frames in every mode, with and without swap, through
// paramProc, startProc, runProc and endProc, and returns one line per frame:
// the case, the output geometry and a checksum of the output pixels. The same
// module code gives the same text on every platform. Frames that wrote
// outside their buffer are reported in `failures`.
std::string conversion_report(const ModuleEntry& module, std::vector<std::string>& failures);

}  // namespace ocuvex::standin
