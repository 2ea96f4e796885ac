#include <gtest/gtest.h>

#include <cmath>

#include "stubs.hpp"
#include "tarvex/storage.hpp"

using namespace tarvex;
using tarvex::testing::StubSampler;
constexpr auto Min = StudyDirection::Minimize;
constexpr auto Max = StudyDirection::Maximize;

namespace {
template <class F>
void expect_runtime_error(F&& f, const char* message) {
    try {
        f();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

std::vector<int> ids(const std::vector<Trial>& ts) {
    std::vector<int> out;
    for (const Trial& t : ts) out.push_back(t.trial_id);
    return out;
}
}  // namespace

TEST(BestTrial, TiesKeepTheEarliestTrial) {
    Study s(Min);
    for (double v : {3.0, 1.0, 1.0}) s.add_trial({{"v", v}}, {v});
    const int first = s.trials().front().trial_id;
    EXPECT_EQ(s.best_trial().trial_id, first + 1);
    EXPECT_EQ(s.best_value(), 1.0);
    EXPECT_EQ(std::get<double>(s.best_params().at("v")), 1.0);
}

TEST(BestTrial, MaximizeAndNaN) {
    Study s(Max);
    s.add_trial({}, {2});
    s.add_trial({}, {std::nan("")});
    s.add_trial({}, {5});
    EXPECT_EQ(s.best_value(), 5);
    // A NaN that comes first is never replaced.
    Study n(Min);
    n.add_trial({}, {std::nan("")});
    n.add_trial({}, {-1});
    EXPECT_TRUE(std::isnan(n.best_value()));
}

TEST(BestTrial, OnlyCompletedTrialsCount) {
    Study s(Min);
    s.optimize([](Trial&) -> double { throw TrialPruned(); }, 2);
    s.optimize([](Trial&) -> double { throw std::runtime_error("x"); }, 1);
    expect_runtime_error([&] { s.best_trial(); }, "No completed trials found.");
    expect_runtime_error([&] { s.best_params(); }, "No completed trials found.");
    EXPECT_TRUE(s.pareto_front().empty());
    s.add_trial({}, {4});
    EXPECT_EQ(s.best_value(), 4);
}

TEST(BestTrial, MultiObjectiveStudiesRefuse) {
    Study s({Min, Max});
    const char* msg = "best_trial() is not defined for multi-objective studies. Use pareto_front() instead.";
    expect_runtime_error([&] { s.best_trial(); }, msg);
    expect_runtime_error([&] { s.best_value(); }, msg);
    expect_runtime_error([&] { s.best_params(); }, msg);
}

TEST(Dominates, ComparesAfterTurningEverythingIntoMinimisation) {
    const std::vector<StudyDirection> mm{Min, Min};
    EXPECT_FALSE(Study::dominates({1, 2}, {1, 2}, mm));
    EXPECT_TRUE(Study::dominates({1, 1}, {1, 2}, mm));
    EXPECT_FALSE(Study::dominates({1, 2}, {1, 1}, mm));
    EXPECT_FALSE(Study::dominates({}, {}, {}));
    EXPECT_TRUE(Study::dominates({1, 3}, {1, 2}, {Min, Max}));
    // NaN neither prevents nor establishes dominance.
    EXPECT_TRUE(Study::dominates({std::nan(""), 1}, {0, 2}, mm));
    EXPECT_FALSE(Study::dominates({std::nan(""), 2}, {0, 2}, mm));
    // Different lengths compare over the shared indices instead of reading past an end.
    EXPECT_TRUE(Study::dominates({1, 1, 1}, {2}, mm));
    EXPECT_FALSE(Study::dominates({1}, {2, 0}, {}));
}

TEST(ParetoFront, KeepsTheNonDominatedInIdOrder) {
    Study s({Min, Max});
    for (const auto& v : {std::vector<double>{1, 1}, {2, 2}, {1, 2}, {2, 1}}) s.add_trial({}, v);
    const auto front = s.pareto_front();
    ASSERT_EQ(front.size(), 1u);
    EXPECT_EQ(front[0].values, (std::vector<double>{1, 2}));

    Study d({Min, Min});
    d.add_trial({}, {1, 1});
    d.add_trial({}, {1, 1});
    d.add_trial({}, {0, 3});
    d.add_trial({}, {2, 2});
    const auto dfront = d.pareto_front();
    const int base = d.trials().front().trial_id;
    EXPECT_EQ(ids(dfront), (std::vector{base, base + 1, base + 2}));
}


TEST(AddTrial, StoresACompletedTrialOrRejectsTheWrongCount) {
    Study s(Min);
    s.add_trial({{"x", 1.5}}, {0.3});
    const Trial t = s.best_trial();
    EXPECT_EQ(t.state, TrialState::Complete);
    EXPECT_EQ(std::get<double>(t.params.at("x")), 1.5);
    EXPECT_TRUE(t.distributions.empty() && !t.suggest_hook && !t.prune_hook);
    EXPECT_NE(t.datetime_complete.time_since_epoch().count(), 0);
    try {
        s.add_trial({}, {1, 2});
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "add_trial: got 2 values but study has 1 directions.");
    }
    EXPECT_EQ(s.trials().size(), 1u);
    EXPECT_EQ(s.storage->create_trial(s.study_id), t.trial_id + 1);  // the rejected call took no id
}

