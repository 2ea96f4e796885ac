#include "quadratic_mean.hpp"

#include <Eigen/QR>
#include <numeric>
#include <vector>

#include "../samplers/quadratic_step.hpp"

namespace tarvex::detail {

Eigen::VectorXd fit_bowl(const Eigen::MatrixXd& X, const Eigen::VectorXd& y) {
    const Eigen::Index n = X.rows(), d = X.cols();
    if (d == 0 || n < bowl_rows(d)) return {};
    // Active-set least squares: the most negative curvature leaves the fit until none is left.
    const Eigen::MatrixXd design = quadratic_design(X, diagonal_terms(d));
    std::vector<Eigen::Index> curved(static_cast<std::size_t>(d));
    std::iota(curved.begin(), curved.end(), Eigen::Index{0});
    for (;;) {
        std::vector<Eigen::Index> terms(static_cast<std::size_t>(1 + d));
        std::iota(terms.begin(), terms.end(), Eigen::Index{0});
        for (const Eigen::Index k : curved) terms.push_back(1 + d + k);
        const Eigen::VectorXd w = design(Eigen::all, terms).colPivHouseholderQr().solve(y);
        const Eigen::VectorXd a = w.tail(static_cast<Eigen::Index>(curved.size()));
        Eigen::Index worst = 0;
        if (a.size() == 0 || a.minCoeff(&worst) >= 0) {
            Eigen::VectorXd coef = Eigen::VectorXd::Zero(1 + 2 * d);
            coef.head(1 + d) = w.head(1 + d);
            for (std::size_t j = 0; j < curved.size(); ++j) coef[1 + d + curved[j]] = a[static_cast<Eigen::Index>(j)];
            return coef;
        }
        curved.erase(curved.begin() + worst);
    }
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
