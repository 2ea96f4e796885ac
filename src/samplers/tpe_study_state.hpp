// What a TPESampler keeps of one study: its trials as rows of coordinates under the newest
// distribution of each name, kept up to date as the history grows.
#pragma once

#include <cmath>
#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "param_coordinates.hpp"
#include "tarvex/history.hpp"
#include "tarvex/sampler.hpp"

namespace tarvex::detail {

// A configuration's coordinates, one per column; NaN where it holds no value the column's
// distribution can take.
std::vector<double> row_of(const std::vector<const Coord*>& columns, const ParamMap& config);
// Whether a row lacks a coordinate (a parameter its trial did not use).
bool has_gap(const std::vector<double>& row);
// The columns that the rows always hold together: those held by the same rows. flat: no row has
// a gap, the usual case.
std::vector<std::vector<std::size_t>> groups_of(const std::vector<const std::vector<double>*>& rows, std::size_t n_cols,
                                                bool flat);

// What a TPESampler keeps of one study: the newest distribution of each name and each stored
// trial's coordinates under them, computed once per version of the trial.
struct TPEStudyState : SamplerState {
    std::map<std::string, std::pair<int, Distribution>> newest;  // by name: (trial_id, distribution)
    std::map<int, StoredTrial> seen;                             // the version of each trial read
    std::unordered_map<int, std::vector<double>> rows;           // under the current newest
    std::size_t rows_with_gaps = 0;

    // A stored trial's row, computed on first use.
    const std::vector<double>& row(int id, const std::vector<const Coord*>& columns, const ParamMap& params) {
        auto [slot, added] = rows.try_emplace(id);
        if (added) {
            slot->second = row_of(columns, params);
            rows_with_gaps += has_gap(slot->second);
        }
        return slot->second;
    }

    void forget_row(int id) {
        if (const auto r = rows.find(id); r != rows.end()) {
            rows_with_gaps -= has_gap(r->second);
            rows.erase(r);
        }
    }

    struct Counts {
        std::size_t finished = 0;  // trials with parameters that have finished
        std::size_t pruned = 0;
    };

    // Takes in the history's new trials and trial versions (walking seen beside the history:
    // both are in id order and a history only grows).
    Counts update(const History& history);
};

}  // namespace tarvex::detail
