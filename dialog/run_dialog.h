// The configuration dialog as the host binding sees it.
#pragma once

#include "core/filter_settings.h"

namespace ocuvex::dialog {

// Opens the configuration dialog modally over `owner` (a window handle) from
// the resources of `module_instance` (the module's instance handle), editing
// `settings` in place when the user presses OK. Returns 0 after OK, 1 after
// Cancel, or the platform's failure value when the dialog cannot be created.
int run_config_dialog(void* module_instance, void* owner, FilterSettings& settings);

}  // namespace ocuvex::dialog
