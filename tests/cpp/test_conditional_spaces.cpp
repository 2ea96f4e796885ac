// Model-based samplers on spaces whose parameters depend on earlier choices, and what they learn
// from pruned trials.
#include <cmath>
#include <set>
#include <type_traits>

#include "../../src/samplers/trial_scores.hpp"
#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

// Three branches, each with its own parameters; "c" holds the optimum, 0 at u = 0.3, k = "q".
double branches(Trial& t) {
    const std::string branch = t.suggest_categorical("branch", {"a", "b", "c"});
    if (branch == "a") return 1 + std::pow(t.suggest_float("a_x", -5, 5, false, {}) - 1, 2) / 10;
    if (branch == "b") return 0.5 + 0.3 * std::abs(t.suggest_int("b_n", 0, 10, false, 1) - 7);
    const double u = t.suggest_float("c_u", 0, 1, false, {});
    const std::string k = t.suggest_categorical("c_k", {"p", "q", "r"});
    return 10 * std::pow(u - 0.3, 2) + (k == "q" ? 0 : k == "p" ? 0.5 : 1);
}

std::string value_text(const ParamValue& v) {
    return std::visit(
        [](const auto& x) {
            if constexpr (std::is_same_v<std::decay_t<decltype(x)>, std::string>) {
                return x;
            } else {
                return std::to_string(x);
            }
        },
        v);
}

std::set<std::string> configurations(const std::vector<Trial>& trials) {
    std::set<std::string> seen;
    for (const Trial& t : trials) {
        std::string key;
        for (const auto* p : t.ordered_params().params) key += p->first + "=" + value_text(p->second) + ";";
        seen.insert(key);
    }
    return seen;
}

std::shared_ptr<GPSampler> gp(std::uint64_t seed, int n_warmup = 8) {
    GPSamplerConfig config;
    config.seed = seed;
    config.n_warmup = n_warmup;
    config.n_cand = 256;
    return std::make_shared<GPSampler>(config);
}

}  // namespace

// A parameter a trial did not use is no value at all for the model: the later trials go to the
// best branch, and no configuration is evaluated twice.
TEST(GPSampler, ConditionalSpacesFindTheBestBranchWithoutRepeats) {
    Study study(StudyDirection::Minimize, gp(5));
    study.optimize(branches, 40);
    const auto trials = study.trials();
    EXPECT_EQ(configurations(trials).size(), trials.size());
    const auto later_in_c = std::count_if(trials.begin() + 20, trials.end(), [](const Trial& t) {
        return std::get<std::string>(t.params.at("branch")) == "c";
    });
    EXPECT_GE(later_in_c, 12);
    EXPECT_LT(study.best_value(), 0.05);
}

// In a space of twelve configurations, a model that keeps preferring one still tries each once.
TEST(GPSampler, DiscreteSpacesAreNotRepeatedWhileConfigurationsRemain) {
    Study study(StudyDirection::Minimize, gp(2, 3));
    study.optimize(
        [](Trial& t) {
            return std::abs(t.suggest_int("n", 0, 3, false, 1) - 1) +
                   (t.suggest_categorical("k", {"a", "b", "c"}) == "a" ? 0.0 : 1.0);
        },
        12);
    EXPECT_EQ(configurations(study.trials()).size(), 12u);
}

TEST(GPSampler, ARangeOfOneValueIsThatValue) {
    Study study(StudyDirection::Minimize, gp(1));
    study.optimize(
        [](Trial& t) {
            const double x = t.suggest_float("x", 0, 1, false, {});
            return x + t.suggest_float("fixed", 1, 1, false, {}) + t.suggest_int("n", 3, 3, false, 1);
        },
        12);
    for (const Trial& t : study.trials()) {
        EXPECT_EQ(t.params.at("fixed"), ParamValue(1.0));
        EXPECT_EQ(t.params.at("n"), ParamValue(3));
    }
}

// A pruned trial stands for the completed final value at the rank its last report takes among
// the completed trials' reports at that step.
TEST(PrunedScores, RankAmongTheCompletedTrialsAtTheSameStep) {
    const auto trial = [](int id, TrialState state, std::vector<std::pair<int, double>> reports,
                          std::vector<double> values) {
        auto t = std::make_shared<Trial>(id, 0);
        t->state = state;
        t->intermediate_values = std::move(reports);
        t->values = std::move(values);
        return StoredTrial(t);
    };
    const std::map<int, StoredTrial> trials{
        {0, trial(0, TrialState::Complete, {{1, 0.2}, {2, 0.15}}, {0.1})},
        {1, trial(1, TrialState::Complete, {{1, 0.5}}, {0.4})},
        {2, trial(2, TrialState::Pruned, {{1, 0.3}}, {})},  // between the two: the second's value
        {3, trial(3, TrialState::Pruned, {{1, 0.9}}, {})},  // below both: the worst of them
        {4, trial(4, TrialState::Pruned, {{7, 0.0}}, {})},  // no completed trial reported at 7
        {5, trial(5, TrialState::Pruned, {{1, 0.1}}, {})},  // ahead of both: the best
    };
    EXPECT_EQ(detail::pruned_scores(trials, false), (std::map<int, double>{{2, 0.4}, {3, 0.4}, {5, 0.1}}));
    // Maximising, a larger report ranks higher; values come back oriented (negated).
    EXPECT_EQ(detail::pruned_scores(trials, true), (std::map<int, double>{{2, -0.1}, {3, -0.4}, {5, -0.1}}));
}
