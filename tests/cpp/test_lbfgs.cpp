#include <gtest/gtest.h>

#include <cmath>

#include "tarvex/gp.hpp"

using namespace tarvex;

namespace {
std::pair<double, VectorXd> rosenbrock(const VectorXd& x) {
    const double a = 1 - x[0], b = x[1] - x[0] * x[0];
    return {a * a + 100 * b * b, Eigen::Vector2d(-2 * a - 400 * x[0] * b, 200 * b)};
}
const VectorXd box(double v) { return Eigen::Vector2d(v, v); }
}  // namespace

TEST(LBFGS, FindsTheRosenbrockValley) {
    const LBFGSResult r = utils::lbfgs_minimize(rosenbrock, Eigen::Vector2d(-0.6, 0.5), box(-5), box(5), {});
    EXPECT_TRUE(r.converged);
    EXPECT_NEAR(r.x[0], 1, 1e-4);
    EXPECT_NEAR(r.x[1], 1, 1e-4);
    EXPECT_LT(r.f, 1e-8);
    EXPECT_GT(r.n_iter, 10);
}

TEST(LBFGS, StopsOnTheBoxFaceNearestTheOutsideMinimum) {
    int calls = 0;
    const LBFGSObjective quad = [&](const VectorXd& x) {
        ++calls;
        EXPECT_TRUE((x.array() >= Eigen::Array2d(0, -1)).all() && (x.array() <= 1).all());
        const Eigen::Vector2d d = x - Eigen::Vector2d(2, -3);
        return std::pair{d.squaredNorm(), VectorXd(2 * d)};
    };
    const LBFGSResult r = utils::lbfgs_minimize(quad, Eigen::Vector2d(5, 5), Eigen::Vector2d(0, -1), box(1), {});
    EXPECT_TRUE(r.converged);
    EXPECT_EQ(r.x, Eigen::Vector2d(1, -1));
    EXPECT_GT(calls, 1);
}

TEST(LBFGS, NormalEndsKeepTheLastAcceptedPoint) {
    int calls = 0;
    const LBFGSObjective nan = [&](const VectorXd& x) {
        return std::pair{++calls == 1 ? 1.0 : NAN, VectorXd(VectorXd::Ones(x.size()))};
    };
    LBFGSResult r = utils::lbfgs_minimize(nan, Eigen::Vector2d(9, 0.5), box(0), box(1), {});
    EXPECT_EQ(r.x, Eigen::Vector2d(1, 0.5));
    EXPECT_EQ(r.n_iter, 0);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(calls, 26);  // the start and 25 trial points

    LBFGSConfig once;
    once.max_iter = 0;
    r = utils::lbfgs_minimize(rosenbrock, Eigen::Vector2d(-9, 0), box(-5), box(5), once);
    EXPECT_EQ(r.x, Eigen::Vector2d(-5, 0));
    EXPECT_EQ(r.f, rosenbrock(r.x).first);
    EXPECT_FALSE(r.converged);

    const LBFGSObjective empty_fn = [](const VectorXd&) { return std::pair{0.0, VectorXd()}; };
    r = utils::lbfgs_minimize(empty_fn, VectorXd(), VectorXd(), VectorXd(), {});
    EXPECT_TRUE(r.converged);
    EXPECT_EQ(r.n_iter, 0);
    EXPECT_THROW(utils::lbfgs_minimize(LBFGSObjective{}, box(0), box(0), box(1), {}), std::bad_function_call);

    LBFGSConfig no_memory;
    no_memory.history = 0;  // steepest descent, and no queue to overflow
    r = utils::lbfgs_minimize(rosenbrock, Eigen::Vector2d(0.5, 0.5), box(-5), box(5), no_memory);
    EXPECT_LT(r.f, rosenbrock(Eigen::Vector2d(0.5, 0.5)).first);
}
