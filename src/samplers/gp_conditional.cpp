#include "gp_conditional.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <unordered_map>

#include "gp_training.hpp"
#include "seen_configs.hpp"
#include "trial_scores.hpp"

namespace tarvex::detail {
namespace {

using Names = std::vector<std::string>;

Names names_of(const Trial& t) {
    Names names;
    for (const auto& [name, value] : t.params) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// The categoricals that hold one value over all of a branch's trials, with that value.
ParamMap constant_choices(const std::vector<const Trial*>& trials) {
    ParamMap fixed;
    for (const auto& [name, value] : trials.front()->params) {
        if (value.index() != 2) continue;
        const bool constant = std::all_of(trials.begin(), trials.end(), [&name = name, &value = value](const Trial* t) {
            const auto v = t->params.find(name);
            return v != t->params.end() && v->second == value;
        });
        if (constant) fixed.emplace(name, value);
    }
    return fixed;
}

bool agrees(const ParamMap& config, const ParamMap& fixed) {
    return std::all_of(fixed.begin(), fixed.end(), [&](const auto& kv) {
        const auto v = config.find(kv.first);
        return v != config.end() && v->second == kv.second;
    });
}

struct Candidate {
    ParamMap config;
    double score = -std::numeric_limits<double>::infinity();
};

Candidate branch_proposal(const GPSamplerConfig& config, const std::vector<const Trial*>& trials,
                          const std::unordered_map<int, double>& z_of, double best_z, const History& history,
                          const std::map<int, double>& pruned, std::mt19937_64& rng) {
    const ParamMap fixed = constant_choices(trials);
    std::set<std::string> leave_out;
    for (const auto& [name, value] : fixed) leave_out.insert(name);
    TrainingData data = build_training_data(trials, single_value(false), pruned, leave_out);
    if (data.space.specs.empty()) return {};  // the branch is one configuration, already tried
    const int d = data.space.total_unit_dim();
    for (std::size_t i = 0; i < trials.size(); ++i) data.y[static_cast<Eigen::Index>(i)] = z_of.at(trials[i]->trial_id);

    // Pending configurations of this branch, at the study's mean.
    Eigen::MatrixXd rows(static_cast<Eigen::Index>(history.pending.size()), d);
    Eigen::Index m = 0;
    for (const ParamMap* p : history.pending) {
        if (agrees(*p, fixed) && encode(data.space, *p, rows.row(m))) ++m;
    }
    const Eigen::Index n = data.X.rows();
    data.X.conservativeResize(n + m, Eigen::NoChange);
    data.X.bottomRows(m) = rows.topRows(m);
    data.y.conservativeResize(n + m);
    data.y.tail(m).setZero();

    auto kernel = make_kernel(config.kernel, 1.0, 1.0);
    kernel->set_input_dim(d);
    GaussianProcess gp = configured_model(config, std::move(kernel), config.noise_var, config.n_restarts);
    gp.fit(data.X, data.y, data.X.rows() >= 3);

    AcqOptConfig cfg = acquisition_config(config, data.space);
    Eigen::Index best_row = 0;
    for (Eigen::Index i = 0; i < n; ++i) {
        if (data.real[static_cast<std::size_t>(i)] && data.y[i] < data.y[best_row]) best_row = i;
    }
    cfg.centres = data.X.row(best_row);
    const Eigen::VectorXd x = optimise_acquisition(gp, d, best_z, std::max(data.n_obs, 1), cfg, rng);

    ParamMap proposal = decode(data.space, x);
    proposal.insert(fixed.begin(), fixed.end());
    Names names;
    for (const auto& [name, value] : proposal) names.push_back(name);
    const SeenConfigs seen(std::move(names), history);
    proposal = unseen_config(data.space, seen, std::move(proposal), rng);
    if (seen.contains(proposal)) return {};  // nothing left to try in this branch
    Eigen::RowVectorXd row(d);
    encode(data.space, proposal, row);
    return Candidate{std::move(proposal), acq_logei(gp, row.transpose(), best_z, config.xi)};
}

}  // namespace

bool is_conditional(const std::vector<const Trial*>& ran) {
    const Names* first = nullptr;
    Names names;
    Names first_names;
    for (const Trial* t : ran) {
        if (!observed(*t)) continue;
        names = names_of(*t);
        if (!first) {
            first_names = names;
            first = &first_names;
        } else if (names != *first) {
            return true;
        }
    }
    return false;
}

ParamMap conditional_proposal(const GPSamplerConfig& config, const std::vector<const Trial*>& ran,
                              const History& history, const std::map<int, double>& pruned, std::mt19937_64& rng) {
    const bool maximize = history.directions.front() == StudyDirection::Maximize;
    // Values standardised over the whole study, so that the branches' models agree on a scale.
    TrainingData all = build_training_data(ran, single_value(maximize), pruned);
    if (config.warp_values) warp_wide_values(all.y);
    const Eigen::VectorXd z = standardise(all.y);
    std::unordered_map<int, double> z_of;
    double best_z = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < ran.size(); ++i) {
        z_of.emplace(ran[i]->trial_id, z[static_cast<Eigen::Index>(i)]);
        if (all.real[i]) best_z = std::min(best_z, z[static_cast<Eigen::Index>(i)]);
    }

    std::map<Names, std::vector<const Trial*>> branches;
    std::set<Names> observed_branches;
    for (const Trial* t : ran) {
        Names names = names_of(*t);
        if (observed(*t)) observed_branches.insert(names);
        branches[std::move(names)].push_back(t);
    }
    Candidate best;
    for (const auto& [names, trials] : branches) {
        if (!observed_branches.count(names)) continue;
        Candidate c = branch_proposal(config, trials, z_of, best_z, history, pruned, rng);
        if (!c.config.empty() && (best.config.empty() || c.score > best.score)) best = std::move(c);
    }
    return best.config;
}

}  // namespace tarvex::detail
