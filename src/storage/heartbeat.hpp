// This process as a worker of a database: its row in tarvex_workers, the thread that keeps its
// heartbeat on a connection of its own (so that no lock or long transaction of the storage's own
// connection delays a beat), and on SQLite a lock on the byte worker_id of a file beside the
// database, which the system releases when the process dies.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "sql_connection.hpp"

namespace tarvex::detail {

// The interval of beats for a grace period, and the shortest grace accepted.
std::chrono::duration<double> beat_interval(std::chrono::duration<double> grace);
constexpr double kMinHeartbeatGrace = 0.5;

// Whether the process that runs worker_id still holds its lock in the lock file at path. False
// when nobody can tell (no lock file): then the heartbeat alone decides.
bool worker_lock_held(const std::string& lock_path, std::int64_t worker_id);

// The lock file of a SQLite database.
std::string lock_file_of(const std::string& database_path);

class Heartbeat {
public:
    // Opens the connection the beats go through, waiting as patient says.
    using Connect = std::function<std::unique_ptr<ISqlConnection>(std::shared_ptr<const Patience> patient)>;
    // lock_path is the SQLite lock file; a beat waits at most timeout (or half the grace).
    Heartbeat(Connect connect, std::chrono::duration<double> grace, std::chrono::duration<double> timeout,
              std::optional<std::string> lock_path);
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;
    ~Heartbeat();

    // This process's worker, registered through db (the storage's connection) on first use.
    std::int64_t worker_id(ISqlConnection& db);
    // Beats go out while trials run.
    void set_running(bool running);
    // Whether the worker's last heartbeat is old enough that a trial starting now should write one
    // (its start does, in its own transaction), and that one was written.
    bool needs_beat() const;
    void beaten() noexcept;

private:
    void beat();

    const Connect connect;
    const std::chrono::duration<double> interval;
    std::stop_source stopping;  // asked by the destructor; ends the beats and their waits
    const std::shared_ptr<const Patience> patience;
    const std::optional<std::string> lock_path;
    int lock_fd = -1;  // holds the worker's lock while open
    std::mutex mutex;
    std::optional<std::int64_t> id;                            // guarded by mutex
    bool running = false;                                      // guarded by mutex
    std::atomic<std::chrono::steady_clock::rep> last_beat{0};  // when a heartbeat was last written
    std::condition_variable_any wake;
    std::thread thread;  // joined by the destructor
};

}  // namespace tarvex::detail
