#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/LU>
#include <cmath>
#include <random>

#include "../../src/gp/quadratic_mean.hpp"
#include "../../src/samplers/gp_principal_axes.hpp"
#include "../../src/samplers/gp_training.hpp"
#include "../../src/samplers/gp_trust_region.hpp"
#include "../../src/samplers/quadratic_step.hpp"
#include "stubs.hpp"
#include "tarvex/finite_difference.hpp"
#include "tarvex/gp.hpp"

using namespace tarvex;
using tarvex::testing::error_of;

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

// The normal distribution through erf rather than the erfc the library uses.
double cdf(double z) { return 0.5 * (1 + std::erf(z / std::sqrt(2.0))); }
double pdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2 * M_PI); }

// A model with no data: mean 0 and the kernel variance everywhere.
GaussianProcess prior_model(double sigma) {
    GaussianProcess gp(make_kernel(KernelType::RBF, sigma, 1.0), 0.0, 0);
    gp.fit(Eigen::MatrixXd(0, 1), Eigen::VectorXd(0), false);
    return gp;
}
}  // namespace

TEST(Kernels, MatchTheirClosedForms) {
    const double s5 = std::sqrt(5.0);
    EXPECT_DOUBLE_EQ(RBFKernel(1.0, 2.0).eval(Eigen::Vector2d(0, 0), Eigen::Vector2d(2, 0)), std::exp(-0.5));
    EXPECT_DOUBLE_EQ(Matern52Kernel(1.0, 1.0).eval(Eigen::Vector2d(0, 0), Eigen::Vector2d(0, 1)),
                     (1 + s5 + 5.0 / 3) * std::exp(-s5));
    Matern52Kernel ard(1.5, 1.0);  // each coordinate over its own squared lengthscale
    ard.set_params(Eigen::Vector3d(std::log(2.0), std::log(4.0), std::log(0.25)));
    const double t = std::sqrt(5 * (1.0 / 4.0 + 0.25 / 0.25));
    EXPECT_DOUBLE_EQ(ard.eval(Eigen::Vector2d(1, 0.5), Eigen::Vector2d(0, 0)),
                     2.0 * (1 + t + t * t / 3) * std::exp(-t));
    Eigen::MatrixXd X(3, 2);
    X << 0, 0, 0.5, 0.1, 0.9, 0.9;
    const Eigen::MatrixXd K = ard.matrix(X);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(K(i, j), ard.eval(X.row(i).transpose(), X.row(j).transpose()));
    EXPECT_EQ(error_of([] { make_kernel(static_cast<KernelType>(2), 1, 1); }), "Unknown kernel type.");
    EXPECT_EQ(error_of([&] { ard.set_params(Eigen::VectorXd::Zero(1)); }), "Matern52Kernel: expected >= 2 params.");
}

TEST(GaussianProcess, PosteriorAndLikelihoodMatchADenseSolve) {
    const SmallData data;
    const double var = 1.7, sq_ls = 0.3, noise = 0.01;
    GaussianProcess gp(std::make_unique<RBFKernel>(std::sqrt(var), std::sqrt(sq_ls)), noise, 0);
    gp.fit(data.X, data.y, false);
    const auto k = [&](const Eigen::VectorXd& a, const Eigen::VectorXd& b) {
        return var * std::exp(-0.5 * (a - b).squaredNorm() / sq_ls);
    };
    Eigen::MatrixXd K(5, 5);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) K(i, j) = k(data.X.row(i), data.X.row(j));
    K.diagonal().array() += noise + 1e-6;
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(K);
    for (const Eigen::Vector2d& q : {Eigen::Vector2d(0.3, 0.3), Eigen::Vector2d(1, 0)}) {
        Eigen::VectorXd kq(5);
        for (int i = 0; i < 5; ++i) kq[i] = k(data.X.row(i), q);
        const auto [mean, v] = gp.predict(q);
        EXPECT_NEAR(mean, kq.dot(lu.solve(data.y)), 1e-10);
        EXPECT_NEAR(v, var - kq.dot(lu.solve(kq)), 1e-10);
    }
    EXPECT_NEAR(gp.log_marginal_likelihood(),
                -0.5 * data.y.dot(lu.solve(data.y)) - 0.5 * std::log(lu.determinant()) - 2.5 * kLog2Pi, 1e-10);
    GaussianProcess unfitted(make_kernel(KernelType::Matern52, 1, 1), 1e-4, 0);
    EXPECT_EQ(error_of([&] { unfitted.predict(Eigen::VectorXd::Zero(2)); }), "GP not fitted.");
    EXPECT_EQ(error_of([&] { unfitted.predict_batch(Eigen::MatrixXd::Zero(1, 2)); }), "GP not fitted.");
    const auto [no_means, no_vars] = unfitted.predict_batch(Eigen::MatrixXd::Zero(0, 2));  // nothing asked
    EXPECT_EQ(no_means.size() + no_vars.size(), 0);
    EXPECT_EQ(error_of([&] { unfitted.fit(Eigen::MatrixXd::Zero(3, 2), Eigen::VectorXd::Zero(4), false); }),
              "GP::fit: X.rows() != y.size()");
}

TEST(GaussianProcess, CholeskyClimbsTheJitterLadderAndFitImprovesTheLikelihood) {
    const Eigen::Matrix2d needs = Eigen::Vector2d(1, -5e-4).asDiagonal();  // factorises at jitter 1e-3
    EXPECT_NEAR(utils::stable_cholesky(needs, 1e-6)(1, 1), std::sqrt(5e-4), 1e-15);
    EXPECT_EQ(error_of([] { utils::stable_cholesky(Eigen::Vector2d(1, -1).asDiagonal(), 1e-6); }),
              "stable_cholesky: matrix not positive definite after 6 attempts.");
    const SmallData data;
    GaussianProcess plain(make_kernel(KernelType::Matern52, 1, 1), 1e-4, 0),
        fitted(make_kernel(KernelType::Matern52, 1, 1), 1e-4, 2);
    plain.fit(data.X, data.y, false);
    fitted.use_priors = true;
    fitted.fit(data.X, data.y, true);
    EXPECT_GT(fitted.log_marginal_likelihood(), plain.log_marginal_likelihood());
    EXPECT_EQ(fitted.kernel->n_params(), 3);  // made ARD over the two inputs
    EXPECT_TRUE((fitted.kernel->get_params().array().abs() <= 8).all());
}

TEST(Gradients, MatchCentralDifferences) {
    const SmallData data;
    const auto close = [](const VectorXd& analytic, const VectorXd& numeric) {
        return (analytic - numeric).norm() <= 1e-5 * (1 + numeric.norm());
    };
    // The fit's loss, over every hyperparameter: isotropic and ARD, priors and a fitted noise.
    for (const KernelType type : {KernelType::RBF, KernelType::Matern52}) {
        for (const int lengthscales : {1, 2}) {
            GaussianProcess gp(make_kernel(type, 1, 1), 1e-3, 0);
            gp.use_priors = gp.fit_noise = true;
            if (lengthscales == 2) gp.kernel->set_input_dim(2);
            VectorXd theta(lengthscales + 2);
            theta.head(lengthscales + 1) = Eigen::Vector3d(0.3, -1.2, -0.4).head(lengthscales + 1);
            theta[lengthscales + 1] = std::log(1e-3);
            const VectorXd numeric = utils::central_difference(
                [&](const VectorXd& t) { return gp.fit_loss(t, data.X, data.y).first; }, theta, 1e-5);
            EXPECT_TRUE(close(gp.fit_loss(theta, data.X, data.y).second, numeric))
                << static_cast<int>(type) << lengthscales;
        }
    }
    // Predictions and every acquisition, at points where LogEI takes either branch.
    GaussianProcess gp(make_kernel(KernelType::Matern52, 1.2, 0.4), 1e-4, 0);
    gp.fit(data.X, data.y, false);
    for (const Eigen::Vector2d& x : {Eigen::Vector2d(0.3, 0.6), Eigen::Vector2d(0.9, 0.1)}) {
        const Prediction p = gp.predict_with_gradient(x);
        EXPECT_TRUE(
            close(p.dmean, utils::central_difference([&](const VectorXd& q) { return gp.predict(q).first; }, x, 1e-6)));
        EXPECT_TRUE(
            close(p.dvar, utils::central_difference([&](const VectorXd& q) { return gp.predict(q).second; }, x, 1e-6)));
        for (const auto type :
             {AcquisitionType::EI, AcquisitionType::LogEI, AcquisitionType::UCB, AcquisitionType::PI}) {
            for (const double best : {0.5, -20.0}) {
                const AcqParams params{type, best, 0.01, 3.0};
                const auto value = [&](const VectorXd& q) { return acq_with_gradient(gp, q, params).first; };
                EXPECT_TRUE(close(acq_with_gradient(gp, x, params).second, utils::central_difference(value, x, 1e-6)))
                    << static_cast<int>(type) << " best " << best;
            }
        }
    }
}

TEST(LBFGS, FindsTheRosenbrockValleyAndStopsOnTheBox) {
    const LBFGSObjective rosenbrock = [](const VectorXd& x) {
        const double a = 1 - x[0], b = x[1] - x[0] * x[0];
        return std::pair{a * a + 100 * b * b, VectorXd(Eigen::Vector2d(-2 * a - 400 * x[0] * b, 200 * b))};
    };
    const LBFGSResult r = utils::lbfgs_minimize(rosenbrock, Eigen::Vector2d(-0.6, 0.5), Eigen::Vector2d(-5, -5),
                                                Eigen::Vector2d(5, 5), {});
    EXPECT_TRUE(r.converged);
    EXPECT_NEAR(r.x[0], 1, 1e-4);
    EXPECT_NEAR(r.x[1], 1, 1e-4);
    const LBFGSObjective outside = [](const VectorXd& x) {
        const Eigen::Vector2d d = x - Eigen::Vector2d(2, -3);
        return std::pair{d.squaredNorm(), VectorXd(2 * d)};
    };
    const LBFGSResult edge =
        utils::lbfgs_minimize(outside, Eigen::Vector2d(5, 5), Eigen::Vector2d(0, -1), Eigen::Vector2d(1, 1), {});
    EXPECT_EQ(edge.x, Eigen::Vector2d(1, -1));
    EXPECT_EQ(edge.stop, LBFGSStop::Converged);
    LBFGSConfig loose;
    loose.rel_ftol = 1e-3;
    const LBFGSResult early = utils::lbfgs_minimize(rosenbrock, Eigen::Vector2d(-0.6, 0.5), Eigen::Vector2d(-5, -5),
                                                    Eigen::Vector2d(5, 5), loose);
    EXPECT_EQ(early.stop, LBFGSStop::SmallImprovement);
    EXPECT_LT(early.n_evals, r.n_evals);
}

TEST(Acquisition, MatchesTheNormalDistributionAndStaysFiniteInTheTail) {
    const GaussianProcess gp = prior_model(1.5);
    const VectorXd x0 = VectorXd::Zero(1);
    for (const double best : {-2.0, 0.0, 3.0}) {
        const double z = (best - 0.1) / 1.5;  // xi = 0.1
        EXPECT_NEAR(acq_ei(gp, x0, best, 0.1), 1.5 * (z * cdf(z) + pdf(z)), 1e-14);
        EXPECT_NEAR(acq_pi(gp, x0, best, 0.1), cdf(z), 1e-14);
        EXPECT_NEAR(acq_logei(gp, x0, best, 0.1), std::log(acq_ei(gp, x0, best, 0.1)), 1e-12);
    }
    EXPECT_DOUBLE_EQ(acq_ucb(gp, x0, 4.0), 3.0);
    const GaussianProcess unit = prior_model(1.0);
    EXPECT_EQ(acq_ei(unit, x0, -40, 0), 0.0);
    EXPECT_DOUBLE_EQ(acq_logei(unit, x0, -40, 0), -800 - 0.9189385332046727 - 2 * std::log(40.0));
}

TEST(AcquisitionOptimiser, FindsTheMinimumOfAFittedBowl) {
    const Eigen::Vector3d centre(0.2, 0.5, 0.8);
    std::mt19937_64 data_rng(3);
    Eigen::MatrixXd X(40, 3);
    Eigen::VectorXd y(40);
    for (int i = 0; i < 40; ++i) {
        for (int j = 0; j < 3; ++j) X(i, j) = std::uniform_real_distribution<double>(0, 1)(data_rng);
        y[i] = (X.row(i).transpose() - centre).squaredNorm();
    }
    GaussianProcess gp(make_kernel(KernelType::Matern52, 1, 0.5), 1e-6, 0);
    gp.fit(X, y, false);
    AcqOptConfig cfg;
    cfg.acq = AcquisitionType::UCB;  // with beta 0 it maximises -mean
    cfg.beta = 0;
    cfg.auto_beta = false;
    cfg.n_cand = 256;
    std::mt19937_64 rng(11), same(11);
    const VectorXd x = optimise_acquisition(gp, 3, 0, 40, cfg, rng);
    EXPECT_LT((x - centre).norm(), 0.05) << x.transpose();
    EXPECT_EQ(x, optimise_acquisition(gp, 3, 0, 40, cfg, same));
    // Only feasible points are scored and returned: here the first coordinate lives on a grid of tenths.
    cfg.snap = [](Eigen::Ref<VectorXd> p) { p[0] = std::round(p[0] * 10) / 10; };
    cfg.free = Eigen::Vector3d(0, 1, 1);
    const VectorXd on_grid = optimise_acquisition(gp, 3, 0, 40, cfg, rng);
    EXPECT_DOUBLE_EQ(on_grid[0], 0.2);
    EXPECT_LT((on_grid - centre).norm(), 0.05);
}

// A quadratic mean: fitted to rows in the middle of the square, the model predicts the bowl
// they lie in at the square's corner, closer than a constant mean does; predictions
// in a batch and their gradients include it; a curvature that would be negative is held at 0;
// and with too few rows there is none.
TEST(GaussianProcess, AQuadraticMeanFollowsTheBowlBeyondTheObservations) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> middle(0.3, 0.7);
    const auto bowl = [](const VectorXd& x) {
        return 4 * std::pow(x[0] - 0.5, 2) + std::pow(x[1] - 0.45, 2) + 0.002 * std::sin(30 * x[0]);
    };
    Eigen::MatrixXd X(40, 2);
    Eigen::VectorXd y(40);
    for (int i = 0; i < 40; ++i) {
        X.row(i) << middle(rng), middle(rng);
        y[i] = bowl(X.row(i).transpose());
    }
    GaussianProcess plain(make_kernel(KernelType::Matern52, 1, 0.5), 1e-6, 1);
    plain.fit(X, y, true);
    GaussianProcess curved(make_kernel(KernelType::Matern52, 1, 0.5), 1e-6, 1);
    curved.quadratic_mean = true;
    curved.fit(X, y, true);
    ASSERT_EQ(curved.mean_coef.size(), 5);
    EXPECT_NEAR(curved.mean_coef[3], 4.0, 0.1);
    EXPECT_NEAR(curved.mean_coef[4], 1.0, 0.1);
    const Eigen::Vector2d corner(0.0, 1.0);
    EXPECT_NEAR(curved.predict(corner).first, bowl(corner), 0.05 * bowl(corner));
    EXPECT_LT(std::abs(curved.predict(corner).first - bowl(corner)),
              std::abs(plain.predict(corner).first - bowl(corner)));
    EXPECT_GT(curved.log_marginal_likelihood(), plain.log_marginal_likelihood());

    Eigen::MatrixXd Q(2, 2);
    Q << 0.0, 1.0, 0.9, 0.2;
    const auto [means, vars] = curved.predict_batch(Q);
    for (int i = 0; i < 2; ++i) {
        const VectorXd q = Q.row(i).transpose();
        EXPECT_NEAR(means[i], curved.predict(q).first, 1e-9);
        EXPECT_NEAR(vars[i], curved.predict(q).second, 1e-9);
        const VectorXd numeric =
            utils::central_difference([&](const VectorXd& p) { return curved.predict(p).first; }, q, 1e-6);
        EXPECT_LT((curved.predict_with_gradient(q).dmean - numeric).norm(), 1e-5 * (1 + numeric.norm()));
    }

    Eigen::VectorXd saddle(40);
    for (int i = 0; i < 40; ++i) saddle[i] = std::pow(X(i, 0) - 0.5, 2) - std::pow(X(i, 1) - 0.5, 2);
    const VectorXd coef = tarvex::detail::fit_bowl(X, saddle);
    ASSERT_EQ(coef.size(), 5);
    EXPECT_GT(coef[3], 0.5);
    EXPECT_EQ(coef[4], 0.0);
    GaussianProcess few(make_kernel(KernelType::Matern52, 1, 0.5), 1e-6, 0);
    few.quadratic_mean = true;
    few.fit(X.topRows(9), y.head(9), false);  // a fit needs 4 d + 2 rows
    EXPECT_EQ(few.mean_coef.size(), 0);
}

// Wide-ranging values keep their order and become ln(y − min + c), c a tenth of median − min;
// values of one order are left alone.
TEST(GPTraining, WideRangingValuesAreWarpedOnALogScale) {
    Eigen::VectorXd wide(5);
    wide << 3, 1, 2, 1e6, 5;  // median − min = 2, range ~1e6
    Eigen::VectorXd warped = wide;
    tarvex::detail::warp_wide_values(warped);
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(warped[i], std::log(wide[i] - 1 + 0.2), 1e-12) << i;
    Eigen::VectorXd narrow(4);
    narrow << 1, 2, 3, 4;
    Eigen::VectorXd kept = narrow;
    tarvex::detail::warp_wide_values(kept);
    EXPECT_EQ(kept, narrow);
    // Half of them 0 (an objective that vanishes along an edge): the others' spread decides,
    // and a narrow one is left alone rather than turning the zeros into outliers at ln(1e-18).
    Eigen::VectorXd piled(7);
    piled << 0, 0, 0, 0, 0.5, 1, 2;
    kept = piled;
    tarvex::detail::warp_wide_values(kept);
    EXPECT_EQ(kept, piled);
    piled[6] = 100;  // wide among the others: warped with c a tenth of their median, 1
    kept = piled;
    tarvex::detail::warp_wide_values(kept);
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(kept[i], std::log(piled[i] + 0.1), 1e-12) << i;
    // Fewer ties set the warp off unless told they do not count: max − min 6.5 is over ten
    // times the median gap with the ties (0.6), not without them (0.7).
    Eigen::VectorXd few(7);
    few << 0, 0, 0.5, 0.6, 0.7, 0.8, 6.5;
    kept = few;
    tarvex::detail::warp_wide_values(kept, false);
    EXPECT_EQ(kept, few);
    tarvex::detail::warp_wide_values(kept);
    EXPECT_NE(kept, few);
}

// The trust region replayed from observations in order: warm-up trials only set the best, three
// improvements in a row double its side, max(4, d) failures in a row halve it, and it is centred
// on the best observation, clipped to the cube, with categorical coordinates left whole.
TEST(GPTraining, TheTrustRegionGrowsOnSuccessesShrinksOnFailuresAndLeavesChoicesFree) {
    tarvex::detail::TrainingData data;
    data.space.add("x", FloatDist{0.0, 1.0, false, std::nullopt});
    data.space.add("c", CategoricalDist{{"a", "b"}});
    const auto observe = [&](std::vector<double> ys) {
        data.X = Eigen::MatrixXd::Constant(static_cast<Eigen::Index>(ys.size()), 3, 0.5);
        data.y = Eigen::Map<Eigen::VectorXd>(ys.data(), static_cast<Eigen::Index>(ys.size()));
        data.real.assign(ys.size(), 1);
        data.X(static_cast<Eigen::Index>(std::min_element(ys.begin(), ys.end()) - ys.begin()), 0) = 0.95;
        return tarvex::detail::trust_region(data, 2);
    };
    EXPECT_DOUBLE_EQ(observe({5, 4}).length, 0.8);                          // warm-up only
    EXPECT_DOUBLE_EQ(observe({5, 4, 3, 2, 1}).length, 1.6);                 // three improvements
    EXPECT_DOUBLE_EQ(observe({5, 4, 9, 9, 9, 9}).length, 0.4);              // four failures (d = 3 < 4)
    EXPECT_DOUBLE_EQ(observe({5, 4, 9, 9, 9, 3, 9, 9, 9, 9}).length, 0.4);  // a success resets the count
    const auto region = observe({5, 4, 9, 9, 9, 9, 9, 9, 9, 9});
    EXPECT_DOUBLE_EQ(region.length, 0.2);
    EXPECT_NEAR(region.lower[0], 0.85, 1e-12);  // around the best, x = 0.95, clipped at 1
    EXPECT_DOUBLE_EQ(region.upper[0], 1.0);
    EXPECT_EQ(region.lower.tail(2), Eigen::Vector2d::Zero());  // the choice's one-hot block
    EXPECT_EQ(region.upper.tail(2), Eigen::Vector2d::Ones());
    std::vector<double> failing{5, 4};
    failing.resize(2 + 4 * 7, 9.0);  // seven halvings take it below 0.5^7: it starts again
    EXPECT_DOUBLE_EQ(observe(failing).length, 0.8);
}

// The Newton step on a fitted quadratic: the minimum of a rotated, ill-conditioned bowl from
// rows close to it, full or (with fewer rows, on a separable bowl) diagonal; kept inside the
// box; and none where the values have no minimum (a saddle) or the rows are too few.
TEST(QuadraticStep, StepsToTheMinimumOfAFittedBowl) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit(-1, 1);
    const int d = 4;
    const Eigen::VectorXd optimum = Eigen::VectorXd::LinSpaced(d, 0.4, 0.6);
    Eigen::MatrixXd R = Eigen::MatrixXd::NullaryExpr(d, d, [&] { return unit(rng); });
    R = Eigen::HouseholderQR<Eigen::MatrixXd>(R).householderQ();
    const Eigen::VectorXd weights = Eigen::VectorXd::LinSpaced(d, 1.0, 1e4);
    const auto rows_near = [&](int n, double spread, bool rotated) {
        Eigen::MatrixXd X(n, d);
        Eigen::VectorXd y(n);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < d; ++j) X(i, j) = optimum[j] + 1.5 * spread + spread * unit(rng);
            const Eigen::VectorXd u = rotated ? Eigen::VectorXd(R * (X.row(i).transpose() - optimum))
                                              : Eigen::VectorXd(X.row(i).transpose() - optimum);
            y[i] = 7 + u.cwiseAbs2().dot(weights);
        }
        return std::pair{X, y};
    };
    const Eigen::VectorXd cube_low = Eigen::VectorXd::Zero(d), cube_high = Eigen::VectorXd::Ones(d);
    for (const double spread : {0.1, 1e-4}) {
        const auto [X, y] = rows_near(40, spread, true);  // 15 terms: full from 30 rows
        Eigen::Index best = 0;
        y.minCoeff(&best);
        const auto step = tarvex::detail::quadratic_step(X, y, X.row(best).transpose(), cube_low, cube_high);
        ASSERT_TRUE(step.has_value()) << spread;
        EXPECT_LT((*step - optimum).norm(), 1e-6 * spread) << spread;
        // The rows lie above the minimum in every coordinate: kept to their box, the step stops
        // at its lowest corner.
        const Eigen::VectorXd low = X.colwise().minCoeff(), high = X.colwise().maxCoeff();
        const auto kept = tarvex::detail::quadratic_step(X, y, X.row(best).transpose(), low, high);
        ASSERT_TRUE(kept.has_value());
        EXPECT_LT((*kept - low).norm(), 1e-12);
    }
    const auto [Xs, ys] = rows_near(20, 0.1, false);  // 9 terms: diagonal from 18 rows
    const auto diagonal = tarvex::detail::quadratic_step(Xs, ys, Xs.row(0).transpose(), cube_low, cube_high);
    ASSERT_TRUE(diagonal.has_value());
    EXPECT_LT((*diagonal - optimum).norm(), 1e-8);
    EXPECT_FALSE(
        tarvex::detail::quadratic_step(Xs.topRows(17), ys.head(17), Xs.row(0).transpose(), cube_low, cube_high));
    Eigen::VectorXd saddle = ys;
    for (int i = 0; i < Xs.rows(); ++i) saddle[i] = std::pow(Xs(i, 0) - 0.5, 2) - std::pow(Xs(i, 1) - 0.5, 2);
    EXPECT_FALSE(tarvex::detail::quadratic_step(Xs, saddle, Xs.row(0).transpose(), cube_low, cube_high));
}

TEST(PrincipalAxes, TurnALineAcrossTheParametersOntoOneCoordinateAndKeepDistances) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> along(-0.3, 0.3), across(-1e-3, 1e-3);
    const Eigen::Vector3d direction = Eigen::Vector3d(1, -2, 0.5).normalized();
    Eigen::MatrixXd X(30, 3);
    for (int i = 0; i < X.rows(); ++i) {
        const Eigen::Vector3d offset{across(rng), across(rng), across(rng)};
        X.row(i) = (Eigen::Vector3d::Constant(0.5) + along(rng) * direction + offset).transpose();
    }
    const tarvex::detail::PrincipalAxes axes(X);
    const Eigen::MatrixXd V = axes.turned(X);
    // The line's spread lies along one turned coordinate; the others hold only the noise.
    const Eigen::VectorXd spread = (V.rowwise() - V.colwise().mean()).colwise().norm();
    Eigen::Index widest = 0;
    spread.maxCoeff(&widest);
    for (Eigen::Index j = 0; j < 3; ++j) {
        if (j != widest) {
            EXPECT_LT(spread[j], 0.02 * spread[widest]);
        }
    }
    for (int i = 1; i < X.rows(); ++i) {
        EXPECT_NEAR((V.row(i) - V.row(0)).norm(), (X.row(i) - X.row(0)).norm(), 1e-12);
        const Eigen::VectorXd x = X.row(i).transpose();
        EXPECT_LT((axes.unturned(axes.turned(x)) - x).norm(), 1e-12);
        EXPECT_LT((axes.turned(x) - V.row(i).transpose()).norm(), 1e-12);
    }
    // A turned point beyond the cube comes back clamped to it.
    const Eigen::VectorXd far = axes.unturned(Eigen::Vector3d::Constant(3.0));
    EXPECT_TRUE((far.array() >= 0).all() && (far.array() <= 1).all());
}
