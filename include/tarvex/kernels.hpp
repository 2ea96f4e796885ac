// Covariance kernels of the Gaussian-process engine. Hyperparameters live in log space:
// [log variance, log sq_lengthscale_1, ...].
#pragma once

#include <Eigen/Core>
#include <memory>
#include <string>

namespace tarvex {

using Eigen::MatrixXd;
using Eigen::VectorXd;

enum class KernelType : int { RBF = 0, Matern52 = 1 };

class IKernel {
public:
    virtual ~IKernel() = default;
    virtual double eval(const VectorXd& x1, const VectorXd& x2) const = 0;
    // [log variance, log sq_lengthscale_1, ...]
    virtual VectorXd get_params() const = 0;
    virtual void set_params(const VectorXd& p) = 0;
    virtual int n_params() const = 0;
    // Makes the kernel ARD over d inputs, every lengthscale taking the first one's value.
    virtual void set_input_dim(int d) = 0;
    virtual std::string name() const = 0;
    virtual std::unique_ptr<IKernel> clone() const = 0;

    // K(i, j) = eval(x_i, x_j) over the rows of X; the lower triangle is evaluated and mirrored.
    MatrixXd matrix(const MatrixXd& X) const;
    // k(i) = eval(x_i, x)
    VectorXd vector(const MatrixXd& X, const VectorXd& x) const;
};

// A kernel that depends on the points only through the scaled squared distance
//   D(x1, x2) = sum_i (x1_i - x2_i)^2 / l_i^2   (one shared l^2 when isotropic),
// k = sigma^2 g(D). The model evaluates whole covariance matrices, and their derivatives, from
// cached squared differences.
class StationaryKernel : public IKernel {
public:
    StationaryKernel(double sigma, double lengthscale);
    double eval(const VectorXd& x1, const VectorXd& x2) const override;
    VectorXd get_params() const override;
    void set_params(const VectorXd& p) override;
    int n_params() const override;
    void set_input_dim(int d) override;

    // The covariance at scaled squared distance D.
    virtual double covariance(double D) const = 0;
    // The same, in place over an array of distances.
    virtual void covariances(Eigen::Ref<Eigen::ArrayXd> D) const = 0;
    // dk/dD, in place over an array of distances. The default differentiates covariance()
    // numerically; the library's kernels have it in closed form.
    virtual void covariance_slopes(Eigen::Ref<Eigen::ArrayXd> D) const;
    // w with D = sum_k w_k (x1_k - x2_k)^2 over the first d coordinates.
    VectorXd distance_weights(int d) const;

    double variance;           // sigma^2
    VectorXd sq_lengthscales;  // l^2: size 1 (isotropic) or one per input dimension (ARD)
};

// k(x1, x2) = sigma^2 exp(-D / 2);  dk/dD = -k / 2
class RBFKernel : public StationaryKernel {
public:
    using StationaryKernel::StationaryKernel;
    double covariance(double D) const override;
    void covariances(Eigen::Ref<Eigen::ArrayXd> D) const override;
    void covariance_slopes(Eigen::Ref<Eigen::ArrayXd> D) const override;
    std::string name() const override;
    std::unique_ptr<IKernel> clone() const override;
};

// k(x1, x2) = sigma^2 (1 + t + t^2 / 3) exp(-t),  t = sqrt(5 D);  dk/dD = -5 sigma^2 (1 + t) exp(-t) / 6
class Matern52Kernel : public StationaryKernel {
public:
    using StationaryKernel::StationaryKernel;
    double covariance(double D) const override;
    void covariances(Eigen::Ref<Eigen::ArrayXd> D) const override;
    void covariance_slopes(Eigen::Ref<Eigen::ArrayXd> D) const override;
    std::string name() const override;
    std::unique_ptr<IKernel> clone() const override;
};

std::unique_ptr<IKernel> make_kernel(KernelType type, double sigma, double lengthscale);

}  // namespace tarvex
