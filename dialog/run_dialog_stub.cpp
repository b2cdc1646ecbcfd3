// Until the dialog exists, configuring an instance changes nothing.
#include "dialog/run_dialog.h"

namespace ocuvex::dialog {

int run_config_dialog(void* /*module_instance*/, void* /*owner*/, FilterSettings& /*settings*/) { return 1; }

}  // namespace ocuvex::dialog
