// TPESampler: reproducible proposals that honour the space, learn where the good trials are,
// follow conditional branches and rank pruned and failed trials.
#include <cmath>
#include <set>

#include "../../src/samplers/trial_ranking.hpp"
#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

std::shared_ptr<TPESampler> tpe(std::uint64_t seed, int n_startup = 10) {
    TPESamplerConfig config;
    config.seed = seed;
    config.n_startup_trials = n_startup;
    return std::make_shared<TPESampler>(config);
}

double mixed(Trial& t) {
    const double x = t.suggest_float("x", -3, 3, false, {});
    const double lr = t.suggest_float("lr", 1e-5, 1, true, {});
    const int n = t.suggest_int("n", 1, 64, true, 1);
    const int k = t.suggest_int("k", 0, 20, false, 4);
    const double q = t.suggest_float("q", 0, 1, false, 0.25);
    const std::string c = t.suggest_categorical("c", {"a", "b", "c"});
    return std::pow(x - 1, 2) + std::pow(std::log10(lr) + 3, 2) + std::abs(std::log2(n) - 3) + k / 20.0 + q +
           (c == "b" ? 0 : 1);
}

}  // namespace

TEST(TPESampler, ProposalsRepeatForASeedAndStayOnTheGrid) {
    std::vector<Trial> runs[2];
    for (auto& run : runs) {
        Study study(StudyDirection::Minimize, tpe(4));
        study.optimize(mixed, 40);
        run = study.trials();
    }
    for (std::size_t i = 0; i < runs[0].size(); ++i) EXPECT_EQ(runs[0][i].params, runs[1][i].params) << i;
    for (const Trial& t : runs[0]) {
        const int k = std::get<int>(t.params.at("k"));
        const double q = std::get<double>(t.params.at("q"));
        EXPECT_TRUE(k % 4 == 0 && k >= 0 && k <= 20);
        EXPECT_DOUBLE_EQ(q * 4, std::round(q * 4));
        const int n = std::get<int>(t.params.at("n"));
        EXPECT_TRUE(n >= 1 && n <= 64);
        const double lr = std::get<double>(t.params.at("lr"));
        EXPECT_TRUE(lr >= 1e-5 && lr <= 1);
    }
}

// A bowl with a known minimum: 0 at x = 1, y = -2.
TEST(TPESampler, ConvergesOnABowl) {
    Study study(StudyDirection::Minimize, tpe(1));
    study.optimize(
        [](Trial& t) {
            return std::pow(t.suggest_float("x", -10, 10, false, {}) - 1, 2) +
                   std::pow(t.suggest_float("y", -10, 10, false, {}) + 2, 2);
        },
        200);
    EXPECT_LT(study.best_value(), 0.05);
    const auto params = study.best_params();
    EXPECT_NEAR(std::get<double>(params.at("x")), 1, 0.25);
}

// Each branch has its own density: the later trials go to the best branch, and nothing is
// evaluated twice, not even in a branch of 48 discrete configurations.
TEST(TPESampler, ConditionalBranchesWithoutRepeats) {
    Study study(StudyDirection::Maximize, tpe(11));
    study.optimize(
        [](Trial& t) {
            if (t.suggest_categorical("model", {"tree", "linear"}) == "tree") {
                return -0.1 * std::abs(t.suggest_int("depth", 1, 16, false, 1) - 3) -
                       (t.suggest_categorical("split", {"gini", "entropy", "log"}) == "gini" ? 0.0 : 0.2);
            }
            return -1 - std::pow(std::log10(t.suggest_float("alpha", 1e-4, 1, true, {})) + 2, 2);
        },
        40);
    std::set<std::string> seen;
    int later_trees = 0;
    for (const Trial& t : study.trials()) {
        std::string key;
        for (const auto* p : t.ordered_params().params) {
            key += p->first + "=" +
                   std::visit(
                       [](const auto& v) {
                           if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
                               return v;
                           } else {
                               return std::to_string(v);
                           }
                       },
                       p->second) +
                   ";";
        }
        EXPECT_TRUE(seen.insert(key).second) << "repeated " << key;
        later_trees += t.trial_id >= 20 && std::get<std::string>(t.params.at("model")) == "tree";
    }
    EXPECT_GE(later_trees, 10);
    EXPECT_EQ(study.best_value(), 0.0);
}

// The random startup trials are kept from repeats too: 16 of them fill a space of 16.
TEST(TPESampler, StartupTrialsFillASmallSpaceWithoutRepeats) {
    for (const std::uint64_t seed : {1, 2, 3}) {
        Study study(StudyDirection::Minimize, tpe(seed, 16));
        study.optimize(
            [](Trial& t) {
                return t.suggest_int("x", 0, 3, false, 1) * 4.0 +
                       (t.suggest_categorical("c", {"a", "b", "c", "d"}) == "a" ? 0 : 1);
            },
            16);
        std::set<std::pair<int, std::string>> seen;
        for (const Trial& t : study.trials()) {
            seen.emplace(std::get<int>(t.params.at("x")), std::get<std::string>(t.params.at("c")));
        }
        EXPECT_EQ(seen.size(), 16u) << "seed " << seed;
    }
}

// Completed trials by value, pruned ones by their last report among the completed trials at that
// step (or after them, by how far they got), then failed ones, then with the liar running ones.
TEST(TrialRanking, PrunedFailedAndRunningTrialsRankBehindByWhatTheyShowed) {
    std::map<int, StoredTrial> trials;
    const auto add = [&](int id, TrialState state, std::vector<std::pair<int, double>> reports, std::vector<double> v) {
        auto t = std::make_shared<Trial>(id, 0);
        t->state = state;
        t->intermediate_values = std::move(reports);
        t->values = std::move(v);
        t->params["x"] = static_cast<double>(id);
        trials.emplace(id, t);
    };
    add(0, TrialState::Complete, {{1, 0.5}}, {0.5});
    add(1, TrialState::Failed, {}, {});
    add(2, TrialState::Pruned, {{1, 0.2}}, {});  // ahead of trial 0 at step 1: stands for 0.5
    add(3, TrialState::Complete, {{1, 0.1}}, {0.05});
    add(4, TrialState::Pruned, {{2, 0.9}}, {});  // got to step 2, where no completed trial reported
    add(5, TrialState::Pruned, {{0, 0.1}}, {});  // stopped at step 0
    add(6, TrialState::Running, {}, {});
    add(7, TrialState::Complete, {}, {std::nan("")});
    // Completed trials that violate their constraints: after the feasible ones and the pruned
    // ones with peers, by total violation, however good their values.
    add(8, TrialState::Complete, {}, {-10.0});
    add(9, TrialState::Complete, {}, {-20.0});
    std::const_pointer_cast<Trial>(trials.at(8))->constraints = {0.5, -1.0};
    std::const_pointer_cast<Trial>(trials.at(9))->constraints = {2.0};
    const std::vector<StudyDirection> minimize{StudyDirection::Minimize};
    const std::vector<const ParamMap*> pending;
    const History history{minimize, trials, pending};
    std::vector<int> order;
    for (const auto& r : detail::ranked_configurations(history, true, -1)) order.push_back(r.trial_id);
    EXPECT_EQ(order, (std::vector<int>{3, 0, 2, 8, 9, 4, 5, 1, 7, 6}));
    order.clear();
    for (const auto& r : detail::ranked_configurations(history, false, 3)) order.push_back(r.trial_id);
    EXPECT_EQ(order, (std::vector<int>{0, 2, 8, 9, 4, 5, 1, 7}));
}

TEST(TrialRanking, SeveralObjectivesRankByNonDominatedFront) {
    const std::vector<std::vector<double>> values{{1, 5}, {2, 2}, {3, 3}, {5, 1}, {4, 4}};
    std::vector<const std::vector<double>*> rows;
    for (const auto& v : values) rows.push_back(&v);
    EXPECT_EQ(detail::front_ranks(rows, {StudyDirection::Minimize, StudyDirection::Minimize}),
              (std::vector<int>{0, 0, 1, 0, 2}));
}

TEST(TPESampler, OptionsAreCheckedAndGammaDecidesTheGoodTrials) {
    TPESamplerConfig bad;
    bad.n_ei_candidates = 0;
    EXPECT_EQ(error_of([&] { TPESampler{bad}; }), "TPESampler: n_ei_candidates must be at least 1.");
    bad = {};
    bad.prior_weight = 0;
    EXPECT_EQ(error_of([&] { TPESampler{bad}; }), "TPESampler: prior_weight must be a finite number above 0.");
    TPESamplerConfig config;
    EXPECT_EQ(config.n_good(5), 1);
    EXPECT_EQ(config.n_good(1000), 25);
    int asked = 0;
    config.gamma = [&](int n) {
        ++asked;
        return n / 2;
    };
    config.seed = 2;
    EXPECT_EQ(config.n_good(10), 5);
    Study study(StudyDirection::Minimize, std::make_shared<TPESampler>(config));
    study.optimize([](Trial& t) { return suggest_x(t); }, 15);
    EXPECT_GT(asked, 1);
}
