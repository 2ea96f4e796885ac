// Small helpers the database storage's files share.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "../common/plain_text.hpp"
#include "sql_connection.hpp"
#include "tarvex/study.hpp"

namespace tarvex::detail {

inline std::int64_t now_ns() { return std::chrono::system_clock::now().time_since_epoch().count(); }
inline std::int64_t ns_of(TimePoint t) { return t.time_since_epoch().count(); }

// A name for messages: long ones are cut.
inline std::string shown(const std::string& text) {
    const std::string plain = shown_text(text);
    return plain.size() <= 60 ? plain : plain.substr(0, 57) + "...";
}

// PostgreSQL's "index row size exceeds maximum": a name or key too long to be a key.
inline bool too_long(const SqlError& e) { return e.code == "54000"; }

inline std::string too_long_message(const std::string& url, const char* what, const std::string& text) {
    return url + ": " + what + " '" + shown(text) + "' (" + std::to_string(text.size()) +
           " bytes) is too long for this database's index; use a shorter one";
}

}  // namespace tarvex::detail
