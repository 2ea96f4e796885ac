// The GP engine's cost is covariance factorisations. For growing n in d = 6 this reports one
// fit with hyperparameter optimisation, the factorisations it performed, and the cost of one
// likelihood evaluation against the floor: a bare Eigen LLT of the same n x n matrix.
#include <Eigen/Cholesky>
#include <chrono>
#include <cstdio>

#include "tarvex/gp.hpp"
#include "tarvex/random.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double seconds_per_call(F&& f) {
    int calls = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    while (calls < 5 || elapsed.count() < 0.3) {
        f();
        ++calls;
        elapsed = Clock::now() - start;
    }
    return elapsed.count() / calls;
}

}  // namespace

int main() {
    constexpr int d = 6;
    std::mt19937_64 rng(1);
    std::printf("%5s %12s %16s %14s %12s %8s\n", "n", "fit (ms)", "factorisations", "eval (us)", "LLT (us)", "ratio");
    for (const int n : {25, 50, 100, 200, 400}) {
        Eigen::MatrixXd X(n, d);
        Eigen::VectorXd y(n);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < d; ++j) X(i, j) = tarvex::utils::unit_draw(rng);
            y[i] = std::sin(6 * X(i, 0)) + X.row(i).squaredNorm() + 0.1 * tarvex::utils::unit_draw(rng);
        }
        tarvex::GaussianProcess gp(tarvex::make_kernel(tarvex::KernelType::Matern52, 1, 1), 1e-4, 2);
        gp.use_priors = true;
        const auto fit_start = Clock::now();
        gp.fit(X, y, true);
        const double fit_ms = std::chrono::duration<double, std::milli>(Clock::now() - fit_start).count();
        const auto factorisations = gp.n_factorisations();

        volatile double sink = 0;  // keeps the timed work from being optimised away
        const double eval = seconds_per_call([&] {
            gp.recompute(X, y);
            sink = sink + gp.log_marginal_likelihood();
        });
        Eigen::MatrixXd K = gp.kernel->matrix(X);
        K.diagonal().array() += gp.noise_var + 1e-6;
        const double llt = seconds_per_call([&] {
            const Eigen::LLT<Eigen::MatrixXd> factor(K);
            sink = sink + factor.matrixLLT()(n - 1, n - 1);
        });
        std::printf("%5d %12.1f %16lld %14.1f %12.1f %8.2f\n", n, fit_ms, static_cast<long long>(factorisations),
                    eval * 1e6, llt * 1e6, eval / llt);
    }
}
