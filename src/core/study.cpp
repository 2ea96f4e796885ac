#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "../common/plain_text.hpp"
#include "tarvex/pruners.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/storage.hpp"

namespace tarvex {
namespace {

// Studies are numbered 0, 1, 2, ... in construction order across the process.
std::int32_t next_study_id() {
    static std::atomic<std::int32_t> counter{0};
    return counter.fetch_add(1);
}

// An enqueued value is converted to the kind the distribution asks for where that is lossless
// or a plain rounding; any other mismatch is returned as it is and fails in the suggest call.
ParamValue convert_fixed(const ParamValue& v, const std::string& name, const Distribution& dist) {
    return std::visit(
        [&](const auto& d) -> ParamValue {
            using D = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<D, IntDist>) {
                if (const double* x = std::get_if<double>(&v)) {
                    const double r = std::round(*x);  // halves away from zero
                    if (!(r >= std::numeric_limits<int>::min() && r <= std::numeric_limits<int>::max())) {
                        throw std::invalid_argument("Enqueued value for '" + name +
                                                    "' does not fit a 32-bit int.");
                    }
                    return static_cast<int>(r);
                }
            } else if constexpr (std::is_same_v<D, FloatDist>) {
                if (const int* x = std::get_if<int>(&v)) return static_cast<double>(*x);
            }
            return v;
        },
        dist);
}

}  // namespace

Study::Study(std::vector<StudyDirection> directions_, std::shared_ptr<ISampler> sampler_,
             std::shared_ptr<IPruner> pruner_, std::shared_ptr<IStorage> storage_)
    : directions(std::move(directions_)),
      sampler(sampler_ ? std::move(sampler_) : std::make_shared<RandomSampler>(0)),
      pruner(std::move(pruner_)),
      storage(storage_ ? std::move(storage_) : std::make_shared<InMemoryStorage>()),
      study_id(next_study_id()) {
    // Checked last on purpose: a rejected construction has still consumed its identifier.
    if (directions.empty()) throw std::invalid_argument("Study requires at least one direction.");
}

Study::Study(StudyDirection direction, std::shared_ptr<ISampler> sampler_,
             std::shared_ptr<IPruner> pruner_, std::shared_ptr<IStorage> storage_)
    : Study(std::vector<StudyDirection>{direction}, std::move(sampler_), std::move(pruner_),
            std::move(storage_)) {}

Study::~Study() = default;

std::vector<Trial> Study::trials() const { return storage->get_all_trials(study_id); }

Trial Study::make_trial() {
    Trial trial(storage->create_trial(study_id), study_id);
    // The hooks act on the trial they are given, so a copy suggests into itself.
    trial.suggest_hook = [this](Trial& t, const std::string& name, const Distribution& dist) {
        return _suggest(t, name, dist);
    };
    if (pruner) trial.prune_hook = [this](const Trial& t) { return _should_prune(t); };
    if (storage->keeps_running_trials()) {
        trial.progress_hook = [this](const Trial& t, TrialProgress what, const std::string& key) {
            if (what == TrialProgress::Report) {
                const auto& [step, value] = t.intermediate_values.back();
                storage->record_report(t.trial_id, t.intermediate_values.size() - 1, step, value);
            } else {
                storage->record_user_attr(t.trial_id, key, t.user_attrs.at(key));
            }
        };
    }
    if (std::optional<ParamMap> fixed = storage->take_enqueued(study_id, trial.trial_id)) {
        trial.fixed_params = std::move(*fixed);
        return trial;
    }
    {
        const std::scoped_lock lock(queue_mutex);
        if (!enqueued_params.empty()) {
            trial.fixed_params = std::move(enqueued_params.front());
            enqueued_params.pop_front();
        }
    }
    return trial;
}

ParamValue Study::_suggest(Trial& trial, const std::string& name, const Distribution& dist) {
    const char* const call = dist.index() == 0 ? "suggest_float" : dist.index() == 1 ? "suggest_int" : "suggest_categorical";
    detail::require_plain_text(name, std::string(call) + ": the name");
    if (const auto* c = std::get_if<CategoricalDist>(&dist)) {
        for (const std::string& choice : c->choices) {
            detail::require_plain_text(choice, std::string(call) + "('" + name + "'): a choice");
        }
    }
    ParamValue value;
    if (const auto fixed = trial.fixed_params.find(name); fixed != trial.fixed_params.end()) {
        value = convert_fixed(fixed->second, name, dist);
    } else {
        const std::scoped_lock lock(sampler_mutex);
        value = sampler->sample_independent(*this, trial, name, dist);
    }
    storage->record_param(trial.trial_id, name, dist, value);  // a storage that keeps running trials
    return value;
}

bool Study::_should_prune(const Trial& trial) const {
    return pruner ? pruner->should_prune(*this, trial) : false;
}

}  // namespace tarvex
