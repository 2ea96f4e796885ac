// Central differences, g_i = (f(x + h e_i) - f(x - h e_i)) / 2h: the oracle analytic gradients
// are checked against, and the gradient of last resort for kernels that bring none.
#pragma once

#include <Eigen/Core>

namespace tarvex::utils {

template <class F>
Eigen::VectorXd central_difference(const F& f, const Eigen::VectorXd& x, double h) {
    Eigen::VectorXd g(x.size());
    Eigen::VectorXd probe = x;
    for (Eigen::Index i = 0; i < x.size(); ++i) {
        probe[i] = x[i] + h;
        const double up = f(probe);
        probe[i] = x[i] - h;
        const double down = f(probe);
        probe[i] = x[i];
        g[i] = (up - down) / (2 * h);
    }
    return g;
}

}  // namespace tarvex::utils
