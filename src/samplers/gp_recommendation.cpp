#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <variant>

#include "tarvex/samplers.hpp"

namespace tarvex {

// The models' training data: one row per trial that ran with parameters.
struct detail::TrainingData {
    SearchSpace space;
    std::vector<std::string> layout;  // parameter names in column order
    Eigen::MatrixXd X;
    Eigen::VectorXd y;       // oriented so that smaller is better; imputed rows at the worst observed value
    std::vector<char> real;  // whether a row is an observation (not imputed)
    int n_obs = 0;
};

namespace {

using detail::TrainingData;

constexpr int kRefine = 10;          // best candidates refined by L-BFGS
constexpr double kRefineTol = 1e-9;  // a refinement stops once a step gains less than this, relatively
// The acquisition's optimum sits next to the best observations once the model knows the
// landscape; candidates around them, down to a thousandth of the cube, find it precisely.
constexpr int kCentres = 3;          // best observations that local candidates surround
constexpr double kLocalScale = 0.1;  // largest spread of the local candidates, in unit-cube coordinates
// A study's fit starts from its previous one, which moves little with one more observation;
// random restarts, which look for other optima of the likelihood, run on every tenth fit.
constexpr int kRestartEvery = 10;
// Standardised over all observations, the values near the optimum differ by less than the
// model's noise floor, and the global model stops resolving them. So every third
// recommendation of a study with enough observations comes from a local model: the
// observations nearest the best one, standardised on their own values.
constexpr int kLocalEvery = 3;
constexpr int kMinLocalRows = 25;  // a local model takes max(25, 5 d) observations


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
bool encode(const SearchSpace& space, const ParamMap& rec, Eigen::Ref<Eigen::RowVectorXd, 0, Eigen::InnerStride<>> row) {
    Eigen::Index c = 0;
    for (const ParamSpec& spec : space.specs) {
        if (!rec.count(spec.name)) return false;
        const Eigen::VectorXd block = encode_value(space, spec, rec);
        row.segment(c, block.size()) = block.transpose();
        c += block.size();
    }
    return row.allFinite();
}

}  // namespace

void GPSampler::before_study(const Study& study) {
    if (study.directions.size() != 1) {
        throw std::invalid_argument("GPSampler: a multi-objective study (" + std::to_string(study.directions.size()) +
                                    " directions) cannot be sampled by a GP over one value; use RandomSampler.");
    }
}

namespace {

// The acquisition optimiser's setting for a recommendation over space.
AcqOptConfig acquisition_config(const GPSamplerConfig& config, const SearchSpace& space) {
    AcqOptConfig cfg;
    cfg.acq = config.acq;
    cfg.xi = config.xi;
    cfg.beta = config.beta;
    cfg.auto_beta = config.auto_beta;
    cfg.n_cand = config.n_cand;
    cfg.n_refine = kRefine;
    cfg.snap = [&space](Eigen::Ref<Eigen::VectorXd> x) { space.snap(x); };
    cfg.free = space.continuous_mask();
    cfg.n_local = config.n_local;
    cfg.local_scale = kLocalScale;
    cfg.rel_ftol = kRefineTol;
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

}  // namespace

ParamMap GPSampler::compute_recommendation(const Study& study, const Trial& trial) {
    before_study(study);  // also for samplers used without optimize
    std::erase_if(memories, [](const auto& kv) { return kv.second.storage.expired(); });
    StudyMemory& memory = memories[study.study_id];
    if (memory.storage.expired()) memory.storage = study.storage;
    memory.trials.refresh(study);
    std::vector<const Trial*> ran;      // every finished trial that used parameters
    std::vector<const Trial*> running;  // trials the storage records as running (in any process)
    for (const auto& [id, t] : memory.trials.trials()) {
        if (t->params.empty()) continue;
        if (t->state != TrialState::Running) {
            ran.push_back(t.get());
        } else if (id != trial.trial_id) {
            running.push_back(t.get());
        }
    }
    const auto n_obs = std::count_if(ran.begin(), ran.end(), [](const Trial* t) { return observed(*t); });
    if (config.n_warmup > n_obs || n_obs == 0) return {};

    TrainingData data = build_training_data(ran, study.directions.front() == StudyDirection::Maximize);
    const SearchSpace& space = data.space;
    if (space.specs.empty()) return {};
    const int d = space.total_unit_dim();
    const int m_local = std::max(kMinLocalRows, 5 * d);
    const bool local = n_obs >= 2 * m_local && memory.recommendations++ % kLocalEvery == kLocalEvery - 1;
    const Eigen::VectorXd x =
        local ? local_proposal(data, config, m_local, rng) : global_proposal(study, trial, running, data, memory);

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

Eigen::VectorXd GPSampler::global_proposal(const Study& study, const Trial& trial,
                                           const std::vector<const Trial*>& running, TrainingData& data,
                                           StudyMemory& memory) {
    const SearchSpace& space = data.space;
    const int d = space.total_unit_dim();
    Eigen::MatrixXd& X = data.X;
    Eigen::VectorXd& y = data.y;
    const Eigen::Index n_rows = X.rows();

    // This study's running trials enter as placeholders at the mean observed value, which steers
    // concurrent trials apart: those this sampler recommended, and those the storage records as
    // running elsewhere (other processes), with the parameters they have so far.
    if (!pending.empty() || !running.empty()) {
        double liar = 0;
        for (Eigen::Index i = 0; i < n_rows; ++i) liar += data.real[i] ? y[i] / data.n_obs : 0.0;
        Eigen::MatrixXd rows(static_cast<Eigen::Index>(pending.size() + running.size()), d);
        Eigen::Index m = 0;
        for (const auto& [key, rec] : pending) {
            if (key.study_id == study.study_id && key.trial_id != trial.trial_id && encode(space, rec, rows.row(m))) ++m;
        }
        for (const Trial* t : running) {
            if (!pending.count(TrialKey{study.study_id, t->trial_id}) && encode(space, t->params, rows.row(m))) ++m;
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
        warm_fits = (memory.fits_since_restarts + 1) % kRestartEvery;
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
    const std::vector<Eigen::Index> centres = best_first(data, z, kCentres);  // the best observations
    cfg.centres = X(centres, Eigen::all);
    return optimise_acquisition(gp, d, z[centres.front()], data.n_obs, cfg, rng);
}

}  // namespace tarvex
