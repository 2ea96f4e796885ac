// Random search on a shifted sphere whose minimum, 0, lies at x = 1.5, y = -2, n = 3.
#include <cstdio>

#include "tarvex/samplers.hpp"
#include "tarvex/study.hpp"

int main() {
    tarvex::Study study(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::RandomSampler>(42));
    study.optimize(
        [](tarvex::Trial& trial) {
            const double x = trial.suggest_float("x", -5.0, 5.0, false, std::nullopt);
            const double y = trial.suggest_float("y", -5.0, 5.0, false, std::nullopt);
            const int n = trial.suggest_int("n", 0, 10, false, 1);
            return (x - 1.5) * (x - 1.5) + (y + 2.0) * (y + 2.0) + (n - 3) * (n - 3);
        },
        2000);
    const tarvex::Trial best = study.best_trial();
    std::printf("trials: %zu\nbest trial %d: value %.6f\n", study.trials().size(), best.trial_id, best.value());
    std::printf("  x = %.4f (optimum 1.5)\n  y = %.4f (optimum -2)\n  n = %d (optimum 3)\n",
                std::get<double>(best.params.at("x")), std::get<double>(best.params.at("y")),
                std::get<int>(best.params.at("n")));
}
