// What the database storage tests share: the test server, a fresh database of each backend per
// test, and an objective over every kind of parameter.
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "stubs.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex::testing {

inline std::string server_url() {
    const char* url = std::getenv("TARVEX_TEST_POSTGRES");
    if (!url) throw std::runtime_error("TARVEX_TEST_POSTGRES is not set: run scripts/test.sh, which starts a server");
    return url;
}

// Runs sql on the test server's database db, through a connection of its own.
inline void admin(const std::string& sql, const std::string& db = "postgres") {
    std::string url = server_url();
    url = url.substr(0, url.rfind('/') + 1) + db;
    PGconn* conn = PQconnectdb(url.c_str());
    PGresult* r = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    const std::string why = PQerrorMessage(conn);
    PQclear(r);
    PQfinish(conn);
    if (!ok) throw std::runtime_error(sql + ": " + why);
}

// A new, empty database of one backend per test.
class Backend : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        name = "t" + std::to_string(::getpid()) + "_" + std::to_string(counter()++);
        if (GetParam() == "sqlite") {
            dir = std::filesystem::temp_directory_path() / name;
            std::filesystem::create_directories(dir);
            url = "sqlite:///" + (dir / "study.db").string();
        } else {
            admin("CREATE DATABASE " + name);
            const std::string server = server_url();
            url = server.substr(0, server.rfind('/') + 1) + name;
        }
    }
    void TearDown() override {
        if (GetParam() == "sqlite") {
            std::filesystem::remove_all(dir);
        } else {
            admin("DROP DATABASE " + name + " WITH (FORCE)");
        }
    }
    std::shared_ptr<DatabaseStorage> open(double grace = 60.0) const { return DatabaseStorage::open(url, grace); }
    // Runs sql on this test's database, behind the storage's back.
    void raw_sql(const std::string& sql) const {
        if (GetParam() != "sqlite") return admin(sql, name);
        sqlite3* db = nullptr;
        sqlite3_open((dir / "study.db").c_str(), &db);
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
        if (rc != SQLITE_OK) throw std::runtime_error(sql + ": failed");
    }
    static int& counter() {
        static int n = 0;
        return n;
    }

    std::string name, url;
    std::filesystem::path dir;
};

inline const std::string kOdd = "it's \"quoted\"; DROP TABLE x; -- ünïcødé ✓ " + std::string(5000, 'L');

inline double objective(Trial& t) {
    const double x = t.suggest_float("x", -5, 5, false, std::nullopt);
    const int n = t.suggest_int("n", 1, 64, true, 1);
    const std::string c = t.suggest_categorical("c", {"a", kOdd, ""});
    return x * x + n + static_cast<double>(c.size());
}

}  // namespace tarvex::testing
