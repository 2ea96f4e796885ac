#include "sql_connection.hpp"

#include <cmath>
#include <limits>

#include "tarvex/database_storage.hpp"

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

void Patience::check(Clock::time_point since, const std::string& label, const std::string& what) const {
    const Clock::time_point now = Clock::now();
    if (interrupted && interrupted()) {
        interrupt();
        throw StorageInterrupted(label + ": interrupted while waiting for " + what);
    }
    // After an interruption waits end within a second, those that the run it stopped still makes
    // included; once two seconds pass without one, waits are as patient as before.
    if (const Clock::rep at = interrupted_at.load(); at != 0) {
        if (now - Clock::time_point(Clock::duration(at)) < std::chrono::seconds(2) &&
            now - since >= std::chrono::seconds(1)) {
            interrupt();
            throw StorageInterrupted(label + ": interrupted while waiting for " + what);
        }
    }
    if (now - since > timeout) {
        throw SqlError(label + ": gave up waiting for " + what + " after " +
                           std::to_string(std::lround(timeout.count())) + " s (the storage's timeout)",
                       SqlError::Kind::TimedOut);
    }
}

std::vector<SqlRows> ISqlConnection::transaction(Transaction kind, const std::vector<SqlStatement>& statements) {
    return in_transaction(
        *this,
        [&] {
            std::vector<SqlRows> out;
            out.reserve(statements.size());
            for (const SqlStatement& s : statements) out.push_back(query(s.sql, s.params));
            return out;
        },
        kind);
}

std::vector<SqlRows> ISqlConnection::transaction(Transaction kind, const std::vector<SqlStatement>& first,
                                                 const NextStep& second) {
    return in_transaction(
        *this,
        [&] {
            std::vector<SqlRows> out;
            for (const SqlStatement& s : first) out.push_back(query(s.sql, s.params));
            for (const SqlStatement& s : second(out)) out.push_back(query(s.sql, s.params));
            return out;
        },
        kind);
}

}  // namespace tarvex::detail
