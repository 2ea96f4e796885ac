#include <algorithm>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>

#include "best_tracker.hpp"
#include "tarvex/storage.hpp"

namespace tarvex {

void IStorage::record_param(int, const std::string&, const Distribution&, const ParamValue&) {}
void IStorage::record_report(int, std::size_t, std::int32_t, double) {}
void IStorage::record_user_attr(int, const std::string&, const std::string&) {}
bool IStorage::enqueue(int, const ParamMap&) { return false; }
std::optional<ParamMap> IStorage::take_enqueued(int, int) { return std::nullopt; }

std::vector<StoredTrial> IStorage::trials_since(int study_id, std::uint64_t& cursor) const {
    std::vector<StoredTrial> out;
    for (Trial& t : get_all_trials(study_id)) out.push_back(std::make_shared<const Trial>(std::move(t)));
    cursor = 1;
    return out;
}

void IStorage::visit_trials(int study_id, const std::function<void(const Trial&)>& visit) const {
    for (const Trial& t : get_all_trials(study_id)) visit(t);
}

StoredTrial IStorage::best_trial(int study_id, StudyDirection direction) const {
    std::vector<Trial> all = get_all_trials(study_id);
    detail::BestTracker best;
    for (const Trial& t : all) best.add(t.trial_id, t.state, t.values, t.feasible());
    const auto id = best.best(direction);
    if (!id) return nullptr;
    const auto it = std::find_if(all.begin(), all.end(), [&](const Trial& t) { return t.trial_id == *id; });
    return std::make_shared<const Trial>(std::move(*it));
}

namespace {

// A parameter as kept: which name and distribution (an index into the storage's slots) and its
// value, a number or a text kept once per storage.
struct KeptParam {
    std::uint32_t slot;
    std::uint32_t kind;  // the ParamValue alternative: 0 double, 1 int, 2 text
    union {
        double number;
        int integer;
        std::uint32_t text;
    };
};

// The fields most trials leave empty, allocated only for those that use them.
struct Rare {
    ParamMap fixed_params;
    std::unordered_map<std::string, Distribution> other_distributions;  // for names not in params
    std::unordered_map<std::string, std::string> user_attrs;
    std::unordered_map<std::string, std::string> system_attrs;
    std::optional<std::string> fail_reason;
    std::vector<double> constraints;
};

struct Record {
    std::int32_t trial_id;
    std::int32_t study_id;
    TrialState state;
    std::uint32_t n_listed;  // the first params, those the trial's param_order lists
    std::vector<double> values;
    std::vector<KeptParam> params;  // in param_order, then the others
    std::vector<std::pair<std::int32_t, double>> intermediate_values;
    TimePoint datetime_start;
    TimePoint datetime_complete;
    std::unique_ptr<Rare> rare;
    Trial::SuggestHook suggest_hook;
    Trial::PruneHook prune_hook;

    bool feasible() const { return !rare || constraints_met(rare->constraints); }
};

}  // namespace

struct InMemoryStorage::State {
    struct StudyTrials {
        std::vector<const Record*> members;  // each stored trial once, in the order first stored
        std::vector<std::int32_t> history;   // trial_id of every store, in order
        detail::BestTracker best;
    };
    struct Slot {
        std::string name;
        std::optional<Distribution> dist;
    };

    std::unordered_map<std::int32_t, Record> records;
    std::unordered_map<std::int32_t, StudyTrials> studies;
    std::vector<Slot> slots;
    std::unordered_map<std::string, std::vector<std::uint32_t>> slots_by_name;
    std::deque<std::string> texts;  // a deque: the views below stay valid as it grows
    std::unordered_map<std::string_view, std::uint32_t> text_index;

    std::uint32_t slot_of(const std::string& name, const Distribution* dist) {
        auto& candidates = slots_by_name[name];
        for (const std::uint32_t s : candidates) {
            const auto& kept = slots[s].dist;
            if (dist ? kept && *kept == *dist : !kept) return s;
        }
        const auto s = static_cast<std::uint32_t>(slots.size());
        slots.push_back({name, dist ? std::optional<Distribution>(*dist) : std::nullopt});
        candidates.push_back(s);
        return s;
    }

    std::uint32_t text_of(const std::string& text) {
        if (const auto it = text_index.find(text); it != text_index.end()) return it->second;
        const auto t = static_cast<std::uint32_t>(texts.size());
        texts.push_back(text);
        text_index.emplace(texts.back(), t);
        return t;
    }

    KeptParam keep(const std::string& name, const ParamValue& value, const Trial& trial) {
        const auto dist = trial.distributions.find(name);
        KeptParam p{slot_of(name, dist == trial.distributions.end() ? nullptr : &dist->second),
                    static_cast<std::uint32_t>(value.index()),
                    {}};
        switch (value.index()) {
            case 0:
                p.number = std::get<double>(value);
                break;
            case 1:
                p.integer = std::get<int>(value);
                break;
            default:
                p.text = text_of(std::get<std::string>(value));
        }
        return p;
    }

    // Fills record from trial, the parameters in the trial's order; trial may be moved from.
    template <class T>
    void fill(Record& record, T&& trial) {
        record.trial_id = trial.trial_id;
        record.study_id = trial.study_id;
        record.state = trial.state;
        record.values = std::forward<T>(trial).values;
        const Trial::OrderedParams ordered = trial.ordered_params();
        record.params.clear();
        record.params.reserve(ordered.params.size());
        for (const auto* p : ordered.params) record.params.push_back(keep(p->first, p->second, trial));
        record.n_listed = static_cast<std::uint32_t>(ordered.n_listed);
        record.intermediate_values = std::forward<T>(trial).intermediate_values;
        record.datetime_start = trial.datetime_start;
        record.datetime_complete = trial.datetime_complete;
        record.rare.reset();
        bool other_dists = false;
        for (const auto& [name, dist] : trial.distributions) other_dists = other_dists || !trial.params.contains(name);
        if (!trial.fixed_params.empty() || !trial.user_attrs.empty() || !trial.system_attrs.empty() ||
            trial.fail_reason || !trial.constraints.empty() || other_dists) {
            record.rare = std::make_unique<Rare>();
            record.rare->fixed_params = std::forward<T>(trial).fixed_params;
            record.rare->user_attrs = std::forward<T>(trial).user_attrs;
            record.rare->system_attrs = std::forward<T>(trial).system_attrs;
            record.rare->fail_reason = std::forward<T>(trial).fail_reason;
            record.rare->constraints = std::forward<T>(trial).constraints;
            for (const auto& [name, dist] : trial.distributions) {
                if (!trial.params.contains(name)) record.rare->other_distributions.emplace(name, dist);
            }
        }
        record.suggest_hook = std::forward<T>(trial).suggest_hook;
        record.prune_hook = std::forward<T>(trial).prune_hook;
    }

    Trial trial_of(const Record& r) const {
        Trial t(r.trial_id, r.study_id);
        t.state = r.state;
        t.values = r.values;
        t.params.reserve(r.params.size());
        t.param_order.reserve(r.n_listed);
        for (const KeptParam& p : r.params) {
            const Slot& slot = slots[p.slot];
            switch (p.kind) {
                case 0:
                    t.params.emplace(slot.name, p.number);
                    break;
                case 1:
                    t.params.emplace(slot.name, p.integer);
                    break;
                default:
                    t.params.emplace(slot.name, texts[p.text]);
            }
            if (slot.dist) t.distributions.emplace(slot.name, *slot.dist);
            if (t.param_order.size() < r.n_listed) t.param_order.push_back(slot.name);
        }
        t.intermediate_values = r.intermediate_values;
        t.datetime_start = r.datetime_start;
        t.datetime_complete = r.datetime_complete;
        if (r.rare) {
            t.fixed_params = r.rare->fixed_params;
            for (const auto& [name, dist] : r.rare->other_distributions) t.distributions.emplace(name, dist);
            t.user_attrs = r.rare->user_attrs;
            t.system_attrs = r.rare->system_attrs;
            t.fail_reason = r.rare->fail_reason;
            t.constraints = r.rare->constraints;
        }
        t.suggest_hook = r.suggest_hook;
        t.prune_hook = r.prune_hook;
        return t;
    }

    template <class T>
    void store(T&& trial) {
        auto [it, added] = records.try_emplace(trial.trial_id);
        Record& record = it->second;
        if (!added) {
            StudyTrials& was = studies[record.study_id];
            was.best.forget(record.trial_id, record.state, record.values, record.feasible());
            if (record.study_id != trial.study_id) std::erase(was.members, &record);
        }
        const bool joins = added || record.study_id != trial.study_id;
        fill(record, std::forward<T>(trial));
        StudyTrials& study = studies[record.study_id];
        if (joins) study.members.push_back(&record);
        study.history.push_back(record.trial_id);
        study.best.add(record.trial_id, record.state, record.values, record.feasible());
    }

    const Record* best_of(int study_id, StudyDirection direction) {
        const auto it = studies.find(study_id);
        if (it == studies.end()) return nullptr;
        StudyTrials& study = it->second;
        if (study.best.needs_rebuild()) {
            study.best.reset();
            for (const Record* r : study.members) study.best.add(r->trial_id, r->state, r->values, r->feasible());
        }
        const auto id = study.best.best(direction);
        return id ? &records.at(*id) : nullptr;
    }
};

InMemoryStorage::InMemoryStorage() : state(std::make_unique<State>()) {}
InMemoryStorage::~InMemoryStorage() = default;

int InMemoryStorage::create_trial(int /*study_id*/) { return next_id.fetch_add(1); }

void InMemoryStorage::update_trial(const Trial& trial) {
    const std::scoped_lock lock(mutex);
    state->store(trial);
}

void InMemoryStorage::update_trial(Trial&& trial) {
    // A subclass that stores its own way overrides the copying update; it is not bypassed.
    if (typeid(*this) != typeid(InMemoryStorage)) return update_trial(static_cast<const Trial&>(trial));
    const std::scoped_lock lock(mutex);
    state->store(std::move(trial));
}

Trial InMemoryStorage::get_trial(int trial_id) const {
    {
        const std::scoped_lock lock(mutex);
        if (const auto it = state->records.find(trial_id); it != state->records.end())
            return state->trial_of(it->second);
    }
    throw std::out_of_range("Trial " + std::to_string(trial_id) + " not found.");
}

std::vector<Trial> InMemoryStorage::get_all_trials(int study_id) const {
    std::vector<Trial> out;
    const std::scoped_lock lock(mutex);
    const auto it = state->studies.find(study_id);
    if (it == state->studies.end()) return out;
    std::vector<const Record*> members = it->second.members;
    std::sort(members.begin(), members.end(),
              [](const Record* a, const Record* b) { return a->trial_id < b->trial_id; });
    out.reserve(members.size());
    for (const Record* r : members) out.push_back(state->trial_of(*r));
    return out;
}

void InMemoryStorage::visit_trials(int study_id, const std::function<void(const Trial&)>& visit) const {
    const std::scoped_lock lock(mutex);
    const auto it = state->studies.find(study_id);
    if (it == state->studies.end()) return;
    std::vector<const Record*> members = it->second.members;
    std::sort(members.begin(), members.end(),
              [](const Record* a, const Record* b) { return a->trial_id < b->trial_id; });
    for (const Record* r : members) visit(state->trial_of(*r));
}

int InMemoryStorage::n_trials(int study_id) const {
    const std::scoped_lock lock(mutex);
    const auto it = state->studies.find(study_id);
    return it == state->studies.end() ? 0 : static_cast<int>(it->second.members.size());
}

std::vector<StoredTrial> InMemoryStorage::trials_since(int study_id, std::uint64_t& cursor) const {
    const std::scoped_lock lock(mutex);
    const auto it = state->studies.find(study_id);
    if (it == state->studies.end() || cursor >= it->second.history.size()) return {};
    const auto& history = it->second.history;
    std::vector<StoredTrial> out;
    out.reserve(history.size() - cursor);
    for (std::size_t i = cursor; i < history.size(); ++i) {
        out.push_back(std::make_shared<const Trial>(state->trial_of(state->records.at(history[i]))));
    }
    cursor = history.size();
    return out;
}

StoredTrial InMemoryStorage::best_trial(int study_id, StudyDirection direction) const {
    const std::scoped_lock lock(mutex);
    const Record* best = state->best_of(study_id, direction);
    return best ? std::make_shared<const Trial>(state->trial_of(*best)) : nullptr;
}

}  // namespace tarvex
