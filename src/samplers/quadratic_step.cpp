#include "quadratic_step.hpp"

#include <Eigen/Dense>
#include <cmath>

namespace tarvex::detail {

Eigen::MatrixXd quadratic_design(const Eigen::MatrixXd& U, Eigen::Index terms) {
    const Eigen::Index d = U.cols();
    Eigen::MatrixXd A(U.rows(), terms);
    A.col(0).setOnes();
    A.middleCols(1, d) = U;
    if (terms == linear_terms(d)) return A;
    A.middleCols(1 + d, d) = U.array().square();
    if (terms == diagonal_terms(d)) return A;
    Eigen::Index c = diagonal_terms(d);
    for (Eigen::Index j = 0; j < d; ++j) {
        for (Eigen::Index k = j + 1; k < d; ++k) A.col(c++) = U.col(j).cwiseProduct(U.col(k));
    }
    return A;
}

Eigen::Index quadratic_rows(Eigen::Index d, Eigen::Index available) {
    return available >= 2 * full_terms(d) ? 2 * full_terms(d) : 2 * diagonal_terms(d);
}

std::optional<Eigen::VectorXd> quadratic_step(const Eigen::MatrixXd& X, const Eigen::VectorXd& y,
                                              const Eigen::VectorXd& centre, const Eigen::VectorXd& lower,
                                              const Eigen::VectorXd& upper) {
    const Eigen::Index n = X.rows(), d = X.cols();
    const bool full = n >= 2 * full_terms(d);
    if (!full && n < 2 * diagonal_terms(d)) return std::nullopt;
    // Coordinates relative to the centre, scaled by the rows' spread so that the least squares
    // stay well conditioned however close to the optimum the rows have come.
    const Eigen::VectorXd scale = (upper - lower).cwiseMax(1e-300);
    const Eigen::MatrixXd U = (X.rowwise() - centre.transpose()).array().rowwise() / scale.transpose().array();
    const Eigen::MatrixXd A = quadratic_design(U, full ? full_terms(d) : diagonal_terms(d));
    // Values relative to their range, for the same reason.
    const double low = y.minCoeff(), span = y.maxCoeff() - low;
    if (!(span > 0) || !std::isfinite(span)) return std::nullopt;
    const Eigen::VectorXd b = (y.array() - low) / span;
    const Eigen::VectorXd beta = A.colPivHouseholderQr().solve(b);
    if (!beta.allFinite()) return std::nullopt;
    const Eigen::VectorXd g = beta.segment(1, d);
    // u_j² carries H_jj / 2; u_j u_k (j < k) carries H_jk.
    Eigen::MatrixXd H = (2 * beta.segment(1 + d, d)).asDiagonal();
    Eigen::Index c = diagonal_terms(d);
    for (Eigen::Index j = 0; full && j < d; ++j) {
        for (Eigen::Index k = j + 1; k < d; ++k) H(j, k) = H(k, j) = beta[c++];
    }
    const Eigen::LLT<Eigen::MatrixXd> chol(H);
    if (chol.info() != Eigen::Success) return std::nullopt;
    const Eigen::VectorXd u = -chol.solve(g);
    if (!u.allFinite()) return std::nullopt;
    return (centre + u.cwiseProduct(scale)).cwiseMax(lower).cwiseMin(upper);
}

}  // namespace tarvex::detail
