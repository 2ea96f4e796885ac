#include "tpe_study_state.hpp"

#include <algorithm>

namespace tarvex::detail {

std::vector<double> row_of(const std::vector<const Coord*>& columns, const ParamMap& config) {
    std::vector<double> row(columns.size(), std::nan(""));
    for (std::size_t j = 0; j < columns.size(); ++j) {
        const auto v = config.find(columns[j]->name);
        if (v == config.end()) continue;
        if (const auto u = to_coord(*columns[j], v->second)) row[j] = *u;
    }
    return row;
}

bool has_gap(const std::vector<double>& row) {
    return std::any_of(row.begin(), row.end(), [](double v) { return std::isnan(v); });
}

std::vector<std::vector<std::size_t>> groups_of(const std::vector<const std::vector<double>*>& rows, std::size_t n_cols,
                                                bool flat) {
    if (flat) {
        std::vector<std::size_t> all(n_cols);
        for (std::size_t j = 0; j < n_cols; ++j) all[j] = j;
        return n_cols ? std::vector<std::vector<std::size_t>>{std::move(all)} : std::vector<std::vector<std::size_t>>{};
    }
    std::map<std::vector<bool>, std::vector<std::size_t>> by_holders;
    for (std::size_t j = 0; j < n_cols; ++j) {
        std::vector<bool> holders(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) holders[i] = !std::isnan((*rows[i])[j]);
        by_holders[holders].push_back(j);
    }
    std::vector<std::vector<std::size_t>> groups;
    for (auto& [holders, group] : by_holders) groups.push_back(std::move(group));
    return groups;
}

TPEStudyState::Counts TPEStudyState::update(const History& history) {
    bool layout_changed = false;
    Counts counts;
    auto version = seen.begin();
    for (const auto& [id, t] : history.trials) {
        counts.finished += t->state != TrialState::Running && !t->params.empty();
        counts.pruned += t->state == TrialState::Pruned;
        while (version != seen.end() && version->first < id) ++version;
        if (version == seen.end() || version->first != id) version = seen.emplace_hint(version, id, nullptr);
        if (version->second == t) continue;
        version->second = t;
        forget_row(id);
        for (const auto& [name, dist] : t->distributions) {
            auto [slot, added] = newest.try_emplace(name, id, dist);
            if (added) {
                layout_changed = true;
            } else if (slot->second.first <= id && !(slot->second.second == dist)) {
                slot->second = {id, dist};
                layout_changed = true;
            }
        }
    }
    if (layout_changed) {
        rows.clear();
        rows_with_gaps = 0;
    }
    return counts;
}

}  // namespace tarvex::detail
