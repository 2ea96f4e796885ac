// The bounded L-BFGS minimiser: a general tool for smooth functions inside a box, used by the
// kernel hyperparameter fit and the acquisition optimiser alike.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <utility>

namespace tarvex {

using Eigen::MatrixXd;
using Eigen::VectorXd;

struct LBFGSConfig {
    int max_iter = 200;       // accepted steps at most
    int history = 10;         // (s, y) pairs kept
    double gtol = 1e-5;       // stop when the projected gradient's max-norm falls below
    double c1 = 1e-4;         // Armijo constant
    double step0 = 1.0;       // first trial step of each line search
    double min_step = 1e-10;  // smallest step tried
    int max_linesearch = 25;  // trial points per line search
    double rel_ftol = 0;      // stop once a step gains less than rel_ftol max(|f|, 1); 0: never
};

// Why a run ended.
enum class LBFGSStop {
    Converged,         // the projected gradient fell below gtol
    SmallImprovement,  // an accepted step gained less than rel_ftol
    LineSearchFailed,  // no trial point met the sufficient-decrease condition
    NoDescent,         // not even the projected steepest descent goes down
    IterationLimit,    // max_iter steps accepted
};

struct LBFGSResult {
    VectorXd x;      // last accepted point, inside the box
    double f;        // objective at x
    int n_iter;      // accepted steps
    bool converged;  // the projected-gradient test ended the run
    LBFGSStop stop;  // why the run ended
    int n_evals;     // objective evaluations
};

// (value, gradient) at a point.
using LBFGSObjective = std::function<std::pair<double, VectorXd>(const VectorXd&)>;

namespace utils {
// Minimises objective over the box [lower, upper] from x0 (projected onto the box).
LBFGSResult lbfgs_minimize(const LBFGSObjective& objective, VectorXd x0, VectorXd lower, VectorXd upper,
                           LBFGSConfig config);
}  // namespace utils

}  // namespace tarvex
