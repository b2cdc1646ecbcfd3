// JSON as the tool's commands print it: one line, members in the order
// written, strings escaped and always valid UTF-8.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ocuvex::cli {

// One JSON text, written in order: names and values, objects and arrays.
class JsonWriter {
  public:
    void begin_object(std::string_view name = {}) { open(name, '{'); }
    void end_object() { close('}'); }
    void begin_array(std::string_view name = {}) { open(name, '['); }
    void end_array() { close(']'); }
    void integer(std::string_view name, std::int64_t value) { put(name, std::to_string(value)); }
    void boolean(std::string_view name, bool value) { put(name, value ? "true" : "false"); }
    void number(std::string_view name, double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", value);
        put(name, std::isfinite(value) ? text : "null");
    }
    void string(std::string_view name, std::string_view value) { put(name, quote(value)); }
    void null(std::string_view name) { put(name, "null"); }
    const std::string& text() const { return text_; }

  private:
    void item(std::string_view name) {
        if (!first_) {
            text_ += ',';
        }
        first_ = false;
        if (!name.empty()) {
            text_ += quote(name) + ':';
        }
    }
    void open(std::string_view name, char bracket) {
        item(name);
        text_ += bracket;
        first_ = true;
    }
    void close(char bracket) {
        text_ += bracket;
        first_ = false;
    }
    void put(std::string_view name, const std::string& value) {
        item(name);
        text_ += value;
    }
    // A JSON string: quotes, backslashes and control characters escaped,
    // bytes that are not UTF-8 (a file name can hold any) as U+FFFD.
    static std::string quote(std::string_view text) {
        std::string out = "\"";
        for (std::size_t i = 0; i < text.size();) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if (byte == '"' || byte == '\\') {
                out += {'\\', static_cast<char>(byte)};
            } else if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else if (byte >= 0x80) {
                const std::size_t length = utf8_length(text.substr(i));
                if (length == 0) {
                    out += "\\ufffd";
                    ++i;
                } else {
                    out += text.substr(i, length);
                    i += length;
                }
                continue;
            } else {
                out += static_cast<char>(byte);
            }
            ++i;
        }
        return out + "\"";
    }
    // The length of the well-formed UTF-8 sequence `text` starts with, 0 if none.
    static std::size_t utf8_length(std::string_view text) {
        const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        const unsigned char lead = at(0);
        const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || length > text.size()) {
            return 0;
        }
        for (std::size_t i = 1; i < length; ++i) {
            if ((at(i) & 0xC0) != 0x80) {
                return 0;
            }
        }
        // Neither overlong, nor a surrogate, nor beyond U+10FFFF.
        const unsigned char second = at(1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
            (lead == 0xF4 && second >= 0x90)) {
            return 0;
        }
        return length;
    }

    std::string text_;
    bool first_ = true;
};

}  // namespace ocuvex::cli
