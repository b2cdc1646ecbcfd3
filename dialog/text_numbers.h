// How the dialog shows numbers in its controls and reads them back. Written
// by hand rather than with the C library's scanf and printf, whose `long` is
// 64-bit on Linux and 32-bit on Windows and whose decimal point follows the
// host's locale: the same text must give the same value on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ocuvex::dialog {

// The longest text read back from a control; the window system cuts longer ones.
inline constexpr std::size_t kMaxControlText = 255;

// "%d".
std::string format_integer(std::int32_t value);

// "%08lx": eight lower-case hexadecimal digits.
std::string format_hex(std::uint32_t value);

// "%g": six significant digits; infinities and NaNs as "inf", "-inf", "nan", "-nan".
std::string format_coefficient(double value);

// Leading white space, an optional sign and decimal digits up to the first
// other character. No digits give 0; values beyond the 32-bit range give the
// nearer limit.
std::int32_t read_integer(std::string_view text);

// The "%08lx" scan: after leading white space, at most eight characters of an
// optionally signed hexadecimal number, an optional 0x prefix counted among
// them. A minus sign negates modulo 2^32. No digit: no value.
std::optional<std::uint32_t> read_hex(std::string_view text);

// Leading white space, then an optionally signed decimal number with optional
// fraction and exponent; "inf", "infinity" and "nan" (any case) read back what
// format_coefficient() shows for them. Beyond the double range: an infinity of
// the number's sign. No number gives 0.0.
double read_floating(std::string_view text);

}  // namespace ocuvex::dialog
