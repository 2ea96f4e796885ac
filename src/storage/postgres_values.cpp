#include "postgres_values.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tarvex::detail {
namespace {

// Column types the schema uses (pg_type oids).
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

std::string text_of(double v) {
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

double double_of(const char* text) {
    if (text[0] == 'N') return std::numeric_limits<double>::quiet_NaN();
    if (text[0] == 'I') return std::numeric_limits<double>::infinity();
    if (text[0] == '-' && text[1] == 'I') return -std::numeric_limits<double>::infinity();
    return std::strtod(text, nullptr);
}

}  // namespace

TextParams::TextParams(const std::vector<SqlValue>& params, const std::string& label)
    : texts(params.size()), pointers(params.size(), nullptr) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        const SqlValue& v = params[i];
        if (const auto* n = std::get_if<std::int64_t>(&v)) {
            texts[i] = std::to_string(*n);
        } else if (const auto* d = std::get_if<double>(&v)) {
            if (std::isnan(*d)) continue;
            texts[i] = text_of(*d);
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            // Sent as C strings: a NUL would cut the text short. Callers refuse such text first.
            if (s->find('\0') != std::string::npos)
                throw SqlError(label + ": text with a NUL character cannot be stored");
            texts[i] = *s;
        } else {
            continue;
        }
        pointers[i] = texts[i].c_str();
    }
}

SqlRows rows_of(const PGresult* result) {
    SqlRows rows(static_cast<std::size_t>(PQntuples(result)));
    const int n_columns = PQnfields(result);
    for (int r = 0; r < PQntuples(result); ++r) {
        auto& row = rows[static_cast<std::size_t>(r)].values;
        row.reserve(static_cast<std::size_t>(n_columns));
        for (int c = 0; c < n_columns; ++c) {
            if (PQgetisnull(result, r, c)) {
                row.emplace_back(std::monostate{});
                continue;
            }
            const char* text = PQgetvalue(result, r, c);
            switch (PQftype(result, c)) {
                case kInt8:
                case kInt2:
                case kInt4:
                case kNumeric:
                    row.emplace_back(static_cast<std::int64_t>(std::strtoll(text, nullptr, 10)));
                    break;
                case kFloat4:
                case kFloat8:
                    row.emplace_back(double_of(text));
                    break;
                default:
                    row.emplace_back(std::string(text, static_cast<std::size_t>(PQgetlength(result, r, c))));
            }
        }
    }
    return rows;
}

}  // namespace tarvex::detail
