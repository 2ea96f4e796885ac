// Persistent storage shared by processes and hosts: studies kept by name in a database, SQLite
// (sqlite:///path.db) for one host, PostgreSQL (postgresql://user@host:port/db) for many.
//
// Trials are recorded when they start, as Running, with each parameter, report and user
// attribute as it is made. The process that runs them keeps a heartbeat on the database's clock;
// a Running trial whose process has been silent for longer than the grace period (on SQLite: and
// whose process no longer holds its lock, which the system drops when a process dies) is marked
// Failed ("heartbeat lost") by whichever process next reads the study, as far as that process
// may write. A trial so marked whose process finishes it after all keeps its result, and the
// system attribute "presumed_lost" says what happened. Readers fetch only what changed since they
// last read. Every wait for the database is bounded by a timeout and can be interrupted.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarvex/storage.hpp"

namespace tarvex {

namespace detail {
class ISqlConnection;
class Patience;
class Heartbeat;
struct SqlStatement;
struct StorageUrl;
}  // namespace detail

struct StudyRecord {
    std::int64_t id;  // the database's identifier of the study
    std::string name;
    std::vector<StudyDirection> directions;
    std::vector<std::string> objective_names;  // one per direction, or empty: unnamed
};

struct StorageOptions {
    // Seconds a running trial's process may stay silent before the trial is presumed lost; at
    // least 0.5 (heartbeats go out every fifth of it, at most every 10 s).
    double heartbeat_grace = 60.0;
    // Seconds any call waits for the database (a lock held by another process, a server that
    // does not answer) before it gives up with an error saying what it waited for.
    double timeout = 60.0;
    // Whether a missing database is created (the SQLite file, the PostgreSQL tables). Otherwise a
    // missing SQLite file is refused with StorageNotFound and a PostgreSQL database without the
    // tables holds no studies.
    bool create = false;
    // Whether the storage only reads: it writes nothing (trials of silent processes are not
    // marked lost, an older schema is not upgraded), and what would write (creating or deleting
    // a study, starting or storing a trial, setting a study's attribute) throws StorageError.
    // Excludes create.
    bool read_only = false;
    // Polled while waiting; returning true gives the wait up with StorageInterrupted.
    std::function<bool()> interrupted;
};

// A storage that failed: a database that refused a statement, a connection lost or timed out.
class StorageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No study of the name asked for.
class StudyNotFound : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// A wait for the database given up because its caller was interrupted.
class StorageInterrupted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A study of the name asked for exists already.
class DuplicateStudy : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A SQLite database that is not there (or an empty file) where it was to be read.
class StorageNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DatabaseStorage : public std::enable_shared_from_this<DatabaseStorage> {
public:
    // Opens the database of url. Throws std::invalid_argument for a URL of no known kind or bad
    // options, StorageNotFound as above, std::runtime_error for a database that cannot be reached
    // or whose schema is of another version; every message names the storage, never a password.
    static std::shared_ptr<DatabaseStorage> open(const std::string& url, const StorageOptions& options);
    // The same with the default options, creating a missing database.
    static std::shared_ptr<DatabaseStorage> open(const std::string& url, double heartbeat_grace_seconds = 60.0);
    DatabaseStorage(const DatabaseStorage&) = delete;
    DatabaseStorage& operator=(const DatabaseStorage&) = delete;
    ~DatabaseStorage();

    // Throws DuplicateStudy when a study of that name exists, std::invalid_argument for a name
    // holding NUL or too long for the database.
    StudyRecord create_study(const std::string& name, const std::vector<StudyDirection>& directions);
    // The same, naming the objectives: one distinct name per direction, or none. Throws
    // std::invalid_argument for another number of names, a repeated one or one holding NUL.
    StudyRecord create_study(const std::string& name, const std::vector<StudyDirection>& directions,
                             const std::vector<std::string>& objective_names);
    // Throws std::out_of_range when there is none.
    StudyRecord load_study(const std::string& name);
    void delete_study(const std::string& name);
    std::vector<StudyRecord> studies();
    // The storage a Study of that study works on.
    std::shared_ptr<IStorage> study_storage(const StudyRecord& study);

    const std::string& url() const;  // the URL with every password replaced by ***
    bool read_only() const { return options.read_only; }
    double heartbeat_grace_seconds() const { return options.heartbeat_grace; }
    double timeout_seconds() const { return options.timeout; }
    // Gives up, within a second, the waits of every thread using this storage (a Ctrl-C taken
    // by another thread). Safe from a signal handler.
    void interrupt() const noexcept;

    // The study's own user attributes: set one (replacing its value), or read them all. Throws
    // std::out_of_range (StudyNotFound) for a study deleted meanwhile, std::invalid_argument for
    // a key or value holding NUL.
    void set_study_user_attr(const StudyRecord& study, const std::string& key, const std::string& value);
    std::map<std::string, std::string> study_user_attrs(const StudyRecord& study);

    static constexpr std::int64_t kSchemaVersion = 4;

private:
    friend class DatabaseStudyStorage;
    // What this process records of a trial it runs: its row, and what it wrote so far, so that
    // finishing the trial writes only the rest.
    struct LiveTrial {
        std::int64_t row;
        std::optional<ParamMap> enqueued;  // the parameters it took from the queue, handed out once
        std::map<std::string, std::pair<ParamValue, Distribution>> params;
        std::size_t n_reports = 0;
        std::map<std::string, std::string> user_attrs;
    };

    DatabaseStorage(std::unique_ptr<detail::ISqlConnection> db, std::unique_ptr<detail::StorageUrl> url,
                    StorageOptions options, std::shared_ptr<detail::Patience> patience, bool has_schema);

    // Trials are numbered 0, 1, 2, ... within their study; the number is the Study's trial_id.
    int start_trial(std::int64_t study_id);
    // Stores a finished trial; returns the system attributes noted on the way (see above).
    std::map<std::string, std::string> finish_trial(std::int64_t study_id, const Trial& trial);
    void record_param(std::int64_t study_id, int number, const std::string& name, const Distribution& dist,
                      const ParamValue& value);
    void record_report(std::int64_t study_id, int number, std::size_t index, std::int32_t step, double value);
    void record_user_attr(std::int64_t study_id, int number, const std::string& key, const std::string& value);
    // Writes what add appends about the trial number running here, in one transaction that marks
    // the trial changed; null, writing nothing, for a trial not running here. With mutex held;
    // name_kind and name say what was too long for the database's index, if that is refused.
    LiveTrial* record_running(std::int64_t study_id, int number,
                              const std::function<void(std::vector<detail::SqlStatement>&, std::int64_t row)>& add,
                              const char* name_kind, const std::string& name);
    void enqueue(std::int64_t study_id, const ParamMap& params);
    std::optional<ParamMap> take_enqueued(std::int64_t study_id, int number);
    bool has_study(std::int64_t study_id);
    // The lock on the connection; throws in a process forked from the one that opened it.
    std::unique_lock<std::mutex> use();
    // The same for a call that writes, which a read-only storage refuses naming what (StorageError).
    std::unique_lock<std::mutex> use_to_write(const char* what);
    // The trials of study_id changed after change, oldest change first; change moves past them.
    std::vector<StoredTrial> changed_trials(std::int64_t study_id, std::uint64_t& change);
    Trial load_trial(std::int64_t study_id, int number);
    // Marks the study's trials whose process is gone Failed, if this process may write.
    void mark_lost_trials(std::int64_t study_id);
    void require_schema();  // with mutex held: a storage opened without create makes the tables now

    const std::unique_ptr<detail::ISqlConnection> db;  // guarded by mutex
    const std::unique_ptr<const detail::StorageUrl> parsed;
    const StorageOptions options;
    const std::shared_ptr<detail::Patience> patience;
    const int owner;  // the process that opened the connection
    std::mutex mutex;
    bool has_schema;  // guarded by mutex
    bool may_mark;    // guarded by mutex; false when read-only, or once marking lost trials was refused
    std::map<std::pair<std::int64_t, int>, LiveTrial> live;  // guarded by mutex; by (study, number)
    std::unique_ptr<detail::Heartbeat> heartbeat;            // the last member: it stops beating before the others go
};

}  // namespace tarvex
