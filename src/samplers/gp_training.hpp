// The data GP models are fitted to, and the encodings they share.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tarvex/acquisition.hpp"
#include "tarvex/gaussian_process.hpp"
#include "tarvex/gp_sampler.hpp"
#include "tarvex/search_space.hpp"

namespace tarvex::detail {

// The models' training data: one row per trial that ran with parameters.
struct TrainingData {
    SearchSpace space;
    std::vector<std::string> layout;  // parameter names in column order
    Eigen::MatrixXd X;
    Eigen::VectorXd y;       // oriented so that smaller is better; imputed rows where real is 0
    std::vector<char> real;  // whether a row is an observation (not imputed)
    int n_obs = 0;
};

// A trial's value as a model takes it, oriented so that smaller is better; none for a trial
// that is not an observation.
using ValueOf = std::function<std::optional<double>(const Trial&)>;
// The single objective's value of an observed trial (observed()).
ValueOf single_value(bool maximize);

// The unit-cube block of one value, or the block of a missing value (1/k everywhere) where the
// space cannot encode it: absent, of another kind, an unknown choice, or outside the reals.
Eigen::VectorXd encode_value(const SearchSpace& space, const ParamSpec& spec, const ParamMap& params);

// The space follows every name the trials used, each with the newest distribution that the
// search space accepts; a name whose newest distribution it rejects, or in leave_out, is left out. Rows that are
// not observations take their trial's score in pruned, else the worst observed value.
TrainingData build_training_data(const std::vector<const Trial*>& trials, const ValueOf& value_of,
                                 const std::map<int, double>& pruned, const std::set<std::string>& leave_out = {});

// z = (y - mean) / sd, with sd = 1 when the variance is at most 1e-12.
Eigen::VectorXd standardise(const Eigen::VectorXd& y);
// The mean and sd that standardise uses.
std::pair<double, double> standard_scale(const Eigen::VectorXd& y);

// Values that span orders of magnitude (max − min over ten times median − min: a bent cigar, a
// valley's walls) leave the values near the best indistinguishable once standardised; they
// become y ← ln(y − min + c), c a tenth of median − min, which keeps their order and spreads the
// good ones. Where half the values are tied at the minimum, or with any ties unless ties_count,
// the median of the others stands in for the median. Others are left as they are.
void warp_wide_values(Eigen::VectorXd& y, bool ties_count = true);

// The unit-cube row of a recommendation; false if it misses a parameter or does not encode.
bool encode(const SearchSpace& space, const ParamMap& rec, Eigen::Ref<Eigen::RowVectorXd, 0, Eigen::InnerStride<>> row);

// The acquisition optimiser's setting for a recommendation over space.
AcqOptConfig acquisition_config(const GPSamplerConfig& config, const SearchSpace& space);

// A model of the sampler's kind (its priors, its noise fitted or not, its fitting budget) with
// this kernel, starting noise and number of restarts.
GaussianProcess configured_model(const GPSamplerConfig& config, std::unique_ptr<IKernel> kernel, double noise_var,
                                 int n_restarts);

// The recommendation x decoded, one value per parameter of space.
ParamMap decode(const SearchSpace& space, const Eigen::VectorXd& x);

}  // namespace tarvex::detail
