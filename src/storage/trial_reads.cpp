#include <algorithm>
#include <limits>
#include <stdexcept>

#include "distribution_text.hpp"
#include "heartbeat.hpp"
#include "schema.hpp"
#include "sql_connection.hpp"
#include "storage_text.hpp"
#include "storage_url.hpp"
#include "tarvex/database_storage.hpp"
#include "trial_rows.hpp"

namespace tarvex {
namespace {

using detail::ns_of;
using detail::SqlError;
using detail::SqlRow;
using detail::SqlStatement;
using detail::SqlValue;
using detail::too_long;
using detail::too_long_message;
using detail::Transaction;

// A running trial in a process that is gone (heartbeat older than the grace period), judged on
// the database's clock; version 1 trials, without a worker, kept their own heartbeat.
std::string stale(const std::string& trials, const std::string& now, std::int64_t grace_ns) {
    return "COALESCE((SELECT w.last_seen FROM tarvex_workers w WHERE w.worker_id = " + trials + ".worker_id), " +
           trials + ".heartbeat) < " + now + " - " + std::to_string(grace_ns);
}

}  // namespace

void DatabaseStorage::mark_lost_trials(std::int64_t study_id) {
    if (!may_mark) return;
    const std::string now = db->now_sql();
    const auto grace_ns = static_cast<std::int64_t>(options.heartbeat_grace * 1e9);
    const auto candidates = db->query(
        "SELECT DISTINCT t.worker_id FROM tarvex_trials t WHERE t.study_id = $1 AND t.state = " + detail::kRunning +
            " AND " + stale("t", now, grace_ns),
        {study_id});
    // On SQLite a process that still holds its lock is alive, however long its heartbeat waited.
    std::string workers;
    bool legacy = false;
    for (const SqlRow& r : candidates) {
        if (r.is_null(0)) {
            legacy = true;
        } else if (parsed->kind != detail::StorageUrl::Kind::Sqlite ||
                   !detail::worker_lock_held(detail::lock_file_of(parsed->path), r.integer(0))) {
            if (!workers.empty()) workers += ',';
            workers += std::to_string(r.integer(0));
        }
    }
    if (workers.empty() && !legacy) return;
    std::string which = workers.empty() ? "" : "tarvex_trials.worker_id IN (" + workers + ")";
    if (legacy) which += std::string(which.empty() ? "" : " OR ") + "tarvex_trials.worker_id IS NULL";
    // A lost trial ends at its process's last heartbeat, measured from its start on the same clock.
    const std::string last_seen =
        "COALESCE((SELECT w.last_seen FROM tarvex_workers w WHERE w.worker_id = "
        "tarvex_trials.worker_id), tarvex_trials.heartbeat)";
    try {
        db->transaction(Transaction::Durable,
                        {detail::kNextChange,
                         {"UPDATE tarvex_trials SET state = " + detail::kFailed +
                              ", fail_reason = 'heartbeat lost', datetime_complete = " + db->greatest() +
                              "(datetime_start, datetime_start + " + last_seen + " - heartbeat), change = " +
                              detail::kChange + " WHERE study_id = $1 AND state = " + detail::kRunning + " AND (" +
                              which + ") AND " + stale("tarvex_trials", now, grace_ns),
                          {study_id}}});
    } catch (const SqlError& e) {
        // Marking is left to a process that may write; this one still reads.
        if (e.kind == SqlError::Kind::ReadOnly) may_mark = false;
        if (e.kind == SqlError::Kind::Lost) throw;
    }
}

std::vector<StoredTrial> DatabaseStorage::changed_trials(std::int64_t study_id, std::uint64_t& change) {
    const auto lock = use();
    if (!has_schema) return {};
    mark_lost_trials(study_id);
    const std::vector<detail::SqlRows> rows = db->transaction(
        Transaction::ReadOnly,
        {detail::trial_rows("t.study_id = $1 AND t.change > $2", {study_id, static_cast<std::int64_t>(change)})},
        [](const std::vector<detail::SqlRows>& found) { return detail::part_reads(found.at(0)); });
    std::vector<std::pair<std::int64_t, Trial>> changed = detail::trials_of(rows, 0, 1, static_cast<int>(study_id));
    std::sort(changed.begin(), changed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<StoredTrial> out;
    out.reserve(changed.size());
    for (auto& [c, trial] : changed) {
        out.push_back(std::make_shared<const Trial>(std::move(trial)));
        change = static_cast<std::uint64_t>(c);
    }
    return out;
}

Trial DatabaseStorage::load_trial(std::int64_t study_id, int number) {
    const auto lock = use();
    if (!has_schema) throw std::out_of_range("Trial " + std::to_string(number) + " not found.");
    const std::vector<detail::SqlRows> rows = db->transaction(
        Transaction::ReadOnly,
        {detail::trial_rows("t.study_id = $1 AND t.number = $2", {study_id, static_cast<std::int64_t>(number)})},
        [](const std::vector<detail::SqlRows>& found) { return detail::part_reads(found.at(0)); });
    auto found = detail::trials_of(rows, 0, 1, static_cast<int>(study_id));
    if (found.empty()) throw std::out_of_range("Trial " + std::to_string(number) + " not found.");
    return std::move(found.front().second);
}

}  // namespace tarvex
