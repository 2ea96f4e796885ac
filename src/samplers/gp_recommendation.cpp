#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <variant>

#include "../gp/quadratic_mean.hpp"
#include "gp_conditional.hpp"
#include "gp_multi_objective.hpp"
#include "gp_objectives.hpp"
#include "gp_principal_axes.hpp"
#include "gp_state.hpp"
#include "gp_training.hpp"
#include "gp_trust_region.hpp"
#include "quadratic_step.hpp"
#include "seen_configs.hpp"
#include "tarvex/gp_sampler.hpp"
#include "tarvex/history.hpp"
#include "trial_scores.hpp"

namespace tarvex {
namespace {

using detail::TrainingData;

// The rows of the real observations (those of eligible, where given), the best (lowest z) k first.
std::vector<Eigen::Index> best_first(const TrainingData& data, const Eigen::VectorXd& z, std::size_t k,
                                     const std::vector<char>* eligible = nullptr) {
    std::vector<Eigen::Index> rows;
    for (Eigen::Index i = 0; i < static_cast<Eigen::Index>(data.real.size()); ++i) {
        const auto r = static_cast<std::size_t>(i);
        if (data.real[r] && (!eligible || (*eligible)[r])) rows.push_back(i);
    }
    k = std::min(k, rows.size());
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(k), rows.end(),
                      [&](Eigen::Index a, Eigen::Index b) { return z[a] < z[b]; });
    rows.resize(k);
    return rows;
}

// The rows of the m real observations nearest the one with the best value, nearest first: the
// best one leads.
std::vector<Eigen::Index> nearest_to_best(const TrainingData& data, const Eigen::VectorXd& values, std::size_t m) {
    const Eigen::RowVectorXd centre = data.X.row(best_first(data, values, 1).front());
    return best_first(data, (data.X.rowwise() - centre).rowwise().squaredNorm(), m);
}

// The acquisition optimiser's snap for a search kept inside [lower, upper]: each point clamped
// to the box, then moved to the configuration it stands for.
std::function<void(Eigen::Ref<Eigen::VectorXd>)> snap_within(const SearchSpace& space, Eigen::VectorXd lower,
                                                             Eigen::VectorXd upper) {
    return [&space, lower = std::move(lower), upper = std::move(upper)](Eigen::Ref<Eigen::VectorXd> x) {
        x = x.cwiseMax(lower).cwiseMin(upper);
        space.snap(x);
    };
}

// A proposal from the model of the m real observations nearest the best one, inside their box.
Eigen::VectorXd local_proposal(const TrainingData& data, const GPSamplerConfig& config, int m, std::mt19937_64& rng) {
    const std::vector<Eigen::Index> near = nearest_to_best(data, data.y, static_cast<std::size_t>(m));
    const Eigen::MatrixXd X = data.X(near, Eigen::all);
    const Eigen::RowVectorXd centre = X.row(0);
    const Eigen::VectorXd z = detail::standardise(data.y(near));
    GaussianProcess gp(make_kernel(config.kernel, 1.0, 1.0), config.noise_var, 1);
    gp.use_priors = config.use_priors;
    gp.fit_noise = config.fit_noise;
    gp.fit(X, z, true);
    AcqOptConfig cfg = detail::acquisition_config(config, data.space);
    cfg.snap = snap_within(data.space, X.colwise().minCoeff(), X.colwise().maxCoeff());
    cfg.n_cand = std::min(config.n_cand, 256);  // the box is small: local candidates do most of the work
    cfg.centres = centre;
    cfg.n_local = 3 * config.n_local;
    return optimise_acquisition(gp, static_cast<int>(X.cols()), z.minCoeff(), m, cfg, rng);
}

// A Newton step on a quadratic fitted to the values themselves (not warped: near a smooth
// optimum they are close to a quadratic, their logarithms a funnel) of the observations nearest
// the best one, inside their box; none where no minimum fits, or where the space is not all
// continuous. Near the optimum the values differ by less than a Gaussian process's noise floor;
// the fitted quadratic still resolves them.
std::optional<Eigen::VectorXd> quadratic_proposal(const TrainingData& data, const Eigen::VectorXd& values) {
    if ((data.space.continuous_mask().array() == 0).any()) return std::nullopt;
    const auto m = static_cast<std::size_t>(detail::quadratic_rows(data.X.cols(), data.n_obs));
    const std::vector<Eigen::Index> near = nearest_to_best(data, values, m);
    const Eigen::MatrixXd X = data.X(near, Eigen::all);
    auto step = detail::quadratic_step(X, values(near), X.row(0).transpose(), X.colwise().minCoeff().transpose(),
                                       X.colwise().maxCoeff().transpose());
    if (step) data.space.snap(*step);
    return step;
}

// Where it fits the observations better (a higher marginal likelihood), the proposal of a model
// of every row in coordinates turned onto the principal axes of the better half of the
// observations: the ARD lengthscales then follow a valley or an ill-conditioned bowl that lies
// across the parameters, as they cannot in the parameters' own coordinates. The acquisition is
// searched in the turned coordinates, each point passing through the cube's own snap.
std::optional<Eigen::VectorXd> turned_proposal(const GPSamplerConfig& config, const TrainingData& data,
                                               const Eigen::VectorXd& z, double plain_likelihood,
                                               const std::vector<Eigen::Index>& centres, AcqOptConfig cfg,
                                               std::mt19937_64& rng) {
    const auto d = static_cast<int>(data.X.cols());
    const auto half = static_cast<std::size_t>(std::max(d + 1, static_cast<int>(data.n_obs) / 2));
    const detail::PrincipalAxes axes(data.X(best_first(data, z, half), Eigen::all));
    const Eigen::MatrixXd V = axes.turned(data.X);
    GaussianProcess gp =
        detail::configured_model(config, make_kernel(config.kernel, 1.0, 1.0), config.noise_var, config.n_restarts);
    gp.fit(V, z, true);
    if (!(gp.log_marginal_likelihood() > plain_likelihood)) return std::nullopt;
    const auto snap = std::move(cfg.snap);
    cfg.snap = [&axes, &snap](Eigen::Ref<Eigen::VectorXd> v) {
        Eigen::VectorXd x = axes.unturned(v);
        snap(x);
        v = axes.turned(x);
    };
    cfg.centres = V(centres, Eigen::all);
    Eigen::VectorXd x = axes.unturned(optimise_acquisition(gp, d, z[centres.front()], data.n_obs, cfg, rng));
    snap(x);
    return x;
}

// Where the observations lie in a bowl, a model whose mean is a convex quadratic (and whose
// kernel then models the ripples over it) fits them better and, beyond them, leads down the bowl
// rather than back to the average. It replaces gp where its marginal likelihood, less a BIC
// penalty of half a log n per coefficient, is the higher; its hyperparameters start from gp's.
void take_bowl_if_better(const GPSamplerConfig& config, GaussianProcess& gp, const Eigen::MatrixXd& X,
                         const Eigen::VectorXd& z) {
    GaussianProcess bowl = detail::configured_model(config, gp.kernel->clone(), gp.noise_var, 0);
    bowl.quadratic_mean = true;
    bowl.fit(X, z, true);
    const auto coefficients = static_cast<double>((bowl.mean_coef.array() != 0).count());
    const double penalty = 0.5 * coefficients * std::log(static_cast<double>(X.rows()));
    if (bowl.log_marginal_likelihood() - penalty > gp.log_marginal_likelihood()) gp = std::move(bowl);
}

// The point maximising the acquisition of a model of every trial, running ones as placeholders
// at the mean observed value, which steers concurrent trials apart. With constraints, the
// improvement is over the best feasible observation and weighed by the probability of
// feasibility; while no observation is feasible, that probability alone is maximised.
Eigen::VectorXd global_proposal(const GPSamplerConfig& config, const std::vector<const ParamMap*>& pending,
                                TrainingData& data, const detail::ConstraintFits& constraints,
                                detail::GPStudyState& memory, std::mt19937_64& rng) {
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
            if (detail::encode(space, *params, rows.row(m))) ++m;
        }
        X.conservativeResize(n_rows + m, Eigen::NoChange);
        X.bottomRows(m) = rows.topRows(m);
        y.conservativeResize(n_rows + m);
        y.tail(m).setConstant(liar);
    }
    const Eigen::VectorXd z = detail::standardise(y);

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
    GaussianProcess gp =
        detail::configured_model(config, std::move(kernel), noise_var, warm_fits == 0 ? config.n_restarts : 0);
    gp.fit(X, z, true);
    memory.layout = data.layout;
    memory.kernel_params = gp.kernel->get_params();
    memory.noise_var = gp.noise_var;
    memory.fits_since_restarts = warm_fits;
    if (config.quadratic_mean && X.rows() >= detail::bowl_rows(d)) take_bowl_if_better(config, gp, X, z);

    AcqOptConfig cfg = detail::acquisition_config(config, space);
    cfg.constraints = constraints.view;
    const auto k = static_cast<std::size_t>(config.n_centres);
    std::vector<Eigen::Index> centres;
    if (constraints.view.empty()) {
        centres = best_first(data, z, k);
    } else if (constraints.any_feasible()) {
        centres = best_first(data, z, k, &constraints.feasible);
    } else {
        cfg.feasibility_only = true;  // and the local candidates go around the least violation
        const Eigen::VectorXd violation = Eigen::Map<const Eigen::VectorXd>(
            constraints.violation.data(), static_cast<Eigen::Index>(constraints.violation.size()));
        centres = best_first(data, violation, k);
    }
    cfg.centres = X(centres, Eigen::all);
    if (config.trust_region && constraints.view.empty()) {
        detail::TrustRegion region = detail::trust_region(data, config.n_warmup);
        cfg.snap = snap_within(space, std::move(region.lower), std::move(region.upper));
    }
    // Turned coordinates mix the parameters, so only where all are continuous; the constraints'
    // models know only the parameters' own coordinates.
    if (config.principal_axes && constraints.view.empty() && data.n_obs >= 3 * d &&
        (space.continuous_mask().array() != 0).all()) {
        if (auto x = turned_proposal(config, data, z, gp.log_marginal_likelihood(), centres, cfg, rng)) return *x;
    }
    return optimise_acquisition(gp, d, z[centres.front()], data.n_obs, cfg, rng);
}

}  // namespace

ParamMap GPSampler::propose(const History& history, const Trial&, SamplerState* state) {
    detail::require_single_objective(history.directions.size(), config.multi_objective);
    detail::require_reference(history.directions.size(), config.reference_point);
    const bool several = history.directions.size() > 1;
    detail::GPStudyState scratch;  // for a study that holds no state of this sampler
    auto* const held = dynamic_cast<detail::GPStudyState*>(state);
    detail::GPStudyState& memory = held ? *held : scratch;
    std::vector<const Trial*> ran;  // every finished trial that used parameters
    for (const auto& [id, t] : history.trials) {
        if (!t->params.empty() && t->state != TrialState::Running) ran.push_back(t.get());
    }
    const bool maximize = history.directions.front() == StudyDirection::Maximize;
    const std::scoped_lock lock(mutex);
    const bool by_hypervolume = several && !config.random_scalarisations;
    const detail::ValueOf value_of = !several         ? detail::single_value(maximize)
                                     : by_hypervolume ? detail::all_objectives(history.directions.size())
                                                      : detail::scalarised_values(ran, history.directions, rng);
    const auto n_obs = std::count_if(ran.begin(), ran.end(), [&](const Trial* t) { return value_of(*t).has_value(); });
    if (config.n_warmup > n_obs || n_obs == 0) return {};

    // Pruned trials are ranked by one objective's reports.
    const std::map<int, double> pruned =
        several ? std::map<int, double>{} : detail::pruned_scores(history.trials, maximize);
    const bool constrained =
        std::any_of(ran.begin(), ran.end(), [](const Trial* t) { return !t->constraints.empty(); });
    if (!several && !constrained && detail::is_conditional(ran)) {
        return detail::conditional_proposal(config, ran, history, pruned, rng);
    }

    TrainingData data = detail::build_training_data(ran, value_of, pruned);
    const Eigen::VectorXd values = data.y;
    if (config.warp_values) detail::warp_wide_values(data.y);
    const SearchSpace& space = data.space;
    if (space.specs.empty()) return {};
    const int d = space.total_unit_dim();
    const int m_local = std::max(config.min_local_rows, 5 * d);
    const detail::ConstraintFits constraints =
        constrained ? detail::fit_constraints(data, ran, config) : detail::ConstraintFits{};
    // The local model knows nothing of constraints, nor of several objectives.
    const bool local = config.local_every > 0 && n_obs >= 2 * m_local && constraints.view.empty() && !by_hypervolume &&
                       memory.recommendations++ % config.local_every == config.local_every - 1;
    // Every other local turn (the first, third, ...), a Newton step where a quadratic fits.
    const bool newton_turn = local && (memory.recommendations / config.local_every) % 2 == 1;
    const std::optional<Eigen::VectorXd> step = newton_turn ? quadratic_proposal(data, values) : std::nullopt;
    const Eigen::VectorXd x = by_hypervolume
                                  ? detail::ehvi_proposal(config, ran, history, constraints, data, memory, rng)
                              : step  ? *step
                              : local ? local_proposal(data, config, m_local, rng)
                                      : global_proposal(config, history.pending, data, constraints, memory, rng);
    const detail::SeenConfigs seen(data.layout, history);
    return detail::unseen_config(space, seen, detail::decode(space, x), rng);
}

}  // namespace tarvex
