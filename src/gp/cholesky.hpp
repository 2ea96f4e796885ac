// The jitter ladder, shared by the public factorisation and the model's in-place one.
#pragma once

#include <Eigen/Cholesky>
#include <stdexcept>

#include "tarvex/gaussian_process.hpp"

namespace tarvex::detail {

// Factorises K + jitter 10^k I in place for k = 0..5, where fill(K) writes the lower triangle
// of K; the first success leaves its factor in the lower triangle of work. The strictly upper
// part is never touched. Returns the number of attempts made.
template <class Fill>
int jittered_cholesky_in_place(MatrixXd& work, const Fill& fill, double jitter) {
    for (int attempt = 0; attempt < 6; ++attempt) {
        fill(work);
        work.diagonal().array() += jitter;
        const Eigen::LLT<Eigen::Ref<MatrixXd>, Eigen::Lower> llt(work);
        if (llt.info() == Eigen::Success) return attempt + 1;
        jitter *= 10;
    }
    throw std::runtime_error("stable_cholesky: matrix not positive definite after 6 attempts.");
}

}  // namespace tarvex::detail
