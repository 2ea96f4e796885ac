// A Newton step on a quadratic fitted to observations near the best one, and the quadratic's
// least-squares terms, which CMA-ES's surrogate fits too.
#pragma once

#include <optional>

#include <Eigen/Core>

namespace tarvex::detail {

// Terms of a quadratic in d coordinates: the constant and the linear ones, then the squares
// without (diagonal) or with (full) the cross products.
inline Eigen::Index linear_terms(Eigen::Index d) { return 1 + d; }
inline Eigen::Index diagonal_terms(Eigen::Index d) { return 1 + 2 * d; }
inline Eigen::Index full_terms(Eigen::Index d) { return 1 + d + d * (d + 1) / 2; }

// The rows U's least-squares matrix with `terms` columns (one of the three counts above): 1, then
// u_j, then u_j², then in the full quadratic u_j u_k for j < k. Each model's columns lead the
// richer one's, so one Gram matrix serves all three.
Eigen::MatrixXd quadratic_design(const Eigen::MatrixXd& U, Eigen::Index terms);

// How many rows a step from d coordinates wants, of the available ones: enough for the full fit
// where there are that many, otherwise for the diagonal one.
Eigen::Index quadratic_rows(Eigen::Index d, Eigen::Index available);

// Fits f(x) ≈ c + gᵀu + ½ uᵀHu, u = x − centre, by least squares to the rows of X and their
// values y (smaller is better), and returns the minimiser centre − H⁻¹g kept inside [lower,
// upper]. H is full where there are at least twice as many rows as its terms, diagonal where
// there are at least twice as many as those terms, and otherwise there is no step. None either
// where the fitted H is not positive definite (no minimum to step to) or the fit fails.
std::optional<Eigen::VectorXd> quadratic_step(const Eigen::MatrixXd& X, const Eigen::VectorXd& y,
                                              const Eigen::VectorXd& centre, const Eigen::VectorXd& lower,
                                              const Eigen::VectorXd& upper);

}  // namespace tarvex::detail
