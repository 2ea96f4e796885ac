#include "quadratic_mean.hpp"

#include <Eigen/QR>
#include <numeric>
#include <vector>

#include "../samplers/quadratic_step.hpp"

namespace tarvex::detail {

Eigen::VectorXd fit_bowl(const Eigen::MatrixXd& X, const Eigen::VectorXd& y) {
    const Eigen::Index n = X.rows(), d = X.cols();
    if (d == 0 || n < 4 * d + 2) return {};
    // Active-set least squares: the most negative curvature leaves the fit until none is left.
    const Eigen::MatrixXd design = quadratic_design(X, diagonal_terms(d));
    std::vector<char> curved(static_cast<std::size_t>(d), 1);
    Eigen::VectorXd coef = Eigen::VectorXd::Zero(1 + 2 * d);
    for (Eigen::Index round = 0; round <= d; ++round) {
        std::vector<Eigen::Index> cols;
        for (Eigen::Index k = 0; k < d; ++k) {
            if (curved[static_cast<std::size_t>(k)]) cols.push_back(k);
        }
        const auto m = static_cast<Eigen::Index>(cols.size());
        std::vector<Eigen::Index> terms(static_cast<std::size_t>(1 + d));
        std::iota(terms.begin(), terms.end(), Eigen::Index{0});
        for (const Eigen::Index k : cols) terms.push_back(1 + d + k);
        const Eigen::MatrixXd A = design(Eigen::all, terms);
        const Eigen::VectorXd w = A.colPivHouseholderQr().solve(y);
        Eigen::Index worst = -1;
        for (Eigen::Index j = 0; j < m; ++j) {
            if (w[1 + d + j] < 0 && (worst < 0 || w[1 + d + j] < w[1 + d + worst])) worst = j;
        }
        if (worst < 0) {
            coef.setZero();
            coef.head(1 + d) = w.head(1 + d);
            for (Eigen::Index j = 0; j < m; ++j) coef[1 + d + cols[j]] = w[1 + d + j];
            return coef;
        }
        curved[static_cast<std::size_t>(cols[worst])] = 0;
    }
    return coef;
}

Eigen::VectorXd bowl_values(const Eigen::VectorXd& coef, const Eigen::MatrixXd& X) {
    return quadratic_design(X, diagonal_terms(X.cols())) * coef;
}

double bowl_at(const Eigen::VectorXd& coef, const Eigen::VectorXd& x, Eigen::VectorXd* grad) {
    const Eigen::Index d = x.size();
    if (grad) *grad += coef.segment(1, d) + 2 * coef.tail(d).cwiseProduct(x);
    return coef[0] + x.dot(coef.segment(1, d)) + x.array().square().matrix().dot(coef.tail(d));
}

}  // namespace tarvex::detail
