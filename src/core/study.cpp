#include <atomic>
#include <stdexcept>

#include "sampling.hpp"
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
    sampling = std::make_unique<detail::Sampling>();
    sampling->state = sampler->make_state(*this);
    if (pruner) pruner_state_ = pruner->make_state(*this);
}

Study::Study(StudyDirection direction, std::shared_ptr<ISampler> sampler_, std::shared_ptr<IPruner> pruner_,
             std::shared_ptr<IStorage> storage_)
    : Study(std::vector<StudyDirection>{direction}, std::move(sampler_), std::move(pruner_), std::move(storage_)) {}

Study::~Study() = default;

std::vector<Trial> Study::trials() const {
    std::vector<Trial> all = storage->get_all_trials(study_id);
    for (Trial& t : all) t.study_id = study_id;  // a storage shared by processes numbers the study its own way
    return all;
}

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

}  // namespace tarvex
