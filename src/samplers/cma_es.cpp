#include "cma_es.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "../common/standard_normal.hpp"
#include "tarvex/random.hpp"

namespace tarvex::detail {
namespace {

// q with P(N(0, 1) > q) = Φ(-q) = alpha, by bisection.
double upper_quantile(double alpha) {
    double lo = 0.0, hi = 40.0;
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        (normal_cdf(-mid) > alpha ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// Relative size below which steps in the unit cube no longer tell candidates apart.
constexpr double kTolX = 1e-12;
// A step this many times the cube's width, or a covariance this ill-conditioned, is a search
// that has lost its way.
constexpr double kTolXUp = 1e2;
constexpr double kMaxCondition = 1e14;

}  // namespace

CmaEs::CmaEs(Eigen::VectorXd mean_, double sigma_, int popsize, bool separable_,
             const std::optional<Eigen::MatrixXd>& cov)
    : separable(separable_), mean(std::move(mean_)), sigma(sigma_) {
    const int n = dimension();
    if (n < 1) throw std::invalid_argument("CmaEs: the dimension must be at least 1.");
    lambda = popsize > 0 ? popsize : 4 + static_cast<int>(std::floor(3 * std::log(n)));
    lambda = std::max(lambda, 2);
    mu = lambda / 2;
    // Recombination weights w'_i = ln((λ + 1)/2) − ln i for all λ: the positive ones normalised
    // to sum 1, the negative ones (active CMA: the worst push C away) scaled so that C stays
    // positive definite.
    Eigen::VectorXd raw(lambda);
    for (int i = 0; i < lambda; ++i) raw[i] = std::log((lambda + 1) / 2.0) - std::log(i + 1.0);
    const Eigen::VectorXd positive = raw.head(mu), negative = raw.tail(lambda - mu).cwiseMin(0.0);
    mu_eff = positive.sum() * positive.sum() / positive.squaredNorm();
    const double mu_eff_minus =
        negative.squaredNorm() > 0 ? negative.sum() * negative.sum() / negative.squaredNorm() : 0.0;
    const double dn = n;
    c_sigma = (mu_eff + 2) / (dn + mu_eff + 5);
    d_sigma = 1 + 2 * std::max(0.0, std::sqrt((mu_eff - 1) / (dn + 1)) - 1) + c_sigma;
    c_c = (4 + mu_eff / dn) / (dn + 4 + 2 * mu_eff / dn);
    c_1 = 2 / ((dn + 1.3) * (dn + 1.3) + mu_eff);
    c_mu = std::min(1 - c_1 - 1e-8, 2 * (mu_eff - 2 + 1 / mu_eff) / ((dn + 2) * (dn + 2) + mu_eff));
    if (separable) {
        c_1 = std::min(0.5, c_1 * (dn + 2) / 3);
        c_mu = std::min(1 - c_1 - 1e-8, c_mu * (dn + 2) / 3);
    }
    const double alpha_minus =
        std::min({1 + c_1 / c_mu, 1 + 2 * mu_eff_minus / (mu_eff + 2), (1 - c_1 - c_mu) / (dn * c_mu)});
    weights.resize(lambda);
    for (int i = 0; i < lambda; ++i) {
        weights[i] = raw[i] >= 0 ? raw[i] / positive.sum() : alpha_minus * raw[i] / -negative.sum();
    }
    chi_n = std::sqrt(dn) * (1 - 1 / (4 * dn) + 1 / (21 * dn * dn));
    eigen_every = separable ? 1 : std::max(1, static_cast<int>(1 / (10 * dn * (c_1 + c_mu))));

    p_sigma = Eigen::VectorXd::Zero(n);
    p_c = Eigen::VectorXd::Zero(n);
    scale = Eigen::VectorXd::Ones(n);
    if (separable) {
        diag_c = cov ? Eigen::VectorXd(cov->diagonal()) : Eigen::VectorXd::Ones(n);
    } else {
        C = cov ? *cov : Eigen::MatrixXd::Identity(n, n);
    }
    decompose();
}

CmaEs CmaEs::from_covariance(Eigen::VectorXd mean, const Eigen::MatrixXd& cov, int popsize, bool separable) {
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(cov, Eigen::EigenvaluesOnly);
    const double sigma = std::exp(eigen.eigenvalues().array().log().sum() / (2.0 * static_cast<double>(cov.rows())));
    return CmaEs(std::move(mean), sigma, popsize, separable, Eigen::MatrixXd(cov / (sigma * sigma)));
}

Eigen::VectorXd CmaEs::sample(std::mt19937_64& rng) const {
    const int n = dimension();
    Eigen::VectorXd z(n);
    for (int i = 0; i < n; ++i) z[i] = utils::normal_draw(rng);
    const Eigen::VectorXd y = separable ? Eigen::VectorXd(D.cwiseProduct(z)) : Eigen::VectorXd(B * D.cwiseProduct(z));
    return mean + sigma * scale.cwiseProduct(y);
}

void CmaEs::tell(std::vector<std::pair<Eigen::VectorXd, double>> solutions) {
    if (static_cast<int>(solutions.size()) != lambda) {
        throw std::invalid_argument("CmaEs: tell needs one value per candidate of the generation.");
    }
    std::stable_sort(solutions.begin(), solutions.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;  // NaN never reaches here: it is told as +inf
    });
    const int n = dimension();
    ++generation;
    Eigen::MatrixXd y(n, lambda);
    for (int i = 0; i < lambda; ++i) y.col(i) = (solutions[i].first - mean).cwiseQuotient(scale) / sigma;
    const Eigen::VectorXd y_w = y.leftCols(mu) * weights.head(mu);
    mean += sigma * scale.cwiseProduct(y_w);

    const auto whiten = [&](const Eigen::VectorXd& v) {
        return separable ? Eigen::VectorXd(v.cwiseQuotient(D))
                         : Eigen::VectorXd(B * (B.transpose() * v).cwiseQuotient(D));
    };
    p_sigma = (1 - c_sigma) * p_sigma + std::sqrt(c_sigma * (2 - c_sigma) * mu_eff) * whiten(y_w);
    const double norm_correction = std::sqrt(1 - std::pow(1 - c_sigma, 2.0 * generation));
    const bool h_sigma = p_sigma.norm() / norm_correction < (1.4 + 2 / (n + 1.0)) * chi_n;
    p_c = (1 - c_c) * p_c + (h_sigma ? std::sqrt(c_c * (2 - c_c) * mu_eff) : 0.0) * y_w;
    const double delta = (1 - h_sigma) * c_c * (2 - c_c);
    // A negative weight acts on a step rescaled to length √n in the whitened space, so a far
    // outlier cannot shrink C by much.
    Eigen::VectorXd w_o = weights;
    for (int i = mu; i < lambda; ++i) {
        if (w_o[i] < 0) w_o[i] *= n / std::max(whiten(y.col(i)).squaredNorm(), 1e-300);
    }
    const double keep = 1 + c_1 * delta - c_1 - c_mu * weights.sum();
    if (separable) {
        diag_c = keep * diag_c + c_1 * p_c.cwiseAbs2() + c_mu * (y.cwiseAbs2() * w_o);
    } else {
        C = keep * C + c_1 * p_c * p_c.transpose() + c_mu * y * w_o.asDiagonal() * y.transpose();
    }
    sigma *= std::exp(std::min(1.0, (c_sigma / d_sigma) * (p_sigma.norm() / chi_n - 1)));
    if (generation - decomposed_at >= eigen_every) decompose();

    std::vector<double> values;
    for (const auto& s : solutions) values.push_back(s.second);
    check_stop(values);
}

void CmaEs::decompose() {
    decomposed_at = generation;
    if (separable) {
        D = diag_c.cwiseMax(0.0).cwiseSqrt();
    } else {
        C = (C + C.transpose()) / 2;
        const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(C);
        if (eigen.info() != Eigen::Success) {
            stopped = true;
            return;
        }
        B = eigen.eigenvectors();
        D = eigen.eigenvalues().cwiseMax(0.0).cwiseSqrt();
    }
    if (!(D.minCoeff() > 0) || !D.allFinite()) stopped = true;
}

void CmaEs::check_stop(const std::vector<double>& sorted_values) {
    const int n = dimension();
    const auto history = static_cast<std::size_t>(10 + std::ceil(30.0 * n / lambda));
    best_values.push_back(sorted_values.front());
    if (best_values.size() > history) best_values.pop_front();
    const Eigen::VectorXd diag = separable ? diag_c : Eigen::VectorXd(C.diagonal());
    if (stopped || !mean.allFinite() || !std::isfinite(sigma)) {
        stopped = true;
        return;
    }
    // Values: the generation and the recent best all within a tolerance.
    const double level = std::max(1.0, std::abs(sorted_values.front()));
    if (best_values.size() == history && std::isfinite(sorted_values.back())) {
        const auto [lo, hi] = std::minmax_element(best_values.begin(), best_values.end());
        if (*hi - *lo < tol_fun * level && sorted_values.back() - sorted_values.front() < tol_fun * level) {
            stopped = true;
        }
    }
    // Steps: too small in every coordinate, or too large in one.
    const Eigen::VectorXd spread = sigma * diag.cwiseMax(0.0).cwiseSqrt();
    if (spread.maxCoeff() < kTolX && sigma * p_c.cwiseAbs().maxCoeff() < kTolX) stopped = true;
    if (sigma * D.maxCoeff() > kTolXUp) stopped = true;
    const double ratio = D.maxCoeff() / D.minCoeff();
    if (ratio * ratio > kMaxCondition) stopped = true;
    // A step along a principal axis, or along one coordinate, that no longer moves the mean.
    const int axis = generation % n;
    const Eigen::VectorXd along =
        separable ? Eigen::VectorXd(Eigen::VectorXd::Unit(n, axis) * D[axis]) : Eigen::VectorXd(B.col(axis) * D[axis]);
    if ((mean + 0.1 * sigma * along).cwiseEqual(mean).all()) stopped = true;
    for (int j = 0; j < n; ++j) {
        if (mean[j] + 0.2 * spread[j] == mean[j]) stopped = true;
    }
}

void CmaEs::apply_margin(const std::vector<int>& discrete, const Edges& edges, double alpha) {
    if (discrete.empty()) return;
    const double q = upper_quantile(alpha);
    const Eigen::VectorXd diag = separable ? diag_c : Eigen::VectorXd(C.diagonal());
    for (const int j : discrete) {
        // Past the cube's edge a discrete coordinate holds its end value; the margin is measured
        // from there, not from wherever the mean drifted.
        mean[j] = std::clamp(mean[j], 0.0, 1.0);
        const double sd = sigma * std::sqrt(std::max(diag[j], 0.0));
        const auto [lo, hi] = edges(j, mean[j]);
        double need = 0;  // the smallest spread that reaches each neighbour with probability alpha
        if (lo) need = std::max(need, (mean[j] - *lo) / q);
        if (hi) need = std::max(need, (*hi - mean[j]) / q);
        scale[j] = sd > 0 ? std::max(1.0, need / sd) : 1.0;
    }
}

}  // namespace tarvex::detail
