// What a database storage adds per trial, and how long reopening a large study takes.
// Usage: bench_storage_cost URL   (sqlite:///path.db or postgresql://...; the database should be empty)
//   per trial: trials of an objective suggesting three parameters, timed against the same run in
//   memory; the difference is the storage's cost.
//   load: a study of 10,000 finished trials (three parameters, one value) opened from a new
//   connection and read whole.
#include <chrono>
#include <cstdio>
#include <string>

#include "tarvex/database_storage.hpp"
#include "tarvex/samplers.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double objective(tarvex::Trial& t) {
    const double x = t.suggest_float("x", -5, 5, false, std::nullopt);
    const int n = t.suggest_int("n", 1, 100, true, 1);
    const std::string& c = t.suggest_categorical("c", {"adam", "sgd", "rmsprop"});
    return x * x + n + static_cast<double>(c.size());
}

double seconds_of(tarvex::Study& study, int n_trials) {
    const auto start = Clock::now();
    study.optimize(objective, n_trials);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_storage_cost URL\n");
        return 2;
    }
    const auto storage = tarvex::DatabaseStorage::open(argv[1]);
    constexpr int kTrials = 2000;
    tarvex::Study memory(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::RandomSampler>(1));
    tarvex::Study stored(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::RandomSampler>(1), nullptr,
                         storage->study_storage(storage->create_study("cost", {tarvex::StudyDirection::Minimize})));
    const double in_memory = seconds_of(memory, kTrials), in_database = seconds_of(stored, kTrials);
    std::printf(
        "%s\n  storage cost per trial, three parameters: %.3f ms (%d trials: %.2f s stored, %.3f s in memory)\n",
        storage->url().c_str(), (in_database - in_memory) / kTrials * 1e3, kTrials, in_database, in_memory);

    tarvex::Study big(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::RandomSampler>(2), nullptr,
                      storage->study_storage(storage->create_study("big", {tarvex::StudyDirection::Minimize})));
    big.optimize(objective, 10000);
    const auto start = Clock::now();
    const auto reader = tarvex::DatabaseStorage::open(argv[1]);
    tarvex::Study loaded(tarvex::StudyDirection::Minimize, nullptr, nullptr,
                         reader->study_storage(reader->load_study("big")));
    const std::size_t n = loaded.trials().size();
    std::printf("  open and read a study of %zu finished trials: %.3f s\n", n,
                std::chrono::duration<double>(Clock::now() - start).count());
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_storage_cost: %s\n", e.what());
    return 1;
}
