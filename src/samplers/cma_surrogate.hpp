// A linear-quadratic model of the values of a CMA-ES search's recent candidates, so that a
// generation can be ranked while only some of its candidates are evaluated (lq-CMA-ES).
#pragma once

#include <deque>
#include <utility>

#include <Eigen/Core>

namespace tarvex::detail {

class LqSurrogate {
public:
    // full_quadratic: whether the model may grow to every cross term; without it the richest model
    // is the diagonal quadratic (the cost of a fit is then linear in the dimension, not quartic).
    LqSurrogate(int dimension, bool full_quadratic);

    // A finished candidate with its finite value, smaller is better.
    void add(Eigen::VectorXd x, double value);
    void clear();
    std::size_t size() const { return rows.size(); }

    // Refits to the most recent rows, at most twice the terms of the richest model: the richest of
    // linear, diagonal quadratic and full quadratic that has at least 1.1 rows a term. False while
    // there are too few rows for the rank check (15, and 1.1 a linear term), or the fit fails.
    bool fit();
    bool fitted() const { return beta.size() > 0; }
    double predict(const Eigen::VectorXd& x) const;
    // Kendall's rank correlation (tau-b) between the values of the k most recent rows and the
    // model's predictions of them: how far the model's order can be trusted.
    double rank_agreement(std::size_t k) const;

private:
    // Rows of X centred and scaled as the fitted model's rows were.
    Eigen::MatrixXd scaled(const Eigen::MatrixXd& X) const;
    Eigen::VectorXd predictions(const Eigen::MatrixXd& X) const;  // of each row of X

    int n;
    bool full;
    std::size_t capacity;
    std::deque<std::pair<Eigen::VectorXd, double>> rows;
    std::size_t added_since_fit = 0;
    Eigen::Index terms = 0;               // of the fitted model
    Eigen::VectorXd centre, scale, beta;  // beta: of the values relative to their range
    double low = 0, span = 0;
};

}  // namespace tarvex::detail
