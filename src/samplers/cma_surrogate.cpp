#include "cma_surrogate.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <utility>

#include "quadratic_step.hpp"

namespace tarvex::detail {
namespace {

constexpr double kRowsPerTerm = 1.1;
// The frame is taken anew once the rows' centre has moved by half the frame's spread in some
// coordinate, or their spread there has doubled or halved, so that conditioning stays near that
// of a fresh frame (tighter bounds cost more new frames and gave the same searches); and after as
// many rank-one changes as the model holds rows, so that rounding in the updated Gram matrix
// cannot build up.
constexpr double kFrameShift = 0.5;
constexpr double kFrameStretch = 2;

}  // namespace

LqSurrogate::LqSurrogate(int dimension, bool full_quadratic)
    : n(dimension),
      full(full_quadratic),
      richest(full ? full_terms(n) : diagonal_terms(n)),
      capacity(std::max<std::size_t>(static_cast<std::size_t>(2 * richest), kLeastRows + 5)) {}

Eigen::MatrixXd LqSurrogate::terms_of(const Eigen::MatrixXd& X) const {
    return quadratic_design((X.rowwise() - centre.transpose()).array().rowwise() / scale.transpose().array(), richest);
}

void LqSurrogate::add(Eigen::VectorXd x, double value) {
    Eigen::RowVectorXd t;
    if (framed) {
        t = terms_of(x.transpose());
        gram.selfadjointView<Eigen::Lower>().rankUpdate(t.transpose());
        ++updates_since_frame;
    }
    rows.push_back({std::move(x), value, std::move(t)});
    if (rows.size() > capacity) {
        if (framed) {
            gram.selfadjointView<Eigen::Lower>().rankUpdate(rows.front().terms.transpose(), -1.0);
            ++updates_since_frame;
        }
        rows.pop_front();
    }
    ++added_since_fit;
}

void LqSurrogate::clear() {
    rows.clear();
    framed = false;
    beta.resize(0);
    added_since_fit = 0;
}

bool LqSurrogate::frame_fits(const Eigen::VectorXd& mean, const Eigen::VectorXd& spread) const {
    if (!framed || updates_since_frame >= capacity) return false;
    const Eigen::ArrayXd stretch = spread.array() / scale.array();
    const Eigen::ArrayXd shift = (mean - centre).array().abs() / scale.array();
    return (shift <= kFrameShift).all() && (stretch <= kFrameStretch).all() && (stretch >= 1 / kFrameStretch).all();
}

void LqSurrogate::reframe(const Eigen::MatrixXd& X, Eigen::VectorXd mean, Eigen::VectorXd spread) {
    centre = std::move(mean);
    scale = std::move(spread);
    const Eigen::MatrixXd A = terms_of(X);
    for (Eigen::Index i = 0; i < A.rows(); ++i) rows[static_cast<std::size_t>(i)].terms = A.row(i);
    gram = Eigen::MatrixXd::Zero(richest, richest);
    gram.selfadjointView<Eigen::Lower>().rankUpdate(A.transpose());
    framed = true;
    updates_since_frame = 0;
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
    // The rows' centre and spread, which the frame is checked against and, where it no longer
    // fits them, taken from.
    const auto m = static_cast<Eigen::Index>(rows.size());
    Eigen::MatrixXd X(m, n);
    for (Eigen::Index i = 0; i < m; ++i) X.row(i) = rows[static_cast<std::size_t>(i)].x.transpose();
    Eigen::VectorXd mean = X.colwise().mean().transpose();
    Eigen::VectorXd spread = (X.colwise().maxCoeff() - X.colwise().minCoeff()).transpose().cwiseMax(1e-300);
    if (!frame_fits(mean, spread)) reframe(X, std::move(mean), std::move(spread));
    // Values relative to their range, for the same reason as the frame.
    low = rows.front().value;
    double high = low;
    for (const Row& r : rows) {
        low = std::min(low, r.value);
        high = std::max(high, r.value);
    }
    span = high - low;
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(terms);
    if (span > 0) {
        for (const Row& r : rows) rhs += ((r.value - low) / span) * r.terms.head(terms).transpose();
    }
    // The normal equations, with a trace of ridge for rows that do not pin down every term: with
    // the Gram matrix kept up to date, a fit costs the factorisation only.
    Eigen::MatrixXd g = gram.topLeftCorner(terms, terms);
    g.diagonal().array() += 1e-10 * g.diagonal().maxCoeff();
    beta = g.selfadjointView<Eigen::Lower>().ldlt().solve(rhs);
    added_since_fit = 0;
    if (!beta.allFinite()) {
        beta.resize(0);
        return false;
    }
    return true;
}

double LqSurrogate::predict(const Eigen::VectorXd& x) const {
    return low + span * terms_of(x.transpose()).row(0).head(terms).dot(beta);
}

double LqSurrogate::rank_agreement(std::size_t k) const {
    k = std::min(k, rows.size());
    const std::size_t first = rows.size() - k;
    Eigen::VectorXd model(static_cast<Eigen::Index>(k));
    for (std::size_t i = 0; i < k; ++i)
        model[static_cast<Eigen::Index>(i)] = rows[first + i].terms.head(terms).dot(beta);
    double concordant = 0, discordant = 0, tied_values = 0, tied_model = 0, pairs = 0;
    for (std::size_t i = 0; i < k; ++i) {
        for (std::size_t j = i + 1; j < k; ++j) {
            const double a = rows[first + i].value - rows[first + j].value,
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
