// Values as PostgreSQL's text protocol carries them: parameters out, rows back.
#pragma once

#include <libpq-fe.h>

#include <string>
#include <vector>

#include "sql_connection.hpp"

namespace tarvex::detail {

// Parameters in the text form libpq sends; NULL (and NaN, stored as NULL) as a null pointer.
class TextParams {
public:
    TextParams(const std::vector<SqlValue>& params, const std::string& label);
    int size() const { return static_cast<int>(pointers.size()); }
    const char* const* values() const { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<const char*> pointers;
};

// The rows of a result, each column as the value its type stands for.
SqlRows rows_of(const PGresult* result);

// Owns one PGresult.
struct Result {
    explicit Result(PGresult* r) : r(r) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result() { PQclear(r); }
    bool ok() const { return PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK; }
    PGresult* const r;
};

}  // namespace tarvex::detail
