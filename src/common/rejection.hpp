// The one message form of a refused setting: who, which argument, what was expected, what came.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace tarvex::detail {

inline std::string shown_number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

// Throws std::invalid_argument("Who: field must be expected, got value.").
[[noreturn]] inline void reject(const std::string& who, const std::string& field, const std::string& expected,
                                double value) {
    throw std::invalid_argument(who + ": " + field + " must be " + expected + ", got " + shown_number(value) + ".");
}

}  // namespace tarvex::detail
