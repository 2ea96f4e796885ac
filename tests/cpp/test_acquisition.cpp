#include <gtest/gtest.h>

#include <cmath>

#include "tarvex/gp.hpp"

using namespace tarvex;

namespace {
// The normal distribution through erf rather than the erfc the library uses.
double cdf(double z) { return 0.5 * (1 + std::erf(z / std::sqrt(2.0))); }
double pdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2 * M_PI); }

// A model with no data predicts mean 0 and the kernel variance everywhere.
GaussianProcess prior_model(double sigma) {
    GaussianProcess gp(make_kernel(KernelType::RBF, sigma, 1.0), 0.0, 0);
    gp.fit(Eigen::MatrixXd(0, 1), Eigen::VectorXd(0), false);
    return gp;
}
const VectorXd x0 = VectorXd::Zero(1);
}  // namespace

TEST(Acquisition, MatchesTheNormalDistribution) {
    const GaussianProcess unit = prior_model(1.0);
    EXPECT_NEAR(acq_ei(unit, x0, 0, 0), 0.3989422804014327, 1e-16);
    EXPECT_NEAR(acq_pi(unit, x0, 0, 0), 0.5, 1e-16);
    EXPECT_NEAR(acq_logei(unit, x0, 0, 0), std::log(0.3989422804014327), 1e-15);
    const GaussianProcess gp = prior_model(1.5);
    for (const double best : {-2.0, -0.3, 0.0, 0.8, 3.0}) {
        const double z = (best - 0.1) / 1.5;  // xi = 0.1
        EXPECT_NEAR(acq_ei(gp, x0, best, 0.1), 1.5 * (z * cdf(z) + pdf(z)), 1e-14);
        EXPECT_NEAR(acq_pi(gp, x0, best, 0.1), cdf(z), 1e-14);
        EXPECT_NEAR(acq_logei(gp, x0, best, 0.1), std::log(acq_ei(gp, x0, best, 0.1)), 1e-12);
        EXPECT_LT(acq_ei(gp, x0, best, 0.5), acq_ei(gp, x0, best, 0.1));
        EXPECT_LT(acq_pi(gp, x0, best, 0.5), acq_pi(gp, x0, best, 0.1));
    }
    EXPECT_DOUBLE_EQ(acq_ucb(gp, x0, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(acq_ucb(gp, x0, 4.0), 3.0);
}

TEST(Acquisition, LogEIStaysFiniteInTheTail) {
    const GaussianProcess unit = prior_model(1.0);
    EXPECT_EQ(acq_ei(unit, x0, -40, 0), 0.0);
    EXPECT_DOUBLE_EQ(acq_logei(unit, x0, -40, 0), -800 - 0.9189385332046727 - 2 * std::log(40.0));
    // The asymptotic branch starts at z = -6 and sits about 0.077 above the exact value there.
    const double exact = std::log(-6 * cdf(-6) + pdf(-6));
    EXPECT_NEAR(acq_logei(unit, x0, -6, 0) - exact, 0.077, 0.005);
    EXPECT_NEAR(acq_logei(unit, x0, -5.999, 0), std::log(acq_ei(unit, x0, -5.999, 0)), 1e-9);
    double previous = 0;
    for (double z = -5; z > -60; z -= 5) {
        const double v = acq_logei(unit, x0, z, 0);
        EXPECT_LT(v, previous);
        previous = v;
    }
}

TEST(Acquisition, CertainPredictionsAreSteps) {
    const GaussianProcess certain = prior_model(1e-15);
    EXPECT_EQ(acq_ei(certain, x0, 1, 0), 0.0);
    EXPECT_EQ(acq_logei(certain, x0, 1, 0), -INFINITY);
    EXPECT_EQ(acq_pi(certain, x0, 1, 0.5), 1.0);
    EXPECT_EQ(acq_pi(certain, x0, 0, 0), 0.0);
    EXPECT_EQ(acq_ucb(certain, x0, 10), std::sqrt(10 * 1e-30));
}

namespace {
// A model fitted to a bowl whose minimum is at centre.
GaussianProcess bowl(const VectorXd& centre, int n) {
    const int d = static_cast<int>(centre.size());
    std::mt19937_64 rng(3);
    Eigen::MatrixXd X(n, d);
    Eigen::VectorXd y(n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < d; ++j) X(i, j) = std::uniform_real_distribution<double>(0, 1)(rng);
        y[i] = (X.row(i).transpose() - centre).squaredNorm();
    }
    GaussianProcess gp(make_kernel(KernelType::Matern52, 1, 0.5), 1e-6, 0);
    gp.fit(X, y, false);
    return gp;
}
}  // namespace

TEST(AcquisitionOptimiser, FindsTheMinimumOfTheFittedMean) {
    AcqOptConfig cfg;
    cfg.acq = AcquisitionType::UCB;  // with beta 0 this maximises -mean
    cfg.beta = 0;
    cfg.auto_beta = false;
    cfg.n_cand = 256;
    for (const VectorXd& centre : {VectorXd(Eigen::VectorXd::Constant(1, 0.3)), VectorXd(Eigen::Vector3d(0.2, 0.5, 0.8))}) {
        const GaussianProcess gp = bowl(centre, 40);
        std::mt19937_64 rng(11);
        const VectorXd x = optimise_acquisition(gp, static_cast<int>(centre.size()), 0, 40, cfg, rng);
        EXPECT_LT((x - centre).norm(), 0.05) << x.transpose();
        // No candidate on a fine grid along each axis through x beats the refined point.
        for (int j = 0; j < x.size(); ++j) {
            for (double t = 0; t <= 1; t += 0.01) {
                VectorXd probe = x;
                probe[j] = t;
                EXPECT_GE(-gp.predict(x).first + 1e-9, -gp.predict(probe).first);
            }
        }
    }
}

TEST(AcquisitionOptimiser, CandidatesDrawsAndReproducibility) {
    const GaussianProcess gp = bowl(Eigen::VectorXd::Constant(33, 0.5), 10);
    AcqOptConfig cfg;
    cfg.n_cand = 7;
    cfg.n_refine = 0;
    std::mt19937_64 a(5), b(5), c(5);
    const VectorXd first = optimise_acquisition(gp, 33, 0, 10, cfg, a);
    EXPECT_EQ(first, optimise_acquisition(gp, 33, 0, 10, cfg, b));
    c.discard(33 + 7);  // one shift per dimension, one plain draw per candidate beyond 32 dimensions
    EXPECT_EQ(a(), c());
    EXPECT_TRUE((first.array() >= 0).all() && (first.array() <= 1).all());

    // In one dimension the candidates are the base-2 Halton points, shifted.
    const GaussianProcess line = bowl(Eigen::VectorXd::Constant(1, 0.9), 10);
    std::mt19937_64 shift_rng(8);
    const double s = std::ldexp(static_cast<double>(std::mt19937_64(8)()), -64);
    cfg.n_cand = 1;
    const double only = optimise_acquisition(line, 1, 0, 10, cfg, shift_rng)[0];
    EXPECT_DOUBLE_EQ(only, 0.5 + s - std::floor(0.5 + s));
    cfg.n_cand = 0;
    EXPECT_THROW(optimise_acquisition(line, 1, 0, 10, cfg, shift_rng), std::invalid_argument);
}
