// A configuration dialog for the binding's tests: records what configProc
// handed it and answers as told.
#pragma once

#include "core/filter_settings.h"

namespace ocuvex::test {

struct DialogCall {
    int count = 0;
    void* module_instance = nullptr;
    void* owner = nullptr;
    FilterSettings* settings = nullptr;
    int answer = 1;
    bool out_of_memory = false;  // throw std::bad_alloc instead of answering
};

// Reset before each test that looks at it.
extern DialogCall recorded_dialog;

}  // namespace ocuvex::test
