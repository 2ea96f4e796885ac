// Persistent storage shared by processes and hosts: studies kept by name in a database, SQLite
// (sqlite:///path.db) for one host, PostgreSQL (postgresql://user@host:port/db) for many.
//
// Trials are recorded when they start, as Running, with each parameter as it is suggested, and
// keep a heartbeat while their process runs them; a Running trial whose heartbeat is older than
// the grace period is marked Failed ("heartbeat lost") by whichever process next reads the study.
// Readers fetch only what changed since they last read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <map>
#include <vector>

#include "tarvex/storage.hpp"

namespace tarvex {

namespace detail {
class ISqlConnection;
}

struct StudyRecord {
    std::int64_t id;                         // the database's identifier of the study
    std::string name;
    std::vector<StudyDirection> directions;
};

class DatabaseStorage : public std::enable_shared_from_this<DatabaseStorage> {
public:
    // Opens (and on first use creates) the database of url. Throws std::invalid_argument for a URL
    // of no known kind, std::runtime_error for a database that cannot be reached or whose schema
    // is of another version; every message names the storage, never its password.
    static std::shared_ptr<DatabaseStorage> open(const std::string& url, double heartbeat_grace_seconds = 60.0);
    DatabaseStorage(const DatabaseStorage&) = delete;
    DatabaseStorage& operator=(const DatabaseStorage&) = delete;
    ~DatabaseStorage();

    // Throws std::invalid_argument when a study of that name exists.
    StudyRecord create_study(const std::string& name, const std::vector<StudyDirection>& directions);
    // Throws std::out_of_range when there is none.
    StudyRecord load_study(const std::string& name);
    void delete_study(const std::string& name);
    std::vector<StudyRecord> studies();
    // The storage a Study of that study works on.
    std::shared_ptr<IStorage> study_storage(const StudyRecord& study);

    const std::string& url() const { return display_url; }  // the URL without its password
    double heartbeat_grace_seconds() const { return grace.count(); }

    static constexpr std::int64_t kSchemaVersion = 1;

private:
    friend class DatabaseStudyStorage;
    DatabaseStorage(std::unique_ptr<detail::ISqlConnection> db, std::string display_url, double grace_seconds);

    // Trials are numbered 0, 1, 2, ... within their study; the number is the Study's trial_id.
    int start_trial(std::int64_t study_id);
    void finish_trial(std::int64_t study_id, const Trial& trial);
    void record_param(std::int64_t study_id, int number, const std::string& name, const Distribution& dist,
                      const ParamValue& value);
    std::int64_t row_of(std::int64_t study_id, int number);  // with mutex held
    // The lock on the connection; throws in a process forked from the one that opened it.
    std::unique_lock<std::mutex> use();
    // The trials of study_id changed after change, oldest change first; change moves past them.
    std::vector<StoredTrial> changed_trials(std::int64_t study_id, int local_study_id, std::uint64_t& change);
    Trial load_trial(std::int64_t study_id, int number, int local_study_id);
    void beat();

    const std::unique_ptr<detail::ISqlConnection> db;  // guarded by mutex
    const std::string display_url;
    const std::chrono::duration<double> grace;
    const int owner;  // the process that opened the connection
    std::mutex mutex;
    // Guarded by mutex: the trials this process runs, kept beating, by (study, number), with their row.
    std::map<std::pair<std::int64_t, int>, std::int64_t> live;
    std::condition_variable_any beat_wait;
    std::jthread heartbeats;  // the last member: it stops and joins before the others go
};

}  // namespace tarvex
