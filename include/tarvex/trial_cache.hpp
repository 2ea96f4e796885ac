// The trials of one study as its storage last reported them, fetched incrementally.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "tarvex/storage.hpp"

namespace tarvex {

// What samplers and pruners read on every call without copying the study each time. Not
// thread-safe: its owner guards it.
class TrialCache {
public:
    // Fetches what was stored since the last refresh; returns those trials (new or replaced),
    // each with the version it replaces (null for a new one).
    struct Change {
        StoredTrial trial;
        StoredTrial replaced;
    };
    std::vector<Change> refresh(const Study& study);
    const std::map<int, StoredTrial>& trials() const { return by_id; }
    // The ids of the trials last reported as running: a sampler looking for pending trials need
    // not walk a long history.
    const std::set<int>& running() const { return running_ids; }

private:
    std::uint64_t cursor = 0;
    std::map<int, StoredTrial> by_id;
    std::set<int> running_ids;
};

}  // namespace tarvex
