// Any argument vector through the ocuvex option parser: the settings options,
// the strict value readers, the geometry command's whole command line and
// the convert command's arguments.
// A UsageError is the expected answer to bad input; any other exception, a
// crash, or a reader that accepts what its definition refuses (or the other
// way round) is a finding.
//
// Input: a byte that picks the readers (0), the settings options (1), the
// geometry command (2) or the convert command's arguments (3), then arguments separated by NUL bytes, as they would
// reach main().
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ocuvex/commands.h"
#include "tools/ocuvex/settings_options.h"

namespace {

using namespace ocuvex;
using namespace ocuvex::cli;

constexpr std::size_t kMaxArguments = 64;

[[noreturn]] void finding(const char* what, std::string_view text) {
    std::fprintf(stderr, "options_fuzz: %s: '%.*s'\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Optional sign, then decimal digits only, inside the 32-bit range.
std::optional<std::int32_t> model_int32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (!is_digit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t{INT32_MAX} + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// An optional 0x, then one to eight hexadecimal digits.
std::optional<std::uint32_t> model_fill_color(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (!is_hex(c)) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

// Unsigned decimal digits, then x or X, then unsigned decimal digits, each inside the 32-bit range.
std::optional<FrameSize> model_frame_size(std::string_view text) {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const auto part = [](std::string_view digits) -> std::optional<std::int32_t> {
        if (digits.empty() || !is_digit(digits[0])) {
            return std::nullopt;
        }
        return model_int32(digits);
    };
    const auto w = part(text.substr(0, x));
    const auto h = part(text.substr(x + 1));
    if (!w || !h) {
        return std::nullopt;
    }
    return FrameSize{*w, *h};
}

// One line of printable text: an argument quoted in it must not break the
// line or reach the terminal as a control sequence.
void check_message(const UsageError& error) {
    for (const char c : std::string_view(error.what())) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            finding("usage error with a control character", error.what());
        }
    }
}

template <typename T, typename Read>
std::optional<T> outcome(Read read) {
    try {
        return read();
    } catch (const UsageError& error) {
        check_message(error);
        return std::nullopt;
    }
}

void check_readers(std::string_view text) {
    const auto i = outcome<std::int32_t>([&] { return parse_int32(text, "--n"); });
    if (i != model_int32(text)) {
        finding("parse_int32 disagrees with its definition", text);
    }
    const auto c = outcome<std::uint32_t>([&] { return parse_fill_color(text, "--c"); });
    if (c != model_fill_color(text)) {
        finding("parse_fill_color disagrees with its definition", text);
    }
    const auto s = outcome<FrameSize>([&] { return parse_frame_size(text, "--s"); });
    const auto s_model = model_frame_size(text);
    if (s.has_value() != s_model.has_value() || (s && (s->w != s_model->w || s->h != s_model->h))) {
        finding("parse_frame_size disagrees with its definition", text);
    }
    const auto m = outcome<AnaglyphMatrix>([&] { return parse_coefficients(text, "--m"); });
    std::size_t commas = 0;
    for (const char ch : text) {
        commas += ch == ',' ? 1 : 0;
    }
    if (m && commas != 17) {
        finding("parse_coefficients accepted other than 18 numbers", text);
    }
    const auto mode = parse_mode_name(text);
    if (mode && (!is_known_mode(*mode) || text != mode_name(*mode))) {
        finding("parse_mode_name accepted an unknown name", text);
    }
}

void check_settings_options(std::span<const std::string_view> args) {
    SettingsOptions options;
    ArgumentCursor cursor(args);
    try {
        while (!cursor.done()) {
            if (!take_settings_option(cursor, options)) {
                cursor.take_positional();
            }
        }
    } catch (const UsageError& error) {
        check_message(error);
        return;
    }
    const FilterSettings& s = options.settings;
    if (!is_known_mode(s.mode) || (s.swap_lr != 0 && s.swap_lr != 1)) {
        finding("settings options produced an impossible record", args.empty() ? "" : args[0]);
    }
}

// The convert command's arguments, read but never acted on: no file is opened.
void check_convert_arguments(std::span<const std::string_view> args) {
    try {
        const ConvertArguments parsed = parse_convert_arguments(args);
        const FilterSettings& s = parsed.options.settings;
        if (!is_known_mode(s.mode) || (s.swap_lr != 0 && s.swap_lr != 1) || parsed.frame < 0 ||
            (parsed.crf && (*parsed.crf < 0 || *parsed.crf > 51))) {
            finding("convert arguments out of range", args.empty() ? "" : args[0]);
        }
    } catch (const UsageError& error) {
        check_message(error);
    }
}

std::FILE* quiet = nullptr;

// The geometry command notes its corrections on stderr; glibc lets the
// stream be swapped for the call, while sanitizer reports keep going to fd 2.
struct QuietStderr {
    std::FILE* saved = stderr;
    QuietStderr() { stderr = quiet; }
    ~QuietStderr() { stderr = saved; }
};

void check_geometry_command(std::span<const std::string_view> args) {
    try {
        const QuietStderr silence;
        run_geometry(args);
    } catch (const UsageError& error) {
        check_message(error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The geometry command prints its answer; keep the fuzzer's output readable.
    quiet = std::fopen("/dev/null", "w");
    if (quiet == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks what to exercise: a throw costs sanitizer
    // bookkeeping, so each input throws only a few times.
    const std::uint8_t selector = data[0];
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string_view> args;
    std::size_t start = 0;
    while (start <= input.size() && args.size() < kMaxArguments) {
        const auto end = input.find('\0', start);
        const std::size_t stop = end == std::string::npos ? input.size() : end;
        args.push_back(std::string_view(input).substr(start, stop - start));
        start = stop + 1;
    }
    switch (selector % 4) {
    case 0:
        check_readers(args[0]);
        break;
    case 1:
        check_settings_options(args);
        break;
    case 3:
        check_convert_arguments(args);
        break;
    default:
        check_geometry_command(args);
        break;
    }
    return 0;
}
