// Text that every storage keeps exactly. A database cuts text at a NUL character, so names,
// choices and attributes holding one are refused where they enter, in memory as well, so that a
// study behaves the same wherever it lives.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvex::detail {

// text with NUL characters written as \0, for messages.
inline std::string shown_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\0') {
            out += "\\0";
        } else {
            out += c;
        }
    }
    return out;
}

// Throws std::invalid_argument "<where> must not contain NUL characters (\0)" when text does.
inline void require_plain_text(std::string_view text, const std::string& where) {
    if (text.find('\0') != std::string_view::npos) {
        throw std::invalid_argument(where + " must not contain NUL characters (\\0), got '" + shown_text(text) + "'.");
    }
}

}  // namespace tarvex::detail
