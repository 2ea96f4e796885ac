// Cost of one should_prune call against a study holding many finished trials with long curves.
#include <chrono>
#include <cstdio>

#include "tarvex/pruners.hpp"
#include "tarvex/random.hpp"
#include "tarvex/storage.hpp"

namespace {

void fill(tarvex::Study& study, int n_trials, int n_steps, std::mt19937_64& rng) {
    for (int i = 0; i < n_trials; ++i) {
        tarvex::Trial t(study.storage->create_trial(study.study_id), study.study_id);
        t.state = tarvex::TrialState::Complete;
        for (int s = 1; s <= n_steps; ++s) t.intermediate_values.emplace_back(s, tarvex::utils::unit_draw(rng));
        t.values = {t.intermediate_values.back().second};
        study.storage->update_trial(t);
    }
}

double us_per_call(tarvex::IPruner& pruner, const tarvex::Study& study, const tarvex::Trial& running) {
    int calls = 0;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::duration::zero();
    while (calls < 3 || elapsed < std::chrono::milliseconds(300)) {
        static_cast<void>(pruner.should_prune(study, running));
        ++calls;
        elapsed = std::chrono::steady_clock::now() - start;
    }
    return std::chrono::duration<double, std::micro>(elapsed).count() / calls;
}

}  // namespace

int main() {
    std::mt19937_64 rng(5);
    for (const int n_trials : {1000, 10000}) {
        tarvex::Study study(tarvex::StudyDirection::Minimize);
        fill(study, n_trials, 100, rng);
        tarvex::Trial running(study.storage->create_trial(study.study_id), study.study_id);
        running.intermediate_values = {{1, 0.5}, {2, 0.5}, {3, 0.5}, {27, 0.5}};  // 27 is a rung
        tarvex::MedianPruner median(5, 0, 50.0);
        tarvex::HyperbandPruner hyperband(1, 81, 3.0, 0);
        std::printf("%5d trials x 100 values: MedianPruner %.0f us/call, HyperbandPruner %.0f us/call\n", n_trials,
                    us_per_call(median, study, running), us_per_call(hyperband, study, running));
    }
}
