// Any text up to 300 bytes through the dialog's three reading rules, as a
// control hands it over (cut to its first 255 characters), in a heap block of
// exactly its size so that reading one byte past the text stops the run. Each
// reader is compared with the C library's own reading of a NUL-terminated
// copy: strtol for the integer, sscanf "%8lx" for the colour, strtod for the
// coefficients. The first bytes also go through the three display formats,
// compared with snprintf, and must read back as shown.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dialog/text_numbers.h"

namespace {

using namespace ocuvex::dialog;

constexpr std::size_t kMaxInput = 300;

[[noreturn]] void finding(const char* what, std::string_view text) {
    std::fprintf(stderr, "dialog_fuzz: %s: '%.*s'\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

bool same_double(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) {
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    }
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::int32_t model_integer(const char* c_text) {
    const long value = std::strtol(c_text, nullptr, 10);
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::uint32_t> model_hex(const char* c_text) {
    unsigned long value = 0;
    if (std::sscanf(c_text, "%8lx", &value) != 1) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// strtod reads hexadecimal floating point as well; the dialog's rule is
// decimal only, so there "0x..." is the number 0 followed by other text.
double model_floating(const char* c_text) {
    const char* p = c_text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        return negative ? -0.0 : 0.0;
    }
    return std::strtod(c_text, nullptr);
}

void check_readers(std::string_view text) {
    // What the control gives: at most 255 characters, in a block of exactly that size.
    const std::size_t n = text.size() < kMaxControlText ? text.size() : kMaxControlText;
    std::unique_ptr<char[]> exact(new char[n > 0 ? n : 1]);
    std::memcpy(exact.get(), text.data(), n);
    const std::string_view control(n > 0 ? exact.get() : nullptr, n);
    const std::string c_text(control);

    if (read_integer(control) != model_integer(c_text.c_str())) {
        finding("read_integer differs from strtol", control);
    }
    if (read_hex(control) != model_hex(c_text.c_str())) {
        finding("read_hex differs from sscanf %8lx", control);
    }
    errno = 0;
    if (!same_double(read_floating(control), model_floating(c_text.c_str()))) {
        finding("read_floating differs from strtod", control);
    }
}

void check_formats(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return;
    }
    std::int32_t i = 0;
    std::uint32_t u = 0;
    double d = 0;
    std::memcpy(&i, data, 4);
    std::memcpy(&u, data + 4, 4);
    std::memcpy(&d, data, 8);
    char shown[64];

    std::snprintf(shown, sizeof shown, "%d", i);
    if (format_integer(i) != shown || read_integer(format_integer(i)) != i) {
        finding("format_integer does not match %d or does not read back", shown);
    }
    std::snprintf(shown, sizeof shown, "%08lx", static_cast<unsigned long>(u));
    if (format_hex(u) != shown || read_hex(format_hex(u)) != u) {
        finding("format_hex does not match %08lx or does not read back", shown);
    }
    std::snprintf(shown, sizeof shown, "%g", d);
    const std::string coefficient = format_coefficient(d);
    if (coefficient != shown) {
        finding("format_coefficient does not match %g", coefficient);
    }
    if (!same_double(read_floating(coefficient), std::strtod(shown, nullptr))) {
        finding("a shown coefficient does not read back as strtod reads it", coefficient);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    check_readers(std::string_view(reinterpret_cast<const char*>(data), size));
    check_formats(data, size);
    return 0;
}
