// The covariance matrix adaptation evolution strategy, minimising over the unit cube.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include <Eigen/Core>

namespace tarvex::detail {

// Candidates are x = m + σ A y with y ~ N(0, C) and A a diagonal scale (the margin, 1 elsewhere).
// After λ evaluations, ranked best first, with weights w_i ∝ ln((λ + 1)/2) − ln i (positive for
// the best μ = ⌊λ/2⌋ and summing to 1, negative for the worst: active CMA) and y_w = Σ_{i≤μ} w_i y_i:
//   m ← m + σ A y_w                          p_σ ← (1 − c_σ) p_σ + √(c_σ (2 − c_σ) μ_eff) C^−½ y_w
//   p_c ← (1 − c_c) p_c + h_σ √(c_c (2 − c_c) μ_eff) y_w
//   C ← (1 + c_1 δ(h_σ) − c_1 − c_μ Σ w_i) C + c_1 p_c p_cᵀ + c_μ Σ w°_i y_i y_iᵀ
//   σ ← σ exp((c_σ / d_σ)(‖p_σ‖ / E‖N(0, I)‖ − 1))
// where w°_i = w_i, times n / ‖C^−½ y_i‖² where negative. The separable variant keeps C
// diagonal, with c_1 and c_μ larger by (n + 2)/3.
class CmaEs {
public:
    // cov: the initial C (identity when absent); popsize 0: 4 + ⌊3 ln n⌋.
    CmaEs(Eigen::VectorXd mean, double sigma, int popsize, bool separable,
          const std::optional<Eigen::MatrixXd>& cov = std::nullopt);
    // A search of the shape and spread of cov: σ = det(cov)^(1/2n) and C = cov / σ².
    static CmaEs from_covariance(Eigen::VectorXd mean, const Eigen::MatrixXd& cov, int popsize, bool separable);

    int dimension() const { return static_cast<int>(mean.size()); }
    int popsize() const { return lambda; }
    double step_size() const { return sigma; }
    const Eigen::VectorXd& centre() const { return mean; }

    // One candidate, not yet brought inside any bounds.
    Eigen::VectorXd sample(std::mt19937_64& rng) const;
    // One generation's λ candidates with their values (smaller is better; +inf for the worst).
    void tell(std::vector<std::pair<Eigen::VectorXd, double>> solutions);
    // Whether the search has stopped making progress: values or steps too small to tell apart,
    // a covariance too ill-conditioned, or a step grown without bound.
    bool stalled() const { return stopped; }
    // Recent best values within tol of each other (times their magnitude, at least 1) are a
    // stall; 1e-12 (the default) refines a basin to its last digits before giving it up.
    void set_value_tolerance(double tol) { tol_fun = tol; }

    // The margin: for each coordinate j of discrete, edges(j, m_j) gives where the value at the
    // mean begins and ends; A_jj grows until each side with a neighbour is reached with
    // probability at least alpha, so a discrete coordinate never freezes at one value. The mean
    // of a discrete coordinate is kept inside [0, 1].
    using Edges = std::function<std::pair<std::optional<double>, std::optional<double>>(int j, double m_j)>;
    void apply_margin(const std::vector<int>& discrete, const Edges& edges, double alpha);

private:
    void decompose();
    void check_stop(const std::vector<double>& sorted_values);

    // Fixed by dimension and λ.
    int lambda, mu;
    bool separable;
    Eigen::VectorXd weights;
    double mu_eff, c_sigma, d_sigma, c_c, c_1, c_mu, chi_n;
    int eigen_every;  // generations between decompositions of C

    Eigen::VectorXd mean, p_sigma, p_c, scale;  // scale: the diagonal of A
    double sigma;
    Eigen::MatrixXd C, B;  // separable: C and B unused
    Eigen::VectorXd diag_c, D;
    int generation = 0, decomposed_at = 0;
    std::deque<double> best_values;  // the best value of each recent generation
    bool stopped = false;
    double tol_fun = 1e-12;
};

}  // namespace tarvex::detail
