// Block copies of pixel rows. The C library's memcpy falls back to `rep movsb`
// for copies of a few kilobytes, which some CPUs run at half speed when source
// and destination are not equally aligned: exactly the half rows and windows
// the copy modes move. A plain vector loop does not care.
#pragma once

#include <cstddef>
#include <span>

namespace ocuvex {

// Copies `bytes` bytes; the two ranges never overlap.
using RowCopyFunction = void (*)(void* dst, const void* src, std::size_t bytes);

struct RowCopier {
    const char* name;
    RowCopyFunction run;
    bool (*supported)();
};

// Every row copier built into this binary, the C library's memcpy first.
std::span<const RowCopier> row_copiers();

// The fastest copier this CPU runs, chosen once.
const RowCopier& selected_row_copier();

}  // namespace ocuvex
