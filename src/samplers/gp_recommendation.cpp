#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <variant>

#include "tarvex/samplers.hpp"

namespace tarvex {
namespace {

// The unit-cube block of one value, or NaNs where the space cannot encode it: a value of
// another kind, or a choice the space does not know (the search space of a study may change
// from trial to trial). Rows holding NaN are left out of the model.
Eigen::VectorXd encode_value(const SearchSpace& space, const ParamSpec& spec, const ParamValue& v) {
    try {
        return space.to_unit_block(spec.name, v);
    } catch (const std::bad_variant_access&) {
    } catch (const std::invalid_argument&) {
    }
    return Eigen::VectorXd::Constant(space.unit_dim(spec.name), std::numeric_limits<double>::quiet_NaN());
}

// The unit-cube row of a complete configuration; false if rec misses a parameter or does not encode.
bool encode(const SearchSpace& space, const ParamMap& rec, Eigen::Ref<Eigen::RowVectorXd, 0, Eigen::InnerStride<>> row) {
    Eigen::Index c = 0;
    for (const ParamSpec& spec : space.specs) {
        const auto v = rec.find(spec.name);
        if (v == rec.end()) return false;
        const Eigen::VectorXd block = encode_value(space, spec, v->second);
        row.segment(c, block.size()) = block.transpose();
        c += block.size();
    }
    return row.allFinite();
}

}  // namespace

SearchSpace GPSampler::infer_space_and_data(const std::vector<Trial>& trials, Eigen::MatrixXd& X,
                                            Eigen::VectorXd& y) const {
    SearchSpace space;
    const auto first = std::find_if(trials.begin(), trials.end(), [](const Trial& t) { return !t.distributions.empty(); });
    if (first == trials.end()) return space;
    for (const auto& [name, dist] : first->distributions) space.add(name, dist);

    const auto n = static_cast<Eigen::Index>(trials.size());
    X.resize(n, space.total_unit_dim());
    y.resize(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const Trial& t = trials[static_cast<std::size_t>(i)];
        Eigen::Index c = 0;
        for (const ParamSpec& spec : space.specs) {
            const int k = space.unit_dim(spec.name);
            if (const auto v = t.params.find(spec.name); v != t.params.end()) {
                X.row(i).segment(c, k) = encode_value(space, spec, v->second).transpose();
            } else {
                X.row(i).segment(c, k).setConstant(1.0 / k);  // a missing float or int sits at the top
            }
            c += k;
        }
        y[i] = t.value();
    }
    return space;
}

ParamMap GPSampler::compute_recommendation(const Study& study, const Trial& trial) {
    // A trial whose value is NaN or infinite is kept in storage but cannot inform the model.
    std::vector<Trial> completed = study.trials();
    std::erase_if(completed, [](const Trial& t) {
        return t.state != TrialState::Complete || t.params.empty() ||
               (t.values.size() == 1 && !std::isfinite(t.values.front()));
    });
    const auto n_obs = static_cast<int>(completed.size());
    if (config.n_warmup > n_obs) return {};

    Eigen::MatrixXd X;
    Eigen::VectorXd y;
    const SearchSpace space = infer_space_and_data(completed, X, y);
    if (space.specs.empty()) return {};
    // The same for configurations that encode outside the reals (a fixed value of 0 on a log
    // scale) or not at all.
    {
        Eigen::Index kept = 0;
        for (Eigen::Index i = 0; i < X.rows(); ++i) {
            if (!X.row(i).allFinite()) continue;
            X.row(kept) = X.row(i);
            y[kept] = y[i];
            ++kept;
        }
        X.conservativeResize(kept, Eigen::NoChange);
        y.conservativeResize(kept);
        if (kept == 0) return {};
    }
    if (study.directions.front() == StudyDirection::Maximize) y = -y;
    const int d = space.total_unit_dim();

    // This study's running trials enter as placeholders at the mean observed value, which
    // steers concurrent trials apart.
    if (!pending.empty()) {
        const double liar = y.mean();
        Eigen::MatrixXd rows(static_cast<Eigen::Index>(pending.size()), d);
        Eigen::Index m = 0;
        for (const auto& [key, rec] : pending) {
            if (key.study_id == study.study_id && key.trial_id != trial.trial_id && encode(space, rec, rows.row(m))) ++m;
        }
        if (m > 0) {
            const Eigen::Index n = X.rows();
            X.conservativeResize(n + m, Eigen::NoChange);
            X.bottomRows(m) = rows.topRows(m);
            y.conservativeResize(n + m);
            y.tail(m).setConstant(liar);
        }
    }

    const auto N = static_cast<double>(y.size());
    const double mu = y.sum() / N;
    const double v = y.squaredNorm() / N - mu * mu;
    const double sigma = v > 1e-12 ? std::sqrt(v) : 1.0;
    const Eigen::VectorXd z = (y.array() - mu) / sigma;

    GaussianProcess gp(make_kernel(config.kernel, 1.0, 1.0), config.noise_var, config.n_restarts);
    gp.use_priors = config.use_priors;
    gp.fit_noise = config.fit_noise;
    gp.fit(X, z, true);
    const AcqOptConfig cfg{config.acq, config.xi, config.beta, config.auto_beta, config.n_cand, 10};
    const Eigen::VectorXd x = optimise_acquisition(gp, d, z.minCoeff(), n_obs, cfg, rng);

    ParamMap rec;
    Eigen::Index c = 0;
    for (const ParamSpec& spec : space.specs) {
        const int k = space.unit_dim(spec.name);
        rec.emplace(spec.name, space.from_unit_block(spec.name, x.segment(c, k)));
        c += k;
    }
    pending.insert_or_assign(TrialKey{study.study_id, trial.trial_id}, rec);
    return rec;
}

}  // namespace tarvex
