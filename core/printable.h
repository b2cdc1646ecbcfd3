// Text for one-line messages that quote what a user typed or named: shared
// by the option parser and the media code, which know nothing of each other.
#pragma once

#include <string>
#include <string_view>

namespace ocuvex {

// `text` with every control character written as \xNN, so that an error
// message that quotes an argument stays on one line and cannot steer the
// terminal.
inline std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            constexpr char kHex[] = "0123456789abcdef";
            out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        } else {
            out += c;
        }
    }
    return out;
}

// Quotes a path for messages: 'dir/name.mkv'. (A std::string parameter:
// an exact match, so that std::quoted, found through the argument, loses.)
inline std::string quoted(const std::string& path) { return "'" + printable(path) + "'"; }

}  // namespace ocuvex
