// Coordinates of the unit cube turned about its centre onto the principal axes of a set of
// points. A valley or an ill-conditioned bowl that lies across the parameters lies along these
// coordinates, where an ARD kernel's lengthscales can follow it.
#pragma once

#include <Eigen/Core>

namespace tarvex::detail {

class PrincipalAxes {
public:
    // The axes of the covariance of the rows (points of the cube, at least two).
    explicit PrincipalAxes(const Eigen::MatrixXd& rows);

    // Points of the cube, one per row, in the turned coordinates. Distances are unchanged.
    Eigen::MatrixXd turned(const Eigen::MatrixXd& X) const;
    Eigen::VectorXd turned(const Eigen::VectorXd& x) const;
    // A point in turned coordinates back in the cube's own, clamped to the cube: the turned
    // cube's corners reach beyond it.
    Eigen::VectorXd unturned(const Eigen::VectorXd& v) const;

private:
    Eigen::MatrixXd axes_;  // orthonormal, one axis per column
};

}  // namespace tarvex::detail
