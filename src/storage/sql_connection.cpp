#include "sql_connection.hpp"

#include <limits>

namespace tarvex::detail {

std::int64_t SqlRow::integer(std::size_t i) const {
    if (const auto* v = std::get_if<std::int64_t>(&values.at(i))) return *v;
    if (const auto* d = std::get_if<double>(&values.at(i))) return static_cast<std::int64_t>(*d);
    throw SqlError("database value is not an integer");
}

double SqlRow::real(std::size_t i) const {
    if (const auto* d = std::get_if<double>(&values.at(i))) return *d;
    if (const auto* v = std::get_if<std::int64_t>(&values.at(i))) return static_cast<double>(*v);
    return std::numeric_limits<double>::quiet_NaN();
}

const std::string& SqlRow::text(std::size_t i) const {
    if (const auto* s = std::get_if<std::string>(&values.at(i))) return *s;
    throw SqlError("database value is not text");
}

std::vector<SqlRows> ISqlConnection::transaction(Transaction kind, const std::vector<SqlStatement>& statements) {
    return in_transaction(*this, [&] {
        std::vector<SqlRows> out;
        out.reserve(statements.size());
        for (const SqlStatement& s : statements) out.push_back(query(s.sql, s.params));
        return out;
    }, kind);
}

std::vector<SqlRows> ISqlConnection::transaction(Transaction kind, const std::vector<SqlStatement>& first,
                                                const NextStep& second) {
    return in_transaction(*this, [&] {
        std::vector<SqlRows> out;
        for (const SqlStatement& s : first) out.push_back(query(s.sql, s.params));
        for (const SqlStatement& s : second(out)) out.push_back(query(s.sql, s.params));
        return out;
    }, kind);
}

}  // namespace tarvex::detail
