// The cost of CMAESSampler per trial through ask and tell, and where it ends on two closed-form
// problems: a rotated-free 10-D ellipsoid and the 10-D Rosenbrock valley, 1,000 trials each;
// plain, separable, and with the surrogate ranking each generation.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tarvex/samplers.hpp"
#include "tarvex/study.hpp"

namespace {

constexpr int kDim = 10;
const std::string kNames[kDim] = {"x0", "x1", "x2", "x3", "x4", "x5", "x6", "x7", "x8", "x9"};

double ellipsoid(const std::vector<double>& x) {
    double sum = 0;
    for (int i = 0; i < kDim; ++i) sum += std::pow(1e6, i / (kDim - 1.0)) * (x[i] - 1) * (x[i] - 1);
    return sum;
}

double rosenbrock(const std::vector<double>& x) {
    double sum = 0;
    for (int i = 0; i + 1 < kDim; ++i) {
        sum += 100 * std::pow(x[i + 1] - x[i] * x[i], 2) + std::pow(1 - x[i], 2);
    }
    return sum;
}

void run(const char* label, double (*f)(const std::vector<double>&), int n_trials, bool separable,
         bool surrogate = false) {
    tarvex::CMAESSamplerConfig config;
    config.seed = 7;
    config.separable = separable;
    config.surrogate = surrogate;
    auto sampler = std::make_shared<tarvex::CMAESSampler>(config);
    tarvex::Study study(tarvex::StudyDirection::Minimize, sampler);
    std::vector<double> x(kDim);
    const auto start = std::chrono::steady_clock::now();
    double objective_seconds = 0;
    for (int n = 0; n < n_trials; ++n) {
        tarvex::Trial trial = study.ask();
        for (int i = 0; i < kDim; ++i) x[i] = trial.suggest_float(kNames[i], -5, 5, false, std::nullopt);
        const auto before = std::chrono::steady_clock::now();
        const double value = f(x);
        objective_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        study.tell(std::move(trial), tarvex::TrialState::Complete, {value});
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - objective_seconds;
    const tarvex::CMAESProgress p = sampler->progress(study);
    std::printf("CMAESSampler%s%s, %s 10-D, %d trials: %.1f us per ask+tell, best %.3g, %d restarts\n",
                separable ? " (separable)" : "", surrogate ? " (surrogate)" : "", label, n_trials,
                seconds * 1e6 / n_trials, study.best_value(), p.restarts);
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    run("ellipsoid", ellipsoid, n, false);
    run("ellipsoid", ellipsoid, n, true);
    run("Rosenbrock", rosenbrock, n, false);
    run("ellipsoid", ellipsoid, n, false, true);
    run("ellipsoid", ellipsoid, n, true, true);
    run("Rosenbrock", rosenbrock, n, false, true);
}
