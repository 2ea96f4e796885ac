#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "tarvex/lbfgs.hpp"

namespace tarvex {
namespace {

constexpr double kCurvatureFloor = 1e-20;  // pairs with s.y below this carry no curvature

// The (s, y, rho) correction pairs, oldest first.
struct History {
    std::deque<VectorXd> s, y;
    std::deque<double> rho;

    void clear() {
        s.clear();
        y.clear();
        rho.clear();
    }
    void push(VectorXd s_new, VectorXd y_new, double sy, int capacity) {
        if (capacity <= 0) return;
        if (static_cast<int>(s.size()) >= capacity) {
            s.pop_front();
            y.pop_front();
            rho.pop_front();
        }
        s.push_back(std::move(s_new));
        y.push_back(std::move(y_new));
        rho.push_back(1.0 / sy);
    }
    // d = -H g by the two-loop recursion.
    VectorXd direction(const VectorXd& g) const {
        const std::size_t k = s.size();
        VectorXd q = g;
        std::vector<double> a(k);
        for (std::size_t i = k; i-- > 0;) {
            a[i] = rho[i] * s[i].dot(q);
            q.noalias() -= a[i] * y[i];
        }
        double gamma = 1.0;
        if (k > 0) {
            const double yy = y.back().squaredNorm();
            if (yy > kCurvatureFloor) gamma = s.back().dot(y.back()) / yy;
        }
        VectorXd r = gamma * q;
        for (std::size_t i = 0; i < k; ++i) {
            const double b = rho[i] * y[i].dot(r);
            r.noalias() += (a[i] - b) * s[i];
        }
        return -r;
    }
};

}  // namespace

LBFGSResult utils::lbfgs_minimize(const LBFGSObjective& objective, VectorXd x0, VectorXd lower, VectorXd upper,
                                  LBFGSConfig config) {
    if (!objective) throw std::bad_function_call();
    if (lower.size() != x0.size() || upper.size() != x0.size()) {
        throw std::invalid_argument("lbfgs_minimize: x0, lower and upper differ in length.");
    }
    int n_evals = 0;
    const auto evaluate = [&](const VectorXd& at) {
        ++n_evals;
        auto value = objective(at);
        if (value.second.size() != at.size()) {
            throw std::invalid_argument("lbfgs_minimize: the gradient's length differs from x.");
        }
        return value;
    };
    const auto project = [&](const VectorXd& v) -> VectorXd { return v.cwiseMax(lower).cwiseMin(upper); };

    VectorXd x = project(x0);
    auto [f, g] = evaluate(x);
    LBFGSResult result{x, f, 0, false, LBFGSStop::IterationLimit, n_evals};
    if (config.max_iter < 1) return result;

    History history;
    VectorXd pg(x.size());
    for (;;) {
        for (Eigen::Index i = 0; i < x.size(); ++i) {
            const bool blocked = (x[i] <= lower[i] && g[i] > 0) || (x[i] >= upper[i] && g[i] < 0);
            pg[i] = blocked ? 0.0 : g[i];
        }
        const double pg_norm = pg.size() ? pg.cwiseAbs().maxCoeff() : 0.0;
        if (config.gtol > pg_norm) {
            result.converged = true;
            result.stop = LBFGSStop::Converged;
            break;
        }

        VectorXd d = history.direction(g);
        double dg = d.dot(g);
        if (dg >= 0) {  // not a descent direction: restart from the projected steepest descent
            d = -pg;
            history.clear();
            dg = d.dot(g);
            if (dg >= 0) {
                result.stop = LBFGSStop::NoDescent;
                break;
            }
        }

        double t = config.step0;
        bool accepted = false;
        VectorXd x_t;
        double f_t = 0;
        VectorXd g_t;
        for (int trial = 1; trial <= config.max_linesearch; ++trial) {
            x_t = project(x + t * d);
            std::tie(f_t, g_t) = evaluate(x_t);
            if (f_t <= f + config.c1 * t * dg) {  // false for NaN
                accepted = true;
                break;
            }
            t *= 0.5;
            if (config.min_step > t) break;
        }
        if (!accepted) {
            result.stop = LBFGSStop::LineSearchFailed;
            break;
        }

        VectorXd s = x_t - x;
        VectorXd y = g_t - g;
        const double sy = s.dot(y);
        if (sy > kCurvatureFloor) history.push(std::move(s), std::move(y), sy, config.history);
        const double gain = f - f_t;
        x = std::move(x_t);
        f = f_t;
        g = std::move(g_t);
        ++result.n_iter;
        if (config.rel_ftol * std::max(std::abs(f), 1.0) > gain) {
            result.stop = LBFGSStop::SmallImprovement;
            break;
        }
        if (result.n_iter == config.max_iter) break;
    }
    result.x = std::move(x);
    result.f = f;
    result.n_evals = n_evals;
    return result;
}

}  // namespace tarvex
