#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <variant>

#include "gp_state.hpp"
#include "tarvex/gp_sampler.hpp"
#include "tarvex/history.hpp"

namespace tarvex {
namespace {

// The models' training data: one row per trial that ran with parameters.
struct TrainingData {
    SearchSpace space;
    std::vector<std::string> layout;  // parameter names in column order
    Eigen::MatrixXd X;
    Eigen::VectorXd y;       // oriented so that smaller is better; imputed rows at the worst observed value
    std::vector<char> real;  // whether a row is an observation (not imputed)
    int n_obs = 0;
};

// Whether a trial's outcome is an observation the model can take as it is.
bool observed(const Trial& t) {
    return t.state == TrialState::Complete && t.values.size() == 1 && std::isfinite(t.values.front());
}

// The unit-cube block of one value, or the block of a missing value (1/k everywhere) where the
// space cannot encode it: absent, of another kind, an unknown choice, or outside the reals.
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

// The space follows every name the trials used, each with the newest distribution that the
// search space accepts; a name whose newest distribution it rejects is left out.
TrainingData build_training_data(const std::vector<const Trial*>& trials, bool maximize) {
    TrainingData data;
    std::vector<std::string> order;
    std::unordered_map<std::string, const Distribution*> newest;
    for (const Trial* t : trials) {  // ascending trial_id
        for (const auto& [name, dist] : t->distributions) {
            if (newest.insert_or_assign(name, &dist).second) order.push_back(name);
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
        data.real[i] = observed(t);
        if (data.real[i]) {
            data.y[i] = maximize ? -t.values.front() : t.values.front();
            worst = std::max(worst, data.y[i]);
            ++data.n_obs;
        }
    }
    for (Eigen::Index i = 0; i < n; ++i) {
        if (!data.real[i]) data.y[i] = worst;  // failed, pruned, NaN: as bad as the worst seen
    }
    return data;
}

// z = (y - mean) / sd, with sd = 1 when the variance is at most 1e-12. Halves and a scaled sum
// of squares keep every step finite for any finite y.
Eigen::VectorXd standardise(const Eigen::VectorXd& y) {
    const auto N = static_cast<double>(y.size());
    const double half_mean = (0.5 * y / N).sum();
    const Eigen::VectorXd half_dev = (0.5 * y).array() - half_mean;  // (y - mean) / 2
    const double scale = half_dev.cwiseAbs().maxCoeff();
    const double half_sd = scale > 0 ? scale * std::sqrt((half_dev / scale).squaredNorm() / N) : 0.0;
    return half_sd > 5e-7 ? Eigen::VectorXd(half_dev / half_sd) : Eigen::VectorXd(2 * half_dev);
}

// The unit-cube row of a recommendation; false if it misses a parameter or does not encode.
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

// The acquisition optimiser's setting for a recommendation over space.
AcqOptConfig acquisition_config(const GPSamplerConfig& config, const SearchSpace& space) {
    AcqOptConfig cfg;
    cfg.acq = config.acq;
    cfg.xi = config.xi;
    cfg.beta = config.beta;
    cfg.auto_beta = config.auto_beta;
    cfg.n_cand = config.n_cand;
    cfg.n_refine = config.n_refine;
    cfg.snap = [&space](Eigen::Ref<Eigen::VectorXd> x) { space.snap(x); };
    cfg.free = space.continuous_mask();
    cfg.n_local = config.n_local;
    cfg.local_scale = config.local_scale;
    cfg.rel_ftol = config.refine_tol;
    return cfg;
}

// The rows of the real observations, the best (lowest z) k first.
std::vector<Eigen::Index> best_first(const TrainingData& data, const Eigen::VectorXd& z, std::size_t k) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < static_cast<Eigen::Index>(data.real.size()); ++i) {
        if (data.real[static_cast<std::size_t>(i)]) rows.push_back(i);
    }
    k = std::min(k, rows.size());
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(k), rows.end(),
                      [&](Eigen::Index a, Eigen::Index b) { return z[a] < z[b]; });
    rows.resize(k);
    return rows;
}

// A proposal from the model of the m real observations nearest the best one, inside their box.
Eigen::VectorXd local_proposal(const TrainingData& data, const GPSamplerConfig& config, int m, std::mt19937_64& rng) {
    const Eigen::RowVectorXd centre = data.X.row(best_first(data, data.y, 1).front());
    std::vector<Eigen::Index> near = best_first(data, (data.X.rowwise() - centre).rowwise().squaredNorm(), m);
    const Eigen::MatrixXd X = data.X(near, Eigen::all);
    const Eigen::VectorXd z = standardise(data.y(near));
    GaussianProcess gp(make_kernel(config.kernel, 1.0, 1.0), config.noise_var, 1);
    gp.use_priors = config.use_priors;
    gp.fit_noise = config.fit_noise;
    gp.fit(X, z, true);
    AcqOptConfig cfg = acquisition_config(config, data.space);
    const Eigen::VectorXd lower = X.colwise().minCoeff(), upper = X.colwise().maxCoeff();
    cfg.snap = [&](Eigen::Ref<Eigen::VectorXd> x) {
        x = x.cwiseMax(lower).cwiseMin(upper);
        data.space.snap(x);
    };
    cfg.n_cand = std::min(config.n_cand, 256);  // the box is small: local candidates do most of the work
    cfg.centres = centre;
    cfg.n_local = 3 * config.n_local;
    return optimise_acquisition(gp, static_cast<int>(X.cols()), z.minCoeff(), m, cfg, rng);
}

// The point maximising the acquisition of a model of every trial, running ones as placeholders
// at the mean observed value, which steers concurrent trials apart.
Eigen::VectorXd global_proposal(const GPSamplerConfig& config, const std::vector<const ParamMap*>& pending,
                                TrainingData& data, detail::GPStudyState& memory, std::mt19937_64& rng) {
    const SearchSpace& space = data.space;
    const int d = space.total_unit_dim();
    Eigen::MatrixXd& X = data.X;
    Eigen::VectorXd& y = data.y;
    const Eigen::Index n_rows = X.rows();
    if (!pending.empty()) {
        double liar = 0;
        for (Eigen::Index i = 0; i < n_rows; ++i) liar += data.real[i] ? y[i] / data.n_obs : 0.0;
        Eigen::MatrixXd rows(static_cast<Eigen::Index>(pending.size()), d);
        Eigen::Index m = 0;
        for (const ParamMap* params : pending) {
            if (encode(space, *params, rows.row(m))) ++m;
        }
        X.conservativeResize(n_rows + m, Eigen::NoChange);
        X.bottomRows(m) = rows.topRows(m);
        y.conservativeResize(n_rows + m);
        y.tail(m).setConstant(liar);
    }
    const Eigen::VectorXd z = standardise(y);

    // The fit starts where this study's last one ended, while the space keeps its layout.
    auto kernel = make_kernel(config.kernel, 1.0, 1.0);
    kernel->set_input_dim(d);
    double noise_var = config.noise_var;
    int warm_fits = 0;
    if (memory.layout == data.layout && memory.kernel_params.size() == kernel->n_params()) {
        kernel->set_params(memory.kernel_params);
        if (config.fit_noise) noise_var = memory.noise_var;
        warm_fits = (memory.fits_since_restarts + 1) % config.restart_every;
    }
    GaussianProcess gp(std::move(kernel), noise_var, warm_fits == 0 ? config.n_restarts : 0);
    gp.use_priors = config.use_priors;
    gp.fit_noise = config.fit_noise;
    gp.max_fit_rows = config.max_fit_rows;
    gp.fit(X, z, true);
    memory.layout = data.layout;
    memory.kernel_params = gp.kernel->get_params();
    memory.noise_var = gp.noise_var;
    memory.fits_since_restarts = warm_fits;

    AcqOptConfig cfg = acquisition_config(config, space);
    const std::vector<Eigen::Index> centres = best_first(data, z, static_cast<std::size_t>(config.n_centres));
    cfg.centres = X(centres, Eigen::all);
    return optimise_acquisition(gp, d, z[centres.front()], data.n_obs, cfg, rng);
}

}  // namespace

ParamMap GPSampler::propose(const History& history, const Trial&, SamplerState* state) {
    detail::require_single_objective(history.directions.size());
    detail::GPStudyState scratch;  // for a study that holds no state of this sampler
    auto* const held = dynamic_cast<detail::GPStudyState*>(state);
    detail::GPStudyState& memory = held ? *held : scratch;
    std::vector<const Trial*> ran;  // every finished trial that used parameters
    for (const auto& [id, t] : history.trials) {
        if (!t->params.empty() && t->state != TrialState::Running) ran.push_back(t.get());
    }
    const auto n_obs = std::count_if(ran.begin(), ran.end(), [](const Trial* t) { return observed(*t); });
    if (config.n_warmup > n_obs || n_obs == 0) return {};

    TrainingData data = build_training_data(ran, history.directions.front() == StudyDirection::Maximize);
    const SearchSpace& space = data.space;
    if (space.specs.empty()) return {};
    const int d = space.total_unit_dim();
    const int m_local = std::max(config.min_local_rows, 5 * d);
    const std::scoped_lock lock(mutex);
    const bool local = config.local_every > 0 && n_obs >= 2 * m_local &&
                       memory.recommendations++ % config.local_every == config.local_every - 1;
    const Eigen::VectorXd x = local ? local_proposal(data, config, m_local, rng)
                                    : global_proposal(config, history.pending, data, memory, rng);

    ParamMap rec;
    Eigen::Index c = 0;
    for (const ParamSpec& spec : space.specs) {
        const int k = space.unit_dim(spec.name);
        rec.emplace(spec.name, space.from_unit_block(spec.name, x.segment(c, k)));
        c += k;
    }
    return rec;
}

}  // namespace tarvex
