// GPSampler quality (median simple regret over 10 seeds on Branin and Hartmann-6, against
// random search at the same budget) and the latency of one recommendation in 6-D.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tarvex/samplers.hpp"
#include "tarvex/random.hpp"
#include "tarvex/study.hpp"

namespace {

using tarvex::Trial;

double branin(Trial& t) {
    const double x = t.suggest_float("x", -5, 10, false, std::nullopt);
    const double y = t.suggest_float("y", 0, 15, false, std::nullopt);
    const double b = 5.1 / (4 * M_PI * M_PI), c = 5 / M_PI, s = 10, f = 1 / (8 * M_PI);
    return std::pow(y - b * x * x + c * x - 6, 2) + s * (1 - f) * std::cos(x) + s;
}

const std::array<std::string, 6> kNames = {"x0", "x1", "x2", "x3", "x4", "x5"};

double hartmann6(Trial& t) {
    static constexpr double A[4][6] = {{10, 3, 17, 3.5, 1.7, 8}, {0.05, 10, 17, 0.1, 8, 14},
                                       {3, 3.5, 1.7, 10, 17, 8}, {17, 8, 0.05, 10, 0.1, 14}};
    static constexpr double P[4][6] = {{0.1312, 0.1696, 0.5569, 0.0124, 0.8283, 0.5886},
                                       {0.2329, 0.4135, 0.8307, 0.3736, 0.1004, 0.9991},
                                       {0.2348, 0.1451, 0.3522, 0.2883, 0.3047, 0.6650},
                                       {0.4047, 0.8828, 0.8732, 0.5743, 0.1091, 0.0381}};
    static constexpr double alpha[4] = {1.0, 1.2, 3.0, 3.2};
    std::array<double, 6> x{};
    for (int j = 0; j < 6; ++j) x[j] = t.suggest_float(kNames[j], 0, 1, false, std::nullopt);
    double sum = 0;
    for (int i = 0; i < 4; ++i) {
        double inner = 0;
        for (int j = 0; j < 6; ++j) inner += A[i][j] * (x[j] - P[i][j]) * (x[j] - P[i][j]);
        sum += alpha[i] * std::exp(-inner);
    }
    return -sum;
}

std::shared_ptr<tarvex::ISampler> make_sampler(bool gp, std::uint64_t seed) {
    if (!gp) return std::make_shared<tarvex::RandomSampler>(seed);
    tarvex::GPSamplerConfig config;
    config.seed = seed;
    return std::make_shared<tarvex::GPSampler>(config);
}

double median_best(const tarvex::Objective& f, int trials, bool gp) {
    std::vector<double> best;
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        tarvex::Study study(tarvex::StudyDirection::Minimize, make_sampler(gp, seed));
        study.optimize(f, trials);
        best.push_back(study.best_value());
    }
    std::nth_element(best.begin(), best.begin() + 5, best.end());
    const double upper = best[5];
    std::nth_element(best.begin(), best.begin() + 4, best.end());
    return 0.5 * (best[4] + upper);
}

// One recommendation with n completed 6-D trials already stored.
double recommendation_ms(int n) {
    tarvex::GPSamplerConfig config;
    config.seed = 3;
    tarvex::Study study(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::GPSampler>(config));
    std::mt19937_64 rng(9);
    for (int i = 0; i < n; ++i) {  // fixed values bypass the sampler, so filling costs no fits
        tarvex::ParamMap p;
        for (int j = 0; j < 6; ++j) p[kNames[j]] = tarvex::utils::unit_draw(rng);
        study.enqueue_trial(p);
    }
    study.optimize(hartmann6, n);
    const auto start = std::chrono::steady_clock::now();
    study.optimize(hartmann6, 1);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool latency_only = argc > 1 && std::strcmp(argv[1], "--latency") == 0;
    for (const int n : {100, 300}) std::printf("recommendation with %d completed 6-D trials: %.1f ms\n", n, recommendation_ms(n));
    if (latency_only) return 0;
    const double branin_opt = 0.397887357729738;
    const double hartmann_opt = -3.32236801141551;
    std::printf("Branin, 40 trials, median simple regret: GPSampler %.4f, RandomSampler %.4f\n",
                median_best(branin, 40, true) - branin_opt, median_best(branin, 40, false) - branin_opt);
    std::printf("Hartmann-6, 80 trials, median best value (optimum %.4f): GPSampler %.4f, RandomSampler %.4f\n",
                hartmann_opt, median_best(hartmann6, 80, true), median_best(hartmann6, 80, false));
}
