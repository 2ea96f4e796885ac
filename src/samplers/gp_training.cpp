#include "gp_training.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <variant>

#include "trial_scores.hpp"

namespace tarvex::detail {

Eigen::VectorXd encode_value(const SearchSpace& space, const ParamSpec& spec, const ParamMap& params) {
    const int k = space.unit_dim(spec.name);
    if (const auto v = params.find(spec.name); v != params.end()) {
        try {
            Eigen::VectorXd block = space.to_unit_block(spec.name, v->second);
            if (block.allFinite()) return block;
        } catch (const std::bad_variant_access&) {
        } catch (const std::invalid_argument&) {
        }
    }
    return Eigen::VectorXd::Constant(k, 1.0 / k);
}

ValueOf single_value(bool maximize) {
    return [maximize](const Trial& t) -> std::optional<double> {
        if (!observed(t)) return std::nullopt;
        return maximize ? -t.values.front() : t.values.front();
    };
}

TrainingData build_training_data(const std::vector<const Trial*>& trials, const ValueOf& value_of,
                                 const std::map<int, double>& pruned, const std::set<std::string>& leave_out) {
    TrainingData data;
    std::vector<std::string> order;
    std::unordered_map<std::string, const Distribution*> newest;
    for (const Trial* t : trials) {  // ascending trial_id
        for (const auto& [name, dist] : t->distributions) {
            if (!leave_out.count(name) && newest.insert_or_assign(name, &dist).second) order.push_back(name);
        }
    }
    std::sort(order.begin(), order.end());  // a fixed column order, whatever the maps' orders
    for (const std::string& name : order) {
        try {
            data.space.add(name, *newest.at(name));
            data.layout.push_back(name);
        } catch (const std::invalid_argument&) {
        }
    }
    const auto n = static_cast<Eigen::Index>(trials.size());
    data.X.resize(n, data.space.total_unit_dim());
    data.y.resize(n);
    data.real.resize(trials.size());
    double worst = -std::numeric_limits<double>::infinity();
    for (Eigen::Index i = 0; i < n; ++i) {
        const Trial& t = *trials[static_cast<std::size_t>(i)];
        Eigen::Index c = 0;
        for (const ParamSpec& spec : data.space.specs) {
            const Eigen::VectorXd block = encode_value(data.space, spec, t.params);
            data.X.row(i).segment(c, block.size()) = block.transpose();
            c += block.size();
        }
        const std::optional<double> value = value_of(t);
        data.real[i] = value.has_value();
        if (data.real[i]) {
            data.y[i] = *value;
            worst = std::max(worst, data.y[i]);
            ++data.n_obs;
        }
    }
    for (Eigen::Index i = 0; i < n; ++i) {
        if (data.real[i]) continue;
        // A pruned trial counts as what its last report ranks as; failed and NaN ones, and pruned
        // ones with no completed peer, as bad as the worst seen.
        const auto score = pruned.find(trials[static_cast<std::size_t>(i)]->trial_id);
        data.y[i] = score != pruned.end() ? score->second : worst;
    }
    return data;
}

namespace {

// Half the mean and half the sd of y, the sd 1 where the variance is at most 1e-12. Halves and a
// scaled sum of squares keep every step finite for any finite y.
std::pair<double, double> half_scale(const Eigen::VectorXd& y) {
    const auto N = static_cast<double>(y.size());
    const double half_mean = (0.5 * y / N).sum();
    const Eigen::VectorXd half_dev = (0.5 * y).array() - half_mean;  // (y - mean) / 2
    const double scale = half_dev.cwiseAbs().maxCoeff();
    const double half_sd = scale > 0 ? scale * std::sqrt((half_dev / scale).squaredNorm() / N) : 0.0;
    return {half_mean, half_sd > 5e-7 ? half_sd : 0.5};
}

}  // namespace

std::pair<double, double> standard_scale(const Eigen::VectorXd& y) {
    const auto [half_mean, half_sd] = half_scale(y);
    return {2 * half_mean, 2 * half_sd};
}

Eigen::VectorXd standardise(const Eigen::VectorXd& y) {
    const auto [half_mean, half_sd] = half_scale(y);
    return (((0.5 * y).array() - half_mean) / half_sd).matrix();
}

void warp_wide_values(Eigen::VectorXd& y, bool ties_count) {
    if (y.size() < 3 || !y.allFinite()) return;
    const double low = y.minCoeff(), span = y.maxCoeff() - low;
    const auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    std::vector<double> gaps(y.data(), y.data() + y.size()), above;
    for (double& g : gaps) g -= low;
    double typical = median(gaps);
    // Half the values tied at the minimum (an objective that is 0 along a whole edge of the
    // space) say nothing of how widely the values range: median − min would be 1e-17 and their
    // logarithms outliers that the model chases to the edges. The others' median stands in.
    // Fewer ties still pull the median down and may set the warp off; then proposals at the
    // edges make more of them.
    if (!(typical > 1e-12 * span) || !ties_count) {
        std::copy_if(gaps.begin(), gaps.end(), std::back_inserter(above), [&](double g) { return g > 1e-12 * span; });
        if (above.size() < 2) return;
        typical = median(std::move(above));
    }
    if (span < 10 * typical) return;
    y = ((y.array() - low) + 0.1 * typical).log();
}

bool encode(const SearchSpace& space, const ParamMap& rec,
            Eigen::Ref<Eigen::RowVectorXd, 0, Eigen::InnerStride<>> row) {
    Eigen::Index c = 0;
    for (const ParamSpec& spec : space.specs) {
        if (!rec.count(spec.name)) return false;
        const Eigen::VectorXd block = encode_value(space, spec, rec);
        row.segment(c, block.size()) = block.transpose();
        c += block.size();
    }
    return row.allFinite();
}

// The acquisition optimiser's setting for a recommendation over space. Both records hold the
// acquisition's own five settings, which the compiled module fixes on each; the rest are the
// optimiser's tuning, which lives in GPSamplerConfig.
AcqOptConfig acquisition_config(const GPSamplerConfig& config, const SearchSpace& space) {
    return AcqOptConfig{.acq = config.acq,
                        .xi = config.xi,
                        .beta = config.beta,
                        .auto_beta = config.auto_beta,
                        .n_cand = config.n_cand,
                        .n_refine = config.n_refine,
                        .snap = [&space](Eigen::Ref<Eigen::VectorXd> x) { space.snap(x); },
                        .free = space.continuous_mask(),
                        .centres = {},
                        .n_local = config.n_local,
                        .local_scale = config.local_scale,
                        .rel_ftol = config.refine_tol,
                        .constraints = {},
                        .feasibility_only = false};
}

GaussianProcess configured_model(const GPSamplerConfig& config, std::unique_ptr<IKernel> kernel, double noise_var,
                                 int n_restarts) {
    GaussianProcess gp(std::move(kernel), noise_var, n_restarts);
    gp.use_priors = config.use_priors;
    gp.fit_noise = config.fit_noise;
    gp.max_fit_rows = config.max_fit_rows;
    return gp;
}

ParamMap decode(const SearchSpace& space, const Eigen::VectorXd& x) {
    ParamMap rec;
    Eigen::Index c = 0;
    for (const ParamSpec& spec : space.specs) {
        const int k = space.unit_dim(spec.name);
        rec.emplace(spec.name, space.from_unit_block(spec.name, x.segment(c, k)));
        c += k;
    }
    return rec;
}

}  // namespace tarvex::detail
