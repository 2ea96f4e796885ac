// A linear-quadratic model of the values of a CMA-ES search's recent candidates, so that a
// generation can be ranked while only some of its candidates are evaluated (lq-CMA-ES).
#pragma once

#include <deque>

#include <Eigen/Core>

namespace tarvex::detail {

class LqSurrogate {
public:
    // full_quadratic: whether the model may grow to every cross term; without it the richest model
    // is the diagonal quadratic (the cost of a fit is then linear in the dimension, not quartic).
    LqSurrogate(int dimension, bool full_quadratic);

    // The fewest rows the rank check needs: below this it says too little.
    static constexpr std::size_t kLeastRows = 15;

    // A finished candidate with its finite value, smaller is better.
    void add(Eigen::VectorXd x, double value);
    void clear();

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
    struct Row {
        Eigen::VectorXd x;
        double value;
        Eigen::RowVectorXd terms;  // the richest model's terms of x in the frame; empty without one
    };

    // The frame: coordinates centred on the rows and scaled by their spread, in which the terms
    // are taken so that the least squares stay well conditioned however far the search narrows.
    // The Gram matrix of the rows' terms is kept up to date as rows come and go, and all of it is
    // taken anew only when the rows have moved or narrowed away from the frame.
    bool frame_fits(const Eigen::VectorXd& mean, const Eigen::VectorXd& spread) const;
    void reframe(const Eigen::MatrixXd& X, Eigen::VectorXd mean, Eigen::VectorXd spread);  // X: the rows
    Eigen::MatrixXd terms_of(const Eigen::MatrixXd& X) const;  // of each row of X, in the frame

    int n;
    bool full;
    Eigen::Index richest;
    std::size_t capacity;
    std::deque<Row> rows;
    bool framed = false;
    std::size_t updates_since_frame = 0;  // rank-one changes to the Gram matrix
    Eigen::VectorXd centre, scale;
    Eigen::MatrixXd gram;  // lower triangle
    std::size_t added_since_fit = 0;
    Eigen::Index terms = 0;  // of the fitted model
    Eigen::VectorXd beta;    // of the values relative to their range
    double low = 0, span = 0;
};

}  // namespace tarvex::detail
