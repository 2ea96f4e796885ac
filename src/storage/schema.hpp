// The tables of a tarvex database, their version, and the upgrade of older ones.
#pragma once

#include <cstdint>
#include <string>

#include "sql_connection.hpp"

namespace tarvex::detail {

// Version 2 added the workers whose heartbeats keep trials alive, parameter positions, system
// attributes and the queue of enqueued trials; version 3 trials' constraint values and the
// names of a study's objectives; version 4 studies' user attributes.
constexpr std::int64_t kSchemaVersion = 4;

// Trial states as the trials table keeps them (TrialState's values), named in the SQL.
inline const std::string kRunning = "0";
inline const std::string kComplete = "1";
inline const std::string kFailed = "3";

// Whether the database holds the tables; with create, makes them first when it does not. Tables
// of an older version are upgraded (under a lock, so that processes opening it at once upgrade it
// once) when may_write; a newer version, or an older one that cannot or may not be written here,
// is refused naming label.
bool open_schema(ISqlConnection& db, const std::string& label, bool create, bool may_write = true);

}  // namespace tarvex::detail
