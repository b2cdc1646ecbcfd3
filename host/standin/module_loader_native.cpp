// Natively the binding is linked in: the path is only a label.
#include "host/filter_binding.h"
#include "host/standin/module_loader.h"

namespace ocuvex::standin {

namespace {
// Any non-null value: the module only passes it on to the dialog.
char native_module_marker;
}  // namespace

bool load_module(const char* /*path*/, ModuleEntry& entry, std::string& /*error*/) {
    entry.init = &host::module_init;
    entry.deinit = &host::module_deinit;
    entry.instance = &native_module_marker;
    return true;
}

std::vector<std::string> check_module_file(const char* /*path*/, const ModuleEntry& /*entry*/) { return {}; }

}  // namespace ocuvex::standin
