// One connection to a SQL database, as the database storage uses it: statements with $1, $2, ...
// parameters (bound, never spliced into the text), typed results, transactions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace tarvex::detail {

// NULL, an integer, a double or text.
using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;

struct SqlRow {
    std::vector<SqlValue> values;

    bool is_null(std::size_t i) const { return std::holds_alternative<std::monostate>(values.at(i)); }
    std::int64_t integer(std::size_t i) const;
    double real(std::size_t i) const;  // NULL reads as NaN, which is how NaN is stored
    const std::string& text(std::size_t i) const;
};

using SqlRows = std::vector<SqlRow>;

struct SqlStatement {
    std::string sql;
    std::vector<SqlValue> params;
};

// A statement the database refused, or a connection that failed; the message names the storage.
class SqlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Transaction {
    // Writes that hold the database's write lock from the start where the database has one, so
    // two writers never deadlock upgrading.
    Durable,
    // The same for writes whose loss in a database crash costs nothing of value (a running
    // trial's progress, a heartbeat): committed without waiting for the disk where the database
    // allows it.
    Fleeting,
    // Reads of one consistent snapshot.
    ReadOnly,
};

class ISqlConnection {
public:
    virtual ~ISqlConnection() = default;
    // Runs one statement and returns its rows (none for a statement without results).
    SqlRows query(const std::string& sql, const std::vector<SqlValue>& params = {}) { return execute(sql, params); }
    // Runs the statements, in order, as one transaction of that kind, and returns the rows of
    // each; a failure rolls it back and throws. A database server gets them in one round trip
    // where it can: none of them may depend on the results of another except through the data.
    virtual std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& statements);
    // The same in two steps, within the one transaction: the statements of the second are made
    // from the rows of the first. Returns the rows of both, the first step's first.
    using NextStep = std::function<std::vector<SqlStatement>(const std::vector<SqlRows>&)>;
    virtual std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& first, const NextStep& second);
    // Starts a transaction of that kind.
    virtual void begin(Transaction kind) = 0;
    void commit() { query("COMMIT"); }
    void rollback() { query("ROLLBACK"); }
    // The column type of an auto-numbered primary key, and of a double.
    virtual std::string serial_key() const = 0;
    virtual std::string real_type() const = 0;
    virtual bool has_table(const std::string& name) = 0;
    // Serialises schema creation between processes that open a new database at once.
    virtual void lock_schema() = 0;

private:
    virtual std::vector<SqlRow> execute(const std::string& sql, const std::vector<SqlValue>& params) = 0;
};

// label names the storage in every message (the URL without its password).
std::unique_ptr<ISqlConnection> connect_sqlite(const std::string& path, const std::string& label);
std::unique_ptr<ISqlConnection> connect_postgres(const std::string& conninfo, const std::string& label);

// Runs f inside a transaction of that kind: committed if it returns, rolled back if it throws.
template <class F>
auto in_transaction(ISqlConnection& db, F&& f, Transaction kind = Transaction::Durable) {
    db.begin(kind);
    try {
        if constexpr (std::is_void_v<decltype(f())>) {
            f();
            db.commit();
        } else {
            auto result = f();
            db.commit();
            return result;
        }
    } catch (...) {
        try {
            db.rollback();
        } catch (const SqlError&) {  // the connection is gone: the first error is the one to report
        }
        throw;
    }
}

}  // namespace tarvex::detail
