#include <gtest/gtest.h>

#include <Eigen/LU>
#include <cmath>

#include "tarvex/gp.hpp"

using namespace tarvex;

namespace {
constexpr double kLog2Pi = 1.8378770664093453;

// Five points in the unit square and their values.
struct SmallData {
    Eigen::MatrixXd X{5, 2};
    Eigen::VectorXd y{5};
    SmallData() {
        X << 0.1, 0.2, 0.4, 0.9, 0.5, 0.5, 0.8, 0.3, 0.95, 0.95;
        y << 0.3, -1.2, 0.4, 2.0, 0.7;
    }
};

// k(a, b) of an isotropic RBF kernel written out directly.
double rbf(const Eigen::VectorXd& a, const Eigen::VectorXd& b, double var, double sq_ls) {
    return var * std::exp(-0.5 * (a - b).squaredNorm() / sq_ls);
}
}  // namespace

TEST(GaussianProcess, PosteriorMatchesADenseSolve) {
    const SmallData data;
    const double var = 1.7, sq_ls = 0.3, noise = 0.01;
    GaussianProcess gp(std::make_unique<RBFKernel>(std::sqrt(var), std::sqrt(sq_ls)), noise, 0);
    gp.fit(data.X, data.y, false);

    Eigen::MatrixXd K(5, 5);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) K(i, j) = rbf(data.X.row(i), data.X.row(j), var, sq_ls);
    K.diagonal().array() += noise + 1e-6;
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(K);
    for (const Eigen::Vector2d& q : {Eigen::Vector2d(0.3, 0.3), Eigen::Vector2d(0.4, 0.9), Eigen::Vector2d(1, 0)}) {
        Eigen::VectorXd k(5);
        for (int i = 0; i < 5; ++i) k[i] = rbf(data.X.row(i), q, var, sq_ls);
        const auto [mean, v] = gp.predict(q);
        EXPECT_NEAR(mean, k.dot(lu.solve(data.y)), 1e-10);
        EXPECT_NEAR(v, var - k.dot(lu.solve(k)), 1e-10);
    }
    const double lml = -0.5 * data.y.dot(lu.solve(data.y)) - 0.5 * std::log(lu.determinant()) - 2.5 * kLog2Pi;
    EXPECT_NEAR(gp.log_marginal_likelihood(), lml, 1e-10);
    const auto [means, vars] = gp.predict_batch(data.X);
    EXPECT_NEAR(means[1], gp.predict(data.X.row(1).transpose()).first, 1e-15);
    EXPECT_EQ(vars.size(), 5);
}

TEST(GaussianProcess, OnePointAndFarAway) {
    GaussianProcess gp(make_kernel(KernelType::RBF, 1, 1), 0.0, 0);
    gp.fit(Eigen::MatrixXd::Constant(1, 1, 0.5), Eigen::VectorXd::Constant(1, 2.0), false);
    const auto [m0, v0] = gp.predict(Eigen::VectorXd::Constant(1, 0.5));
    EXPECT_NEAR(m0, 2.0 / (1 + 1e-6), 1e-14);
    EXPECT_NEAR(v0, 1 - 1 / (1 + 1e-6), 1e-14);
    EXPECT_GT(v0, 0);
    const auto [mf, vf] = gp.predict(Eigen::VectorXd::Constant(1, 50.0));
    EXPECT_NEAR(mf, 0, 1e-12);
    EXPECT_NEAR(vf, 1, 1e-12);
    // Zero targets: only the determinant and constant terms remain.
    gp.fit(Eigen::MatrixXd::Constant(2, 1, 0.5), Eigen::VectorXd::Zero(2), false);  // duplicate rows factorise
    EXPECT_DOUBLE_EQ(gp.log_marginal_likelihood(), -gp.L.diagonal().array().log().sum() - kLog2Pi);
}

TEST(GaussianProcess, RefusesBadInputAndUnfittedQueries) {
    GaussianProcess gp(make_kernel(KernelType::Matern52, 1, 1), 1e-4, 0);
    EXPECT_EQ(gp.log_marginal_likelihood(), -INFINITY);
    try {
        gp.predict(Eigen::VectorXd::Zero(2));
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "GP not fitted.");
    }
    EXPECT_EQ(gp.predict_batch(Eigen::MatrixXd(0, 2)).first.size(), 0);
    try {
        gp.fit(Eigen::MatrixXd::Zero(3, 2), Eigen::VectorXd::Zero(4), false);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "GP::fit: X.rows() != y.size()");
    }
    Eigen::VectorXd y = Eigen::VectorXd::Zero(3);
    y[1] = NAN;
    EXPECT_THROW(gp.fit(Eigen::MatrixXd::Zero(3, 2), y, true), std::invalid_argument);
    Eigen::MatrixXd X = Eigen::MatrixXd::Zero(3, 2);
    X(2, 0) = INFINITY;
    EXPECT_THROW(gp.fit(X, Eigen::VectorXd::Zero(3), false), std::invalid_argument);
    EXPECT_FALSE(gp.fitted);
}

TEST(StableCholesky, ClimbsTheJitterLadder) {
    // Positive semidefinite: the first jitter suffices.
    const Eigen::Matrix2d singular = Eigen::Matrix2d::Ones();
    const Eigen::MatrixXd L = utils::stable_cholesky(singular, 1e-6);
    EXPECT_TRUE((L * L.transpose()).isApprox(singular + 1e-6 * Eigen::Matrix2d::Identity(), 1e-12));
    EXPECT_EQ(L(0, 1), 0.0);
    // Needs 1e-3: the fourth attempt.
    const Eigen::Matrix2d needs = Eigen::Vector2d(1, -5e-4).asDiagonal();
    EXPECT_NEAR(utils::stable_cholesky(needs, 1e-6)(1, 1), std::sqrt(5e-4), 1e-15);
    const Eigen::Matrix2d indefinite = Eigen::Vector2d(1, -1).asDiagonal();
    try {
        utils::stable_cholesky(indefinite, 1e-6);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "stable_cholesky: matrix not positive definite after 6 attempts.");
    }
    EXPECT_EQ(utils::stable_cholesky(Eigen::MatrixXd(0, 0), 1e-6).size(), 0);
}

TEST(KernelFit, ImprovesTheLikelihoodReproduciblyWithinBounds) {
    const SmallData data;
    const auto fitted = [&](bool fit_noise, int restarts) {
        auto gp = std::make_unique<GaussianProcess>(make_kernel(KernelType::Matern52, 1, 1), 1e-4, restarts);
        gp->use_priors = true;
        gp->fit_noise = fit_noise;
        gp->fit(data.X, data.y, true);
        return gp;
    };
    GaussianProcess plain(make_kernel(KernelType::Matern52, 1, 1), 1e-4, 0);
    plain.fit(data.X, data.y, false);
    const auto a = fitted(false, 2);
    const auto b = fitted(false, 2);
    EXPECT_EQ(a->kernel->get_params(), b->kernel->get_params());
    EXPECT_GT(a->log_marginal_likelihood(), plain.log_marginal_likelihood());
    EXPECT_EQ(a->noise_var, 1e-4);
    EXPECT_EQ(a->kernel->n_params(), 3);  // made ARD over the two inputs
    EXPECT_TRUE((a->kernel->get_params().array().abs() <= 8).all());
    const auto noisy = fitted(true, 1);
    EXPECT_GE(noisy->noise_var, 1e-8);
    EXPECT_LE(noisy->noise_var, 1.0);
    const auto none = fitted(false, -1);  // no search: the starting hyperparameters stay
    EXPECT_EQ(none->kernel->get_params(), Eigen::Vector3d::Zero());
    EXPECT_NEAR(none->log_marginal_likelihood(), plain.log_marginal_likelihood(), 1e-12);
}
