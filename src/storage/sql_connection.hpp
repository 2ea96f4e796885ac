// One connection to a SQL database, as the database storage uses it: statements with $1, $2, ...
// parameters (bound, never spliced into the text), typed results, transactions, and waits that
// are bounded and can be given up.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "tarvex/database_storage.hpp"

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
class SqlError : public StorageError {
public:
    enum class Kind {
        Refused,   // the database refused the statement (code says why)
        Lost,      // the connection is gone
        ReadOnly,  // the database may be read but not written here
        TimedOut,  // the database did not answer within the storage's timeout
    };
    SqlError(const std::string& message, Kind kind = Kind::Refused, std::string code = "")
        : StorageError(message), kind(kind), code(std::move(code)) {}
    const Kind kind;
    const std::string code;  // PostgreSQL's SQLSTATE where there is one ("54000": a value too large for an index)
};

// How long a call may wait for the database, and whether its caller has given up waiting. Shared
// by the connections of one storage.
class Patience {
public:
    using Clock = std::chrono::steady_clock;
    // interrupted (may be empty) is polled while waiting; true gives the wait up at once.
    Patience(std::chrono::duration<double> timeout, std::function<bool()> interrupted)
        : timeout(timeout), interrupted(std::move(interrupted)) {}

    // Throws StorageInterrupted (see database_storage.hpp) if the caller gave up, SqlError once
    // the wait that began at since has outlasted the timeout; what says what is waited for.
    void check(Clock::time_point since, const std::string& label, const std::string& what) const;
    // Another thread took a Ctrl-C: from now on every wait of every thread gives up after a
    // second, until two seconds pass without one given up. Safe from a signal handler.
    void interrupt() const noexcept { interrupted_at.store(Clock::now().time_since_epoch().count()); }

    const std::chrono::duration<double> timeout;

private:
    const std::function<bool()> interrupted;
    mutable std::atomic<Clock::rep> interrupted_at{0};  // the last interruption or wait given up for one
};

enum class Transaction {
    // Writes that hold the database's write lock from the start where the database has one, so
    // two writers never deadlock upgrading.
    Durable,
    // The same for writes whose loss in a database crash costs nothing of value (a running
    // trial's progress): committed without waiting for the disk where the database allows it.
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
    virtual std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& first,
                                             const NextStep& second);
    // Starts a transaction of that kind.
    virtual void begin(Transaction kind) = 0;
    void commit() { query("COMMIT"); }
    void rollback() { query("ROLLBACK"); }
    // The column type of an auto-numbered primary key, and of a double.
    virtual std::string serial_key() const = 0;
    virtual std::string real_type() const = 0;
    // The SQL of the database clock's current time, in nanoseconds since the Unix epoch.
    virtual std::string now_sql() const = 0;
    // The name of the two-argument maximum (GREATEST, max).
    virtual std::string greatest() const = 0;
    virtual bool has_table(const std::string& name) = 0;
    // Serialises schema changes between processes that open a database at once.
    virtual void lock_schema() = 0;

private:
    virtual std::vector<SqlRow> execute(const std::string& sql, const std::vector<SqlValue>& params) = 0;
};

struct SqliteOpen {
    bool create = false;          // create the file when it is missing
    bool for_heartbeats = false;  // never waits for the lock: a beat that cannot write now is skipped
};

// label names the storage in every message (the URL without its password).
std::unique_ptr<ISqlConnection> connect_sqlite(const std::string& path, const std::string& label, SqliteOpen how,
                                               std::shared_ptr<const Patience> patience);
// options: libpq keywords and values, the URL's after any defaults.
std::unique_ptr<ISqlConnection> connect_postgres(const std::vector<std::pair<std::string, std::string>>& options,
                                                 const std::string& label, std::shared_ptr<const Patience> patience);

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
        } catch (const std::exception&) {  // the connection is gone: the first error is the one to report
        }
        throw;
    }
}

}  // namespace tarvex::detail
