// GPSampler speed, as suggestion latency against one LLT of the same n x n kernel matrix, and a
// quick quality check (median simple regret over 10 seeds on Branin and Hartmann-6, against
// random search at the same budget). --latency runs the speed part alone.
#include <Eigen/Cholesky>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tarvex/random.hpp"
#include "tarvex/samplers.hpp"
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
    static constexpr double A[4][6] = {
        {10, 3, 17, 3.5, 1.7, 8}, {0.05, 10, 17, 0.1, 8, 14}, {3, 3.5, 1.7, 10, 17, 8}, {17, 8, 0.05, 10, 0.1, 14}};
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

// The samplers compared: random search, GPSampler with GPSamplerConfig{} (the better defaults)
// and GPSampler with the compiled Python module's keyword defaults (xi 0.003, noise 1e-4).
enum class Kind { Random, Gp, GpModuleDefaults };

std::shared_ptr<tarvex::ISampler> make_sampler(Kind kind, std::uint64_t seed) {
    if (kind == Kind::Random) return std::make_shared<tarvex::RandomSampler>(seed);
    tarvex::GPSamplerConfig config;
    config.seed = seed;
    if (kind == Kind::GpModuleDefaults) {
        config.xi = 0.003;
        config.noise_var = 1e-4;
    }
    return std::make_shared<tarvex::GPSampler>(config);
}

double median_best(const tarvex::Objective& f, int trials, Kind kind) {
    std::vector<double> best;
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        tarvex::Study study(tarvex::StudyDirection::Minimize, make_sampler(kind, seed));
        study.optimize(f, trials);
        best.push_back(study.best_value());
    }
    std::nth_element(best.begin(), best.begin() + 5, best.end());
    const double upper = best[5];
    std::nth_element(best.begin(), best.begin() + 4, best.end());
    return 0.5 * (best[4] + upper);
}

// A d-dimensional study holding n completed trials at random points (enqueued values bypass the
// sampler, so filling costs no fits).
std::unique_ptr<tarvex::Study> filled_study(int n, int d, const tarvex::Objective& f, tarvex::GPSamplerConfig config) {
    auto study =
        std::make_unique<tarvex::Study>(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::GPSampler>(config));
    std::mt19937_64 rng(9);
    for (int i = 0; i < n; ++i) {
        tarvex::ParamMap p;
        for (int j = 0; j < d; ++j) p[kNames[j]] = tarvex::utils::unit_draw(rng);
        study->enqueue_trial(p);
    }
    study->optimize(f, n);
    return study;
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One Eigen LLT of an n x n kernel matrix, the unit the suggestion times are measured in.
double llt_ms(int n) {
    Eigen::MatrixXd X = Eigen::MatrixXd::Random(n, 6);
    Eigen::MatrixXd K = tarvex::Matern52Kernel(1.0, 0.5).matrix(X);
    K.diagonal().array() += 1e-6;
    int calls = 0;
    const auto start = std::chrono::steady_clock::now();
    while (calls < 3 || ms_since(start) < 300) {
        const Eigen::LLT<Eigen::MatrixXd> llt(K);
        calls += llt.info() == Eigen::Success ? 1 : 1;
    }
    return ms_since(start) / calls;
}

// The first suggestion of a study holding n trials (no fit to start from), then the median of
// five that follow it, each after one more trial (the steady state of a running study).
void suggestion_latency(int n, int d, const tarvex::Objective& f) {
    tarvex::GPSamplerConfig config;
    config.seed = 3;
    auto study = filled_study(n, d, f, config);
    auto start = std::chrono::steady_clock::now();
    study->optimize(f, 1);
    const double cold = ms_since(start);
    std::vector<double> steady;
    for (int k = 0; k < 5; ++k) {
        start = std::chrono::steady_clock::now();
        study->optimize(f, 1);
        steady.push_back(ms_since(start));
    }
    std::nth_element(steady.begin(), steady.begin() + 2, steady.end());
    const double llt = llt_ms(n);
    std::printf("| %d | %d | %.1f | %.1f | %.2f | %.0f | %.0f |\n", n, d, cold, steady[2], llt, cold / llt,
                steady[2] / llt);
}

double sphere(Trial& t) {
    double sum = 0;
    for (int j = 0; j < 2; ++j) sum += std::pow(t.suggest_float(kNames[j], 0, 1, false, std::nullopt) - 0.3, 2);
    return sum;
}

// One suggestion in a study of 50 trials over a categorical with 1000 choices and a float.
double categorical_ms() {
    std::vector<std::string> choices;
    for (int i = 0; i < 1000; ++i) choices.push_back(std::to_string(i));
    const tarvex::Objective f = [&](Trial& t) {
        const std::string c = t.suggest_categorical("c", choices);
        return std::stoi(c) % 37 + t.suggest_float("x", 0, 1, false, std::nullopt);
    };
    tarvex::GPSamplerConfig config;
    config.seed = 3;
    tarvex::Study study(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::GPSampler>(config));
    std::mt19937_64 rng(9);
    for (int i = 0; i < 50; ++i) {
        study.enqueue_trial(
            {{"c", choices[tarvex::utils::bounded_draw(rng, 999)]}, {"x", tarvex::utils::unit_draw(rng)}});
    }
    study.optimize(f, 50);
    const auto start = std::chrono::steady_clock::now();
    study.optimize(f, 1);
    return ms_since(start);
}

}  // namespace

int main(int argc, char** argv) {
    const bool latency_only = argc > 1 && std::strcmp(argv[1], "--latency") == 0;
    std::printf(
        "| trials | d | first suggestion (ms) | steady suggestion (ms) | LLT (ms) | first / LLT | steady / LLT |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    suggestion_latency(100, 6, hartmann6);
    for (const int n : {500, 1000}) {
        suggestion_latency(n, 2, sphere);
        suggestion_latency(n, 6, hartmann6);
    }
    std::printf("1000-choice categorical, 50 trials: one suggestion %.1f ms\n", categorical_ms());
    if (latency_only) return 0;
    const double branin_opt = 0.397887357729738;
    const double hartmann_opt = -3.32236801141551;
    std::printf("median simple regret over 10 seeds | GPSampler | GPSampler, module defaults | RandomSampler\n");
    std::printf("Branin, 40 trials | %.2e | %.2e | %.2e\n", median_best(branin, 40, Kind::Gp) - branin_opt,
                median_best(branin, 40, Kind::GpModuleDefaults) - branin_opt,
                median_best(branin, 40, Kind::Random) - branin_opt);
    std::printf("Hartmann-6, 80 trials | %.2e | %.2e | %.2e\n", median_best(hartmann6, 80, Kind::Gp) - hartmann_opt,
                median_best(hartmann6, 80, Kind::GpModuleDefaults) - hartmann_opt,
                median_best(hartmann6, 80, Kind::Random) - hartmann_opt);
}
