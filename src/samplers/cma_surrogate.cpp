#include "cma_surrogate.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "quadratic_step.hpp"

namespace tarvex::detail {
namespace {

constexpr std::size_t kLeastRows = 15;  // below this the rank check says too little
constexpr double kRowsPerTerm = 1.1;

}  // namespace

LqSurrogate::LqSurrogate(int dimension, bool full_quadratic)
    : n(dimension),
      full(full_quadratic),
      capacity(std::max<std::size_t>(static_cast<std::size_t>(2 * (full ? full_terms(n) : diagonal_terms(n))),
                                     kLeastRows + 5)) {}

Eigen::MatrixXd LqSurrogate::scaled(const Eigen::MatrixXd& X) const {
    return (X.rowwise() - centre.transpose()).array().rowwise() / scale.transpose().array();
}

void LqSurrogate::add(Eigen::VectorXd x, double value) {
    rows.emplace_back(std::move(x), value);
    if (rows.size() > capacity) rows.pop_front();
    ++added_since_fit;
}

void LqSurrogate::clear() {
    rows.clear();
    beta.resize(0);
    added_since_fit = 0;
}

bool LqSurrogate::fit() {
    const double available = static_cast<double>(rows.size());
    if (rows.size() <
        std::max<std::size_t>(kLeastRows, static_cast<std::size_t>(std::ceil(kRowsPerTerm * linear_terms(n))))) {
        beta.resize(0);
        return false;
    }
    if (fitted() && added_since_fit == 0) return true;
    terms = linear_terms(n);
    if (available >= kRowsPerTerm * diagonal_terms(n)) terms = diagonal_terms(n);
    if (full && available >= kRowsPerTerm * full_terms(n)) terms = full_terms(n);
    // Coordinates centred on the rows and scaled by their spread, and values taken relative to
    // their range, so that the least squares stay well conditioned however far the search has
    // narrowed.
    const auto m = static_cast<Eigen::Index>(rows.size());
    Eigen::MatrixXd X(m, n);
    Eigen::VectorXd y(m);
    for (Eigen::Index i = 0; i < m; ++i) {
        X.row(i) = rows[static_cast<std::size_t>(i)].first.transpose();
        y[i] = rows[static_cast<std::size_t>(i)].second;
    }
    centre = X.colwise().mean().transpose();
    scale = (X.colwise().maxCoeff() - X.colwise().minCoeff()).transpose().cwiseMax(1e-300);
    low = y.minCoeff();
    span = y.maxCoeff() - low;
    const Eigen::MatrixXd A = quadratic_design(scaled(X), terms);
    const Eigen::VectorXd b = span > 0 ? Eigen::VectorXd((y.array() - low) / span) : Eigen::VectorXd::Zero(m);
    // The normal equations, with a trace of ridge for rows that do not pin down every term: half
    // the cost of a QR factorisation, which was most of a trial's cost.
    Eigen::MatrixXd gram = Eigen::MatrixXd::Zero(terms, terms);
    gram.selfadjointView<Eigen::Lower>().rankUpdate(A.transpose());
    gram.diagonal().array() += 1e-10 * gram.diagonal().maxCoeff();
    beta = gram.selfadjointView<Eigen::Lower>().ldlt().solve(A.transpose() * b);
    added_since_fit = 0;
    if (!beta.allFinite()) {
        beta.resize(0);
        return false;
    }
    return true;
}

Eigen::VectorXd LqSurrogate::predictions(const Eigen::MatrixXd& X) const {
    return (span * (quadratic_design(scaled(X), terms) * beta)).array() + low;
}

double LqSurrogate::predict(const Eigen::VectorXd& x) const { return predictions(x.transpose())[0]; }

double LqSurrogate::rank_agreement(std::size_t k) const {
    k = std::min(k, rows.size());
    const std::size_t first = rows.size() - k;
    Eigen::MatrixXd X(static_cast<Eigen::Index>(k), n);
    for (std::size_t i = 0; i < k; ++i) X.row(static_cast<Eigen::Index>(i)) = rows[first + i].first.transpose();
    const Eigen::VectorXd model = predictions(X);
    double concordant = 0, discordant = 0, tied_values = 0, tied_model = 0, pairs = 0;
    for (std::size_t i = 0; i < k; ++i) {
        for (std::size_t j = i + 1; j < k; ++j) {
            const double a = rows[first + i].second - rows[first + j].second,
                         b = model[static_cast<Eigen::Index>(i)] - model[static_cast<Eigen::Index>(j)];
            ++pairs;
            if (a == 0) ++tied_values;
            if (b == 0) ++tied_model;
            if (a * b > 0) ++concordant;
            if (a * b < 0) ++discordant;
        }
    }
    const double norm = std::sqrt((pairs - tied_values) * (pairs - tied_model));
    return norm > 0 ? (concordant - discordant) / norm : 0.0;
}

}  // namespace tarvex::detail
