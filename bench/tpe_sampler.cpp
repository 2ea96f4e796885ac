// The cost of one TPESampler proposal as a study grows: a 10-D bowl, studies of 1,000 and
// 10,000 trials, the mean time of the last 100 trials (each one proposal and ten suggestions).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tarvex/samplers.hpp"
#include "tarvex/study.hpp"

namespace {

const std::string kNames[10] = {"x0", "x1", "x2", "x3", "x4", "x5", "x6", "x7", "x8", "x9"};

double bowl(tarvex::Trial& t) {
    double sum = 0;
    for (int i = 0; i < 10; ++i) {
        const double x = t.suggest_float(kNames[i], -5, 5, false, std::nullopt);
        sum += (x - 1) * (x - 1);
    }
    return sum;
}

void run(int n_trials) {
    tarvex::TPESamplerConfig config;
    config.seed = 3;
    tarvex::Study study(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::TPESampler>(config));
    study.optimize(bowl, n_trials - 100);
    const auto start = std::chrono::steady_clock::now();
    study.optimize(bowl, 100);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("TPESampler, 10-D, at %d trials: %.3f ms per trial, best %.4g\n", n_trials, seconds * 10,
                study.best_value());
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) run(std::atoi(argv[i]));
    if (argc == 1) {
        run(1000);
        run(10000);
    }
}
