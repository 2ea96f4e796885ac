#include "heartbeat.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace tarvex::detail {
namespace {

// A lock on one byte of the lock file: the worker's own, at offset worker_id. Locks of an open
// file description (not of the process) stay with the descriptor that took them, so closing
// another descriptor of the file never drops one.
struct flock byte_of(std::int64_t worker_id, short type) {
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(worker_id);
    lock.l_len = 1;
    return lock;
}

}  // namespace

std::chrono::duration<double> beat_interval(std::chrono::duration<double> grace) {
    return std::clamp(grace / 5, std::chrono::duration<double>(0.1), std::chrono::duration<double>(10));
}

std::string lock_file_of(const std::string& database_path) { return database_path + "-live"; }

bool worker_lock_held(const std::string& lock_path, std::int64_t worker_id) {
#ifdef F_OFD_GETLK
    const int fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock = byte_of(worker_id, F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
#else
    return false;
#endif
}

Heartbeat::Heartbeat(Connect connect, std::chrono::duration<double> grace, std::chrono::duration<double> timeout,
                     std::optional<std::string> lock_path)
    : connect(std::move(connect)),
      interval(beat_interval(grace)),
      patience(
          std::make_shared<const Patience>(std::min(timeout, grace / 2), [this] { return stopping.stop_requested(); })),
      lock_path(std::move(lock_path)) {}

Heartbeat::~Heartbeat() {
    stopping.request_stop();
    wake.notify_all();
    if (thread.joinable()) thread.join();
    if (lock_fd >= 0) ::close(lock_fd);
}

std::int64_t Heartbeat::worker_id(ISqlConnection& db) {
    const std::scoped_lock lock(mutex);
    if (id) return *id;
    const std::string now = db.now_sql();
    const auto rows = db.transaction(
        Transaction::Durable,
        {{"INSERT INTO tarvex_workers (last_seen, started) VALUES (" + now + ", " + now + ") RETURNING worker_id",
          {}}});
    id = rows.at(0).at(0).integer(0);
    beaten();
#ifdef F_OFD_SETLK
    // Without the lock (a file that cannot be made here) the heartbeat alone keeps the trials.
    if (lock_path) {
        lock_fd = ::open(lock_path->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct flock byte = byte_of(*id, F_WRLCK);
        if (lock_fd >= 0 && ::fcntl(lock_fd, F_OFD_SETLK, &byte) != 0) {
            ::close(lock_fd);
            lock_fd = -1;
        }
    }
#endif
    thread = std::thread([this] { beat(); });
    return *id;
}

bool Heartbeat::needs_beat() const {
    const auto since = std::chrono::steady_clock::now() -
                       std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(last_beat.load()));
    return since > interval / 2;
}

void Heartbeat::beaten() noexcept { last_beat.store(std::chrono::steady_clock::now().time_since_epoch().count()); }

void Heartbeat::set_running(bool now_running) {
    {
        const std::scoped_lock lock(mutex);
        running = now_running;
    }
    wake.notify_all();
}

void Heartbeat::beat() {
    const std::stop_token stop = stopping.get_token();
    std::unique_ptr<ISqlConnection> beats;
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait_for(lock, stop, interval, [] { return false; });
        if (stop.stop_requested()) return;
        if (!running) continue;
        const std::int64_t worker = *id;
        lock.unlock();
        // A beat that cannot go out now (a lock, a server away) is tried again at the next one;
        // a connection that failed is opened again.
        try {
            if (!beats) beats = connect(patience);
            beats->query("UPDATE tarvex_workers SET last_seen = " + beats->now_sql() + " WHERE worker_id = $1",
                         {worker});
            beaten();
        } catch (const SqlError& e) {
            if (e.kind == SqlError::Kind::Lost) beats.reset();
        } catch (const std::exception&) {
            beats.reset();
        }
        lock.lock();
    }
}

}  // namespace tarvex::detail
