// Uses the installed library the way a C++ program does: Eigen objects built here cross into the
// GP engine and back, and a GP study runs to a known optimum. Exits non-zero on a wrong result.
#include <tarvex/gp.hpp>
#include <tarvex/samplers.hpp>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

int main() {
    Eigen::MatrixXd X(12, 2);
    Eigen::VectorXd y(12);
    for (int i = 0; i < 12; ++i) {
        X.row(i) << (i % 4) / 3.0, (i / 4) / 2.0;
        y[i] = std::sin(3 * X(i, 0)) + X(i, 1);
    }
    tarvex::GaussianProcess gp(tarvex::make_kernel(tarvex::KernelType::Matern52, 1.0, 0.5), 1e-6, 1);
    gp.fit(X, y, true);
    const auto [mean, var] = gp.predict(X.row(5).transpose());
    const bool interpolates = std::abs(mean - y[5]) < 1e-2 && var >= 0;

    tarvex::GPSamplerConfig config;
    config.seed = 3;
    config.n_warmup = 5;
    config.n_cand = 256;
    tarvex::Study study(tarvex::StudyDirection::Minimize, std::make_shared<tarvex::GPSampler>(config));
    study.optimize(
        [](tarvex::Trial& t) {
            const double x = t.suggest_float("x", -3, 3, false, std::nullopt);
            return (x - 1.2) * (x - 1.2);
        },
        20);
    const double best = study.best_value();
    std::printf("interpolates %d, best value %.3g\n", interpolates, best);
    return interpolates && best < 0.05 ? 0 : 1;
}
