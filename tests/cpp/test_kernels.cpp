#include <gtest/gtest.h>

#include <cmath>

#include "tarvex/gp.hpp"

using namespace tarvex;

TEST(Kernels, ValuesMatchTheirClosedForms) {
    const auto rbf = make_kernel(KernelType::RBF, 1.0, 1.0);
    const Eigen::Vector3d x(0.3, -1.0, 2.0);
    EXPECT_EQ(rbf->eval(x, x), 1.0);
    EXPECT_EQ(make_kernel(KernelType::RBF, 2.0, 1.0)->eval(x, x), 4.0);
    const RBFKernel wide(1.0, 2.0);
    EXPECT_DOUBLE_EQ(wide.eval(Eigen::Vector2d(0, 0), Eigen::Vector2d(2, 0)), std::exp(-0.5));
    const Matern52Kernel m(1.0, 1.0);
    const double s5 = std::sqrt(5.0);
    EXPECT_DOUBLE_EQ(m.eval(Eigen::Vector2d(0, 0), Eigen::Vector2d(0, 1)), (1 + s5 + 5.0 / 3) * std::exp(-s5));
    // ARD: each coordinate divided by its own squared lengthscale.
    Matern52Kernel ard(1.5, 1.0);
    ard.set_params(Eigen::Vector3d(std::log(2.0), std::log(4.0), std::log(0.25)));
    const double D = 1.0 / 4.0 + 0.25 / 0.25;
    const double t = std::sqrt(5 * D);
    EXPECT_DOUBLE_EQ(ard.eval(Eigen::Vector2d(1, 0.5), Eigen::Vector2d(0, 0)), 2.0 * (1 + t + t * t / 3) * std::exp(-t));
    EXPECT_EQ(m.name(), "Matern52");
    EXPECT_EQ(rbf->name(), "RBF");
    try {
        make_kernel(static_cast<KernelType>(2), 1, 1);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Unknown kernel type.");
    }
}

TEST(Kernels, ParametersLiveInLogSpaceAndFollowTheDimension) {
    RBFKernel k(1.0, 1.0);
    EXPECT_EQ(k.get_params(), Eigen::Vector2d::Zero());
    k.set_input_dim(3);
    EXPECT_EQ(k.get_params(), Eigen::Vector4d::Zero());
    EXPECT_EQ(k.n_params(), 4);
    k.set_params(Eigen::Vector3d(0, std::log(4.0), std::log(9.0)));
    k.set_input_dim(3);
    EXPECT_EQ(k.sq_lengthscales, Eigen::Vector3d(4, 4, 4));
    k.set_input_dim(0);
    k.set_input_dim(3);
    EXPECT_EQ(k.sq_lengthscales.size(), 3);
    k.set_input_dim(5);
    k.set_params(Eigen::Vector2d(std::log(2.0), std::log(3.0)));
    EXPECT_DOUBLE_EQ(k.variance, 2.0);
    ASSERT_EQ(k.sq_lengthscales.size(), 1);
    EXPECT_DOUBLE_EQ(k.sq_lengthscales[0], 3.0);
    for (const auto type : {KernelType::RBF, KernelType::Matern52}) {
        auto kernel = make_kernel(type, 1, 1);
        try {
            kernel->set_params(Eigen::VectorXd::Zero(1));
            ADD_FAILURE();
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), kernel->name() + "Kernel: expected >= 2 params.");
        }
    }
    EXPECT_THROW(k.set_params(Eigen::VectorXd::Zero(1)), std::invalid_argument);
    EXPECT_DOUBLE_EQ(k.variance, 2.0);  // unchanged by the rejected call
}

TEST(Kernels, MatricesAreSymmetricWithTheVarianceOnTheDiagonal) {
    Matern52Kernel k(1.3, 0.7);
    k.set_input_dim(2);
    Eigen::MatrixXd X(4, 2);
    X << 0, 0, 0.5, 0.1, 0.9, 0.9, 0.2, 0.7;
    const Eigen::MatrixXd K = k.matrix(X);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(K(i, i), 1.69);
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(K(i, j), K(j, i));
            EXPECT_DOUBLE_EQ(K(i, j), k.eval(X.row(i).transpose(), X.row(j).transpose()));
        }
    }
    const Eigen::VectorXd kv = k.vector(X, Eigen::Vector2d(0.5, 0.1));
    EXPECT_DOUBLE_EQ(kv[1], 1.69);
    EXPECT_DOUBLE_EQ(kv[0], K(0, 1));
    EXPECT_EQ(k.matrix(Eigen::MatrixXd(0, 2)).size(), 0);
    EXPECT_EQ(k.matrix(Eigen::MatrixXd::Zero(1, 2)), Eigen::MatrixXd::Constant(1, 1, k.variance));
}

TEST(Kernels, CloneIsIndependent) {
    RBFKernel k(1.0, 1.0);
    auto c = k.clone();
    c->set_params(Eigen::Vector3d(1, 2, 3));
    EXPECT_EQ(k.get_params(), Eigen::Vector2d::Zero());
    EXPECT_EQ(c->n_params(), 3);
    EXPECT_EQ(c->name(), "RBF");
}
