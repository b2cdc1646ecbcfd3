// Without a window system there is no dialog to create: configuring fails the
// way DialogBoxParamA fails, and the settings stay as they are.
#include "dialog/run_dialog.h"

namespace ocuvex::dialog {

int run_config_dialog(void* /*module_instance*/, void* /*owner*/, FilterSettings& /*settings*/) { return -1; }

}  // namespace ocuvex::dialog
