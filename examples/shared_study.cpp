// A study kept in a database: run it again, or in several processes at once, and every run
// continues the same study. Usage: shared_study [URL] [TRIALS]
//   URL     sqlite:///path.db (default sqlite:///shared_study.db) or postgresql://user@host:port/db
//   TRIALS  trials this run adds (default 20)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "tarvex/database_storage.hpp"
#include "tarvex/samplers.hpp"

int main(int argc, char** argv) try {
    const std::string url = argc > 1 ? argv[1] : "sqlite:///shared_study.db";
    const int n_trials = argc > 2 ? std::atoi(argv[2]) : 20;

    const auto storage = tarvex::DatabaseStorage::open(url);
    tarvex::StudyRecord record;
    try {
        record = storage->load_study("branin");
    } catch (const std::out_of_range&) {
        record = storage->create_study("branin", {tarvex::StudyDirection::Minimize});
    }
    tarvex::Study study(record.directions, std::make_shared<tarvex::GPSampler>(tarvex::GPSamplerConfig{}), nullptr,
                        storage->study_storage(record));
    study.optimize(
        [](tarvex::Trial& trial) {  // Branin: minimum 0.397887 at (-pi, 12.275), (pi, 2.275), (9.42478, 2.475)
            const double x = trial.suggest_float("x", -5.0, 10.0, false, std::nullopt);
            const double y = trial.suggest_float("y", 0.0, 15.0, false, std::nullopt);
            const double a = y - 5.1 / (4 * 9.8696044) * x * x + 5 / 3.14159265 * x - 6;
            return a * a + 10 * (1 - 1 / (8 * 3.14159265)) * std::cos(x) + 10;
        },
        n_trials);
    const tarvex::Trial best = study.best_trial();
    std::printf("%s, study '%s': %zu trials\nbest trial %d: value %.6f at x = %.4f, y = %.4f\n", storage->url().c_str(),
                record.name.c_str(), study.trials().size(), best.trial_id, best.value(),
                std::get<double>(best.params.at("x")), std::get<double>(best.params.at("y")));
} catch (const std::exception& e) {
    std::fprintf(stderr, "shared_study: %s\n", e.what());
    return 1;
}
