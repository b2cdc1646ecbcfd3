#include "dialog/text_numbers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace ocuvex::dialog {
namespace {

// White space as the C library's isspace() sees it in the "C" locale.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string_view skip_space(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) {
        ++i;
    }
    return text.substr(i);
}

bool starts_with_word(std::string_view text, std::string_view lower_word) {
    if (text.size() < lower_word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lower_word.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lower_word[i]) {
            return false;
        }
    }
    return true;
}

// Steps over an optional sign at text[i]; true when it was a minus.
bool take_sign(std::string_view text, std::size_t& i) {
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        return text[i++] == '-';
    }
    return false;
}

}  // namespace

std::string format_integer(std::int32_t value) {
    std::array<char, 16> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string format_hex(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

std::string format_coefficient(double value) {
    // to_chars with a precision formats as printf's "%.6g" would, but without
    // the locale and with the same exponent digits on every C library.
    std::array<char, 32> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::general, 6);
    return std::string(buffer.data(), result.ptr);
}

std::int32_t read_integer(std::string_view text) {
    text = skip_space(text);
    std::size_t i = 0;
    const bool negative = take_sign(text, i);
    // Saturate the magnitude just past the 32-bit range so long digit runs cannot overflow.
    constexpr std::int64_t kCap = std::int64_t{1} << 32;
    std::int64_t magnitude = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        magnitude = std::min(kCap, magnitude * 10 + (text[i] - '0'));
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    value = std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(value);
}

std::optional<std::uint32_t> read_hex(std::string_view text) {
    text = skip_space(text);
    // The field width of "%08lx": the sign and the 0x prefix count among the eight.
    text = text.substr(0, 8);
    std::size_t i = 0;
    const bool negative = take_sign(text, i);
    bool any_digit = false;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        // "0x" without a hexadecimal digit after it still read its 0, as the C library's scan does.
        any_digit = true;
        i += 2;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && hex_digit_value(text[i]) >= 0; ++i) {
        value = (value << 4) | static_cast<std::uint32_t>(hex_digit_value(text[i]));
        any_digit = true;
    }
    if (!any_digit) {
        return std::nullopt;
    }
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

double read_floating(std::string_view text) {
    text = skip_space(text);
    std::size_t i = 0;
    const bool negative = take_sign(text, i);
    const std::string_view rest = text.substr(i);
    if (starts_with_word(rest, "inf")) {
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    if (starts_with_word(rest, "nan")) {
        return negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
    }

    // The longest prefix of the form digits [. digits] [e [sign] digits], with
    // at least one mantissa digit; an exponent without digits is not part of it.
    std::size_t end = 0;
    std::size_t mantissa_digits = 0;
    while (end < rest.size() && is_digit(rest[end])) {
        ++end;
        ++mantissa_digits;
    }
    if (end < rest.size() && rest[end] == '.') {
        ++end;
        while (end < rest.size() && is_digit(rest[end])) {
            ++end;
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0) {
        return 0.0;
    }
    if (end < rest.size() && (rest[end] == 'e' || rest[end] == 'E')) {
        std::size_t e = end + 1;
        if (e < rest.size() && (rest[e] == '+' || rest[e] == '-')) {
            ++e;
        }
        if (e < rest.size() && is_digit(rest[e])) {
            while (e < rest.size() && is_digit(rest[e])) {
                ++e;
            }
            end = e;
        }
    }
    const std::string_view number = rest.substr(0, end);

    double value = 0.0;
    auto result = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone here; tell overflow from underflow
        // by the decimal exponent of the first non-zero digit.
        long long exponent = 0;
        std::size_t e = number.find_first_of("eE");
        if (e != std::string_view::npos) {
            std::size_t k = e + 1;
            bool exponent_negative = false;
            if (number[k] == '+' || number[k] == '-') {
                exponent_negative = number[k] == '-';
                ++k;
            }
            for (; k < number.size(); ++k) {
                exponent = std::min(exponent * 10 + (number[k] - '0'), 1000000000LL);
            }
            if (exponent_negative) {
                exponent = -exponent;
            }
        }
        const std::string_view mantissa = number.substr(0, e);
        const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
        const std::size_t first = mantissa.find_first_of("123456789");
        long long position = static_cast<long long>(point) - static_cast<long long>(first);
        if (first > point) {
            position += 1;  // digits after the point: the point itself is not a digit
        }
        value = position + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace ocuvex::dialog
