#include "tests/host/recording_dialog.h"

#include <new>

#include "dialog/run_dialog.h"

namespace ocuvex::test {
DialogCall recorded_dialog;
}  // namespace ocuvex::test

namespace ocuvex::dialog {

int run_config_dialog(void* module_instance, void* owner, FilterSettings& settings) {
    test::DialogCall& call = test::recorded_dialog;
    ++call.count;
    call.module_instance = module_instance;
    call.owner = owner;
    call.settings = &settings;
    if (call.out_of_memory) {
        throw std::bad_alloc();
    }
    return call.answer;
}

}  // namespace ocuvex::dialog
