// The best trial of a study, kept as trials are stored, so that asking for it costs no pass over
// the study. It answers what a pass in ascending trial_id would: the first Complete trial is the
// best until a later one is strictly better, so ties keep the earlier trial and a NaN never wins
// (and a first Complete trial holding NaN is never replaced). A trial that violates its
// constraints is passed over as if it were not Complete.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "tarvex/study.hpp"

namespace tarvex::detail {

class BestTracker {
public:
    // A trial of the study as stored; call forget with the version a new one replaces.
    void add(std::int32_t id, TrialState state, const std::vector<double>& values, bool feasible) {
        if (state != TrialState::Complete || !feasible) return;
        ++complete;
        if (values.size() != 1) {
            ++malformed;
            return consider_earliest(id, std::nan(""));
        }
        const double v = values.front();
        consider_earliest(id, v);
        if (std::isnan(v)) return;
        if (!lowest || v < lowest->value || (v == lowest->value && id < lowest->id)) lowest = Candidate{id, v};
        if (!highest || v > highest->value || (v == highest->value && id < highest->id)) highest = Candidate{id, v};
    }
    // A stored version that is replaced. Forgetting a trial that holds a record makes the tracker
    // stale: its owner adds every trial again (after reset).
    void forget(std::int32_t id, TrialState state, const std::vector<double>& values, bool feasible) {
        if (state != TrialState::Complete || !feasible) return;
        --complete;
        if (values.size() != 1) --malformed;
        const auto holds = [id](const std::optional<Candidate>& c) { return c && c->id == id; };
        if (holds(earliest) || holds(lowest) || holds(highest)) stale = true;
    }
    bool needs_rebuild() const { return stale; }
    void reset() { *this = BestTracker(); }

    // The best trial's identifier, if any trial is Complete.
    std::optional<std::int32_t> best(StudyDirection direction) const {
        if (complete == 0) return std::nullopt;
        if (complete == 1) return earliest->id;  // nothing was compared
        if (malformed > 0) {
            throw std::runtime_error(
                "value() is only valid for single-objective trials; use values() for multi-objective.");
        }
        if (std::isnan(earliest->value)) return earliest->id;
        return (direction == StudyDirection::Maximize ? highest : lowest)->id;
    }

private:
    struct Candidate {
        std::int32_t id;
        double value;
    };
    void consider_earliest(std::int32_t id, double v) {
        if (!earliest || id < earliest->id) earliest = Candidate{id, v};
    }

    std::optional<Candidate> earliest;  // the Complete trial of the lowest id
    std::optional<Candidate> lowest;    // the lowest non-NaN value, earliest on ties
    std::optional<Candidate> highest;   // the highest, earliest on ties
    std::int64_t complete = 0;
    std::int64_t malformed = 0;  // Complete trials without exactly one value
    bool stale = false;
};

}  // namespace tarvex::detail
