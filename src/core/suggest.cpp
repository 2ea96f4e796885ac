#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "../common/plain_text.hpp"
#include "sampling.hpp"
#include "tarvex/distributions.hpp"
#include "tarvex/history.hpp"
#include "tarvex/pruner.hpp"
#include "tarvex/storage.hpp"

namespace tarvex {
namespace {

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
                        throw std::invalid_argument("Enqueued value for '" + name + "' does not fit a 32-bit int.");
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

void require_plain_request(const std::string& name, const Distribution& dist) {
    const char* const call = suggest_call(dist);
    detail::require_plain_text(name, std::string(call) + ": the name");
    if (const auto* c = std::get_if<CategoricalDist>(&dist)) {
        for (const std::string& choice : c->choices) {
            detail::require_plain_text(choice, std::string(call) + "('" + name + "'): a choice");
        }
    }
}

}  // namespace

ParamValue Study::_suggest(Trial& trial, const std::string& name, const Distribution& dist) {
    require_plain_request(name, dist);
    ParamValue value;
    if (const auto fixed = trial.fixed_params.find(name); fixed != trial.fixed_params.end()) {
        value = convert_fixed(fixed->second, name, dist);
    } else {
        const std::scoped_lock lock(sampler_mutex);
        const ParamMap* proposal = propose_for(trial);
        const auto proposed = proposal ? proposal->find(name) : ParamMap::const_iterator{};
        std::optional<ParamValue> served;
        if (proposal && proposed != proposal->end()) served = produced(dist, proposed->second);
        value = served ? std::move(*served) : sampler->sample_independent(*this, trial, name, dist);
    }
    storage->record_param(trial.trial_id, name, dist, value);  // a storage that keeps running trials
    return value;
}

// The trial's proposal, asked of the sampler on the trial's first request. What the sampler
// throws leaves no entry: the next request asks again.
const ParamMap* Study::propose_for(const Trial& trial) {
    if (!sampler->proposes()) return nullptr;
    const auto [slot, added] = sampling->proposals.try_emplace(trial.trial_id);
    if (!added) return &slot->second;
    try {
        sampling->trials.refresh(*this);
        std::vector<const ParamMap*> pending;
        for (const auto& [id, proposal] : sampling->proposals) {
            if (id != trial.trial_id && !proposal.empty()) pending.push_back(&proposal);
        }
        // Trials the storage records as running (in any process) that proposed nothing here.
        for (const int id : sampling->trials.running()) {
            const StoredTrial& stored = sampling->trials.trials().at(id);
            if (id == trial.trial_id || stored->params.empty()) continue;
            const auto own = sampling->proposals.find(id);
            if (own == sampling->proposals.end() || own->second.empty()) pending.push_back(&stored->params);
        }
        const History history{directions, sampling->trials.trials(), pending};
        slot->second = sampler->propose(history, trial, sampling->state.get());
    } catch (...) {
        sampling->proposals.erase(slot);
        throw;
    }
    return &slot->second;
}

void Study::end_proposal(int trial_id) {
    if (!sampler->proposes()) return;
    const std::scoped_lock lock(sampler_mutex);
    sampling->proposals.erase(trial_id);
}

bool Study::_should_prune(const Trial& trial) const { return pruner ? pruner->should_prune(*this, trial) : false; }

PrunerState* Study::pruner_state(const IPruner& p) const { return pruner.get() == &p ? pruner_state_.get() : nullptr; }

const SamplerState* Study::sampler_state(const ISampler& s) const {
    return sampler.get() == &s ? sampling->state.get() : nullptr;
}

}  // namespace tarvex
