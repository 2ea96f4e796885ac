#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <unordered_map>

#include "postgres_values.hpp"
#include "sql_connection.hpp"

namespace tarvex::detail {
namespace {

using Clock = Patience::Clock;

// Any constant: the advisory lock that serialises schema changes.
constexpr long long kSchemaLock = 7256348;
constexpr int kPollMs = 100;  // how often a wait looks at its patience

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Every wait for the server is a poll of its socket, so that a server that stopped answering is
// given up after the storage's timeout and a caller's interruption is seen within kPollMs.
class PostgresConnection : public ISqlConnection {
public:
    PostgresConnection(const std::vector<std::pair<std::string, std::string>>& options, std::string label,
                       std::shared_ptr<const Patience> patience)
        : options(options), label(std::move(label)), patience(std::move(patience)) {
        connect();
    }
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;
    ~PostgresConnection() override { PQfinish(conn); }

    // Sent as one pipeline: a round trip for the whole transaction rather than one per statement.
    std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& statements) override {
        return transaction(kind, statements, nullptr);
    }

    // Two pipelines, the second made from the results of the first.
    std::vector<SqlRows> transaction(Transaction kind, const std::vector<SqlStatement>& first,
                                     const NextStep& second) override {
        std::vector<SqlStatement> head;
        if (kind == Transaction::ReadOnly) {
            head.push_back({"BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}});
        } else {
            head.push_back({"BEGIN", {}});
            if (kind == Transaction::Fleeting) head.push_back({"SET LOCAL synchronous_commit = off", {}});
        }
        const std::size_t opening = head.size();
        head.insert(head.end(), first.begin(), first.end());
        if (!second) head.push_back({"COMMIT", {}});
        std::vector<SqlRows> out = pipeline(head, opening, opening + first.size());
        if (second) {
            std::vector<SqlStatement> tail;
            try {
                tail = second(out);
            } catch (...) {
                abandon_transaction();
                throw;
            }
            tail.push_back({"COMMIT", {}});
            std::vector<SqlRows> more = pipeline(tail, 0, tail.size() - 1);
            out.insert(out.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        }
        return out;
    }
    void begin(Transaction kind) override {
        if (kind == Transaction::ReadOnly)
            return static_cast<void>(query("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        query("BEGIN");
        if (kind == Transaction::Fleeting) query("SET LOCAL synchronous_commit = off");
    }
    std::string serial_key() const override { return "BIGSERIAL PRIMARY KEY"; }
    std::string real_type() const override { return "DOUBLE PRECISION"; }
    // The server's clock, not the time of the transaction's start: one clock for every host.
    std::string now_sql() const override {
        return "(CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000000 AS BIGINT) * 1000)";
    }
    std::string greatest() const override { return "GREATEST"; }
    bool has_table(const std::string& name) override {
        return query("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename = $1", {name})
                   .at(0)
                   .integer(0) > 0;
    }
    void lock_schema() override { query("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")"); }

private:
    void connect() {
        // Defaults first: a keyword given again by the URL overrides them. Keepalives find a
        // connection whose peer vanished; the user timeout ends sends that are never answered.
        const std::string timeout_ms = std::to_string(std::llround(patience->timeout.count() * 1000));
        std::vector<std::pair<std::string, std::string>> all{{"keepalives", "1"},
                                                             {"keepalives_idle", "10"},
                                                             {"keepalives_interval", "5"},
                                                             {"keepalives_count", "3"},
                                                             {"tcp_user_timeout", timeout_ms}};
        all.insert(all.end(), options.begin(), options.end());
        std::vector<const char*> keywords, values;
        for (const auto& [k, v] : all) {
            keywords.push_back(k.c_str());
            values.push_back(v.c_str());
        }
        keywords.push_back(nullptr);
        values.push_back(nullptr);
        conn = PQconnectStartParams(keywords.data(), values.data(), /*expand_dbname=*/0);
        if (!conn) throw std::bad_alloc();
        try {
            const Clock::time_point since = Clock::now();
            PostgresPollingStatusType status = PGRES_POLLING_WRITING;
            while (PQstatus(conn) != CONNECTION_BAD && status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
                wait_for(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, since,
                         "the server to accept a connection");
                status = PQconnectPoll(conn);
            }
            if (PQstatus(conn) != CONNECTION_OK) {
                throw SqlError(label + ": cannot connect: " + reason(PQerrorMessage(conn)), SqlError::Kind::Lost);
            }
            PQsetnonblocking(conn, 1);
            PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);  // the library prints nothing
            // The server gives up what outlasts the timeout too, so nothing it holds stays locked.
            query("SET statement_timeout = " + timeout_ms);
            query("SET lock_timeout = " + timeout_ms);
        } catch (...) {
            PQfinish(conn);  // the destructor of a half-made connection does not run
            conn = nullptr;
            throw;
        }
    }

    std::string reason(const std::string& why) const {
        const std::string text = trimmed(why);
        return text.empty() ? "the server closed the connection without saying why" : text;
    }

    // Waits until the socket is ready for events, looking at the patience every kPollMs.
    void wait_for(short events, Clock::time_point since, const std::string& what) {
        for (;;) {
            pollfd fd{PQsocket(conn), events, 0};
            const int ready = ::poll(&fd, 1, kPollMs);
            if (ready > 0) return;
            if (ready < 0 && errno != EINTR)
                throw SqlError(label + ": the connection failed while waiting for " + what, SqlError::Kind::Lost);
            patience->check(since, label, what);
        }
    }

    // A wait given up leaves the protocol in an unknown state: the connection is closed (the
    // server rolls back whatever it had not committed) and the next call opens a new one. A
    // connection the server lost stays lost: every later call says why.
    template <class F>
    auto guarded(F&& f) {
        if (!lost_because.empty()) throw SqlError(lost_because, SqlError::Kind::Lost);
        if (!conn) connect();
        try {
            return f();
        } catch (const SqlError& e) {
            if (e.kind == SqlError::Kind::TimedOut) {
                close();
            } else if (e.kind == SqlError::Kind::Lost || PQstatus(conn) != CONNECTION_OK) {
                lost_because = e.what();
                close();
            }
            throw;
        } catch (...) {  // interrupted
            close();
            throw;
        }
    }

    void close() {
        PQfinish(conn);
        conn = nullptr;
        statements.clear();
    }

    void flush(Clock::time_point since, const std::string& what) {
        for (int left = PQflush(conn); left != 0; left = PQflush(conn)) {
            if (left < 0) throw failure(PQerrorMessage(conn));
            wait_for(POLLIN | POLLOUT, since, what);
            if (!PQconsumeInput(conn)) throw failure(PQerrorMessage(conn));
        }
    }

    // The next result, or null at the end of a statement's results.
    PGresult* next_result(Clock::time_point& since, const std::string& what) {
        while (PQisBusy(conn)) {
            wait_for(POLLIN, since, what);
            if (!PQconsumeInput(conn)) throw failure(PQerrorMessage(conn));
        }
        since = Clock::now();  // a bound on each silence, not on the whole exchange
        return PQgetResult(conn);
    }

    SqlRows execute(const std::string& sql, const std::vector<SqlValue>& values) override {
        return guarded([&] {
            const TextParams params(values, label);
            const std::string& name = statement(sql, params.size());
            return answer(PQsendQueryPrepared(conn, name.c_str(), params.size(), params.values(), nullptr, nullptr, 0),
                          "the server to answer");
        });
    }

    // The rows of the one command just sent (sent: whether sending it worked), once the server
    // has answered; a refusal throws.
    SqlRows answer(int sent, const std::string& what) {
        if (!sent) throw failure(PQerrorMessage(conn));
        Clock::time_point since = Clock::now();
        flush(since, "the server to take a statement");
        PGresult* const raw = next_result(since, what);
        if (!raw) throw failure(PQerrorMessage(conn));
        const Result result(raw);
        while (PGresult* const more = next_result(since, what)) PQclear(more);
        if (!result.ok()) throw failure(result.r);
        return rows_of(result.r);
    }

    // Sends the statements as one pipeline and returns the rows of those from keep_from up to
    // keep_to. A failure rolls the transaction back and throws.
    std::vector<SqlRows> pipeline(const std::vector<SqlStatement>& all, std::size_t keep_from, std::size_t keep_to) {
        return guarded([&] {
            for (const SqlStatement& s : all)
                statement(s.sql, static_cast<int>(s.params.size()));  // prepared beforehand
            if (!PQenterPipelineMode(conn)) throw failure("cannot start a pipeline");
            std::vector<SqlRows> out;
            std::string error, code;
            Clock::time_point since = Clock::now();
            for (const SqlStatement& s : all) {
                const TextParams params(s.params, label);
                if (!PQsendQueryPrepared(conn, statement(s.sql, params.size()).c_str(), params.size(), params.values(),
                                         nullptr, nullptr, 0)) {
                    error = PQerrorMessage(conn);
                    break;
                }
            }
            if (error.empty() && !PQpipelineSync(conn)) error = PQerrorMessage(conn);
            if (error.empty()) {
                flush(since, "the server to take a transaction");
                // One result and a null per statement, until the sync's own result; after a failure
                // the rest come back aborted.
                for (std::size_t i = 0; PQstatus(conn) == CONNECTION_OK;) {
                    PGresult* const raw = next_result(since, "the server to answer");
                    if (!raw) continue;
                    const Result result(raw);
                    const ExecStatusType status = PQresultStatus(raw);
                    if (status == PGRES_PIPELINE_SYNC) break;
                    if (status == PGRES_FATAL_ERROR && error.empty()) {
                        error = PQresultErrorMessage(raw);
                        if (const char* state = PQresultErrorField(raw, PG_DIAG_SQLSTATE)) code = state;
                    }
                    if (i >= keep_from && i < keep_to) out.push_back(result.ok() ? rows_of(raw) : SqlRows{});
                    ++i;
                }
                if (PQstatus(conn) != CONNECTION_OK && error.empty()) error = PQerrorMessage(conn);
            }
            PQexitPipelineMode(conn);
            if (!error.empty() || PQstatus(conn) != CONNECTION_OK) {
                if (PQstatus(conn) == CONNECTION_OK) abandon_transaction();  // a failed statement left it open
                throw failure(error, code);
            }
            return out;
        });
    }

    void abandon_transaction() {
        try {
            query("ROLLBACK");
        } catch (const SqlError&) {  // the connection is gone: nothing is left open
        }
    }

    SqlError failure(const std::string& why, const std::string& code = "") const {
        if (PQstatus(conn) != CONNECTION_OK) {
            return SqlError(label + ": the connection was lost: " + reason(why), SqlError::Kind::Lost, code);
        }
        // A read-only transaction or role: the database may be read but not written by this user.
        const bool read_only = code == "25006" || code == "42501";
        return SqlError(label + ": " + reason(why), read_only ? SqlError::Kind::ReadOnly : SqlError::Kind::Refused,
                        code);
    }
    SqlError failure(const PGresult* result) const {
        const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        return failure(PQresultErrorMessage(result), state ? state : "");
    }

    // The prepared statement of sql, prepared once per connection.
    const std::string& statement(const std::string& sql, int n_params) {
        if (const auto it = statements.find(sql); it != statements.end()) return it->second;
        std::string name = "tarvex_" + std::to_string(statements.size());
        answer(PQsendPrepare(conn, name.c_str(), sql.c_str(), n_params, nullptr), "the server to prepare a statement");
        return statements.emplace(sql, std::move(name)).first->second;
    }

    PGconn* conn = nullptr;  // null once closed
    const std::vector<std::pair<std::string, std::string>> options;
    const std::string label;
    const std::shared_ptr<const Patience> patience;
    std::string lost_because;  // why the server's connection was lost; empty while it is not
    std::unordered_map<std::string, std::string> statements;  // sql -> prepared statement name
};

}  // namespace

std::unique_ptr<ISqlConnection> connect_postgres(const std::vector<std::pair<std::string, std::string>>& options,
                                                 const std::string& label, std::shared_ptr<const Patience> patience) {
    return std::make_unique<PostgresConnection>(options, label, std::move(patience));
}

}  // namespace tarvex::detail
