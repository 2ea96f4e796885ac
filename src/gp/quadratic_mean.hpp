// A convex separable quadratic, c + sum_k b_k x_k + a_k x_k^2 with every a_k >= 0, fitted to
// observations by least squares: the bowl that a Gaussian process's residuals then ripple over.
#pragma once

#include <Eigen/Core>

namespace tarvex::detail {

// The rows a fit in d coordinates needs: twice its 1 + 2 d terms.
inline Eigen::Index bowl_rows(Eigen::Index d) { return 4 * d + 2; }

// Coefficients [c, b_1..b_d, a_1..a_d], or an empty vector where there are fewer than
// bowl_rows(d). A curvature that would come out negative is left out (held at 0).
Eigen::VectorXd fit_bowl(const Eigen::MatrixXd& X, const Eigen::VectorXd& y);

// The bowl's values at the rows of X.
Eigen::VectorXd bowl_values(const Eigen::VectorXd& coef, const Eigen::MatrixXd& X);

// The bowl's value at x, and its gradient added into grad where given.
double bowl_at(const Eigen::VectorXd& coef, const Eigen::VectorXd& x, Eigen::VectorXd* grad = nullptr);

}  // namespace tarvex::detail
