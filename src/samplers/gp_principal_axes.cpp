#include "gp_principal_axes.hpp"

#include <Eigen/Eigenvalues>

namespace tarvex::detail {

PrincipalAxes::PrincipalAxes(const Eigen::MatrixXd& rows) {
    const Eigen::MatrixXd centred = rows.rowwise() - rows.colwise().mean();
    axes_ = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(centred.transpose() * centred).eigenvectors();
}

Eigen::MatrixXd PrincipalAxes::turned(const Eigen::MatrixXd& X) const {
    return ((X.array() - 0.5).matrix() * axes_).array() + 0.5;
}

Eigen::VectorXd PrincipalAxes::turned(const Eigen::VectorXd& x) const {
    return (axes_.transpose() * (x.array() - 0.5).matrix()).array() + 0.5;
}

Eigen::VectorXd PrincipalAxes::unturned(const Eigen::VectorXd& v) const {
    return ((axes_ * (v.array() - 0.5).matrix()).array() + 0.5).cwiseMax(0.0).cwiseMin(1.0);
}

}  // namespace tarvex::detail
