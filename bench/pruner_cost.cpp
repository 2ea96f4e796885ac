// Cost of should_prune against a study holding many finished trials with long curves: the first
// call at a step (which reads every report at that step), and a running study's steady state,
// where each call comes at the trial's next step and a new trial finishes every 100 calls.
// Usage: bench_pruner_cost [URL]: in memory, or with a study of 10,000 trials in that (empty) database.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "tarvex/database_storage.hpp"
#include "tarvex/pruners.hpp"
#include "tarvex/random.hpp"
#include "tarvex/storage.hpp"

namespace {

void fill(tarvex::Study& study, int n_trials, int n_steps, std::mt19937_64& rng) {
    for (int i = 0; i < n_trials; ++i) {
        tarvex::Trial t(study.storage->create_trial(study.study_id), study.study_id);
        t.state = tarvex::TrialState::Complete;
        t.datetime_start = std::chrono::system_clock::now();
        for (int s = 1; s <= n_steps; ++s) t.intermediate_values.emplace_back(s, tarvex::utils::unit_draw(rng));
        t.values = {t.intermediate_values.back().second};
        study.storage->update_trial(t);
    }
}

double first_call_us(tarvex::IPruner& pruner, const tarvex::Study& study, const tarvex::Trial& running) {
    const auto start = std::chrono::steady_clock::now();
    static_cast<void>(pruner.should_prune(study, running));
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

double steady_us(tarvex::IPruner& pruner, tarvex::Study& study, std::mt19937_64& rng) {
    constexpr int kCalls = 20000;
    tarvex::Trial running(study.storage->create_trial(study.study_id), study.study_id);
    for (int s = 1; s <= 100; ++s) {  // every column read once, as a run's first trials do
        running.intermediate_values.assign(1, {s, 0.5});
        static_cast<void>(pruner.should_prune(study, running));
    }
    std::chrono::steady_clock::duration pruning{};  // the calls only, not the trials stored between them
    for (int call = 0; call < kCalls; ++call) {
        running.intermediate_values.emplace_back(call % 100 + 1, tarvex::utils::unit_draw(rng));
        const auto start = std::chrono::steady_clock::now();
        static_cast<void>(pruner.should_prune(study, running));
        pruning += std::chrono::steady_clock::now() - start;
        if (call % 100 == 99) {
            fill(study, 1, 100, rng);
            running.intermediate_values.clear();
        }
    }
    return std::chrono::duration<double, std::micro>(pruning).count() / kCalls;
}

}  // namespace

int main(int argc, char** argv) try {
    std::mt19937_64 rng(5);
    std::shared_ptr<tarvex::DatabaseStorage> db;
    std::function<std::shared_ptr<tarvex::IStorage>(int)> storage_for = [](int) { return nullptr; };
    if (argc > 1) {
        db = tarvex::DatabaseStorage::open(argv[1]);
        std::printf("%s\n", db->url().c_str());
        storage_for = [&db](int n) {
            return db->study_storage(
                db->create_study("pruning " + std::to_string(n), {tarvex::StudyDirection::Minimize}));
        };
    }
    for (const int n_trials : argc > 1 ? std::vector{10000} : std::vector{1000, 10000}) {
        tarvex::Study study(tarvex::StudyDirection::Minimize, nullptr, nullptr, storage_for(n_trials));
        fill(study, n_trials, 100, rng);
        tarvex::Trial running(study.storage->create_trial(study.study_id), study.study_id);
        running.intermediate_values = {{1, 0.5}, {2, 0.5}, {3, 0.5}, {27, 0.5}};  // 27 is a rung
        tarvex::MedianPruner median(5, 0, 50.0);
        tarvex::HyperbandPruner hyperband(1, 81, 3.0, 0);
        std::printf("%5d trials x 100 values: first call at a step: MedianPruner %.0f us, HyperbandPruner %.0f us\n",
                    n_trials, first_call_us(median, study, running), first_call_us(hyperband, study, running));
        std::printf("%5d trials x 100 values: running study, per call: MedianPruner %.1f us, HyperbandPruner %.1f us\n",
                    n_trials, steady_us(median, study, rng), steady_us(hyperband, study, rng));
    }
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_pruner_cost: %s\n", e.what());
    return 1;
}
