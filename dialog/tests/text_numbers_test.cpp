#include "dialog/text_numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace ocuvex::dialog {
namespace {

TEST(ReadInteger, EdgeCases) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"0", 0},
        {" -12px", -12},
        {"abc", 0},
        {"", 0},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"000000000000000000000000042", 42},
        {"+17", 17},
        {"\t\n\v\f\r 9", 9},
        {"- 5", 0},
        {"--5", 0},
        {"12 34", 12},
        {"0x1F", 0},
        {"1e3", 1},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(read_integer(text), expected) << '"' << text << '"';
    }
}

TEST(ReadHex, EdgeCases) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"ff8000", 0x00FF8000},
        {"0xff", 0xFF},
        {"0XFF", 0xFF},
        {"123456789", 0x12345678},
        {"xyz", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"00ff8000", 0x00FF8000},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"   abcdef12345", 0xABCDEF12},
        {"-1", 0xFFFFFFFF},
        {"+ff", 0xFF},
        {"-", std::nullopt},
        {"- 1", std::nullopt},
        {"0x", 0},
        {"0xg", 0},
        {"-0x12345678", 0xFFFEDCBB},  // "-0x12345" fills the eight characters
        {"0x123456789", 0x00123456},
        {"12g4", 0x12},
        {"g", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(read_hex(text), expected) << '"' << text << '"';
    }
}

TEST(ReadFloating, EdgeCases) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<const char*, double> cases[] = {
        {"0.4561", 0.4561},     {"1e-3", 0.001}, {"", 0.0},      {"abc", 0.0},        {" -0.5x", -0.5},
        {"+2.", 2.0},           {".25", 0.25},   {".", 0.0},     {"1e", 1.0},         {"1e+", 1.0},
        {"1E2", 100.0},         {"0x10", 0.0},   {"1e400", inf}, {"-1e400", -inf},    {"123456789e301", inf},
        {"0.000001e-400", 0.0}, {"1e-400", 0.0}, {"inf", inf},   {"-Infinity", -inf}, {"0.123456789", 0.123456789},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(read_floating(text), expected) << '"' << text << '"';
    }
    EXPECT_TRUE(std::isnan(read_floating("nan")));
    EXPECT_TRUE(std::isnan(read_floating(" -NaN")));
    EXPECT_TRUE(std::signbit(read_floating("-0")));
}

TEST(Formats, MatchPrintf) {
    const std::pair<std::string, std::string> cases[] = {
        {format_integer(0), "0"},
        {format_integer(-2147483647 - 1), "-2147483648"},
        {format_hex(0), "00000000"},
        {format_hex(0x00FF8000), "00ff8000"},
        {format_hex(0xFFFFFFFF), "ffffffff"},
        {format_coefficient(0.4561), "0.4561"},
        {format_coefficient(-0.00155529), "-0.00155529"},
        {format_coefficient(0.123456789), "0.123457"},
        {format_coefficient(0.0001), "0.0001"},
        {format_coefficient(0.00001), "1e-05"},
        {format_coefficient(999999), "999999"},
        {format_coefficient(1000000), "1e+06"},
        {format_coefficient(std::numeric_limits<double>::infinity()), "inf"},
        {format_coefficient(-std::numeric_limits<double>::infinity()), "-inf"},
    };
    for (const auto& [actual, expected] : cases) {
        EXPECT_EQ(actual, expected);
    }
}

// The C library of this platform, where long is 64-bit, is the reference
// for random inputs; the readers themselves do not depend on it.
std::string random_text(std::mt19937& rng, std::string_view alphabet, std::size_t max_length) {
    std::uniform_int_distribution<std::size_t> length(0, max_length);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text(length(rng), ' ');
    for (char& c : text) {
        c = alphabet[pick(rng)];
    }
    return text;
}

TEST(ReadersAgreeWithTheCLibrary, Integer) {
    std::mt19937 rng(1);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = random_text(rng, " \t+-0123456789a", 14);
        const long long reference =
            std::clamp<long long>(std::strtoll(text.c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
        ASSERT_EQ(read_integer(text), reference) << '"' << text << '"';
    }
}

TEST(ReadersAgreeWithTheCLibrary, HexScan) {
    std::mt19937 rng(2);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = random_text(rng, " +-0123456789abcdefABxXg", 12);
        unsigned long value = 0;
        const bool scanned = std::sscanf(text.c_str(), "%08lx", &value) == 1;  // NOLINT(cert-err34-c): the reference
        const std::optional<std::uint32_t> ours = read_hex(text);
        ASSERT_EQ(ours.has_value(), scanned) << '"' << text << '"';
        if (scanned) {
            ASSERT_EQ(*ours, static_cast<std::uint32_t>(value)) << '"' << text << '"';
        }
    }
}

TEST(ReadersAgreeWithTheCLibrary, Floating) {
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = random_text(rng, " +-0123456789.eE", 16);
        const double reference = std::strtod(text.c_str(), nullptr);
        const double ours = read_floating(text);
        // Bit for bit: the sign of zero and NaN payloads count.
        ASSERT_EQ(std::bit_cast<std::uint64_t>(ours), std::bit_cast<std::uint64_t>(reference)) << '"' << text << '"';
    }
}

TEST(ReadersAgreeWithTheCLibrary, CoefficientFormatAndReadBack) {
    std::mt19937_64 rng(4);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = rng();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (i % 2 == 0) {
            value = std::ldexp(static_cast<double>(bits >> 11) / 9007199254740992.0, static_cast<int>(bits % 40) - 20);
        }
        char reference[64];
        std::snprintf(reference, sizeof reference, "%g", value);
        const std::string shown = format_coefficient(value);
        ASSERT_EQ(shown, reference);
        const double back = read_floating(shown);
        const double reference_back = std::strtod(reference, nullptr);
        if (!std::isnan(value)) {
            ASSERT_EQ(back, reference_back) << shown;
        }
    }
}

}  // namespace
}  // namespace ocuvex::dialog
