#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <thread>

#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;
constexpr auto Min = StudyDirection::Minimize;
constexpr auto Max = StudyDirection::Maximize;

namespace {
std::vector<TrialState> states(const Study& s) {
    std::vector<TrialState> out;
    for (const Trial& t : s.trials()) out.push_back(t.state);
    return out;
}
}  // namespace

TEST(Trial, HeldNamesAnswerFromParamsAndDetachedTrialsRefuseNewOnes) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(Min, sampler);
    Trial t = s.make_trial();
    EXPECT_EQ(suggest_x(t), 0.5);
    EXPECT_EQ(suggest_x(t, 5, 6), 0.5);  // the first value and distribution stay
    EXPECT_EQ(std::get<FloatDist>(t.distributions.at("x")).high, 1.0);
    EXPECT_THROW(t.suggest_int("x", 0, 3, false, 1), std::bad_variant_access);
    EXPECT_EQ(error_of([&] { t.suggest_int("x", 0, 3, false, 1); }),
              "suggest_int('x'): 'x' holds a float in this trial.");
    EXPECT_EQ(sampler->sample_calls, 1);
    Trial detached(0, 0);
    EXPECT_EQ(error_of([&] { suggest_x(detached); }), "Trial is not attached to a Study.");
    EXPECT_EQ(error_of([&] { (void)detached.value(); }),
              "value() is only valid for single-objective trials; use values() for multi-objective.");
    EXPECT_EQ(error_of([&] { (void)detached.get_user_attr("lr"); }), "User attribute 'lr' not found.");
}

TEST(Study, IdentifiersCountUpEvenOverFailedConstructions) {
    const Study a(Min);
    EXPECT_EQ(error_of([] { Study bad(std::vector<StudyDirection>{}); }), "Study requires at least one direction.");
    const Study c(Max);
    EXPECT_EQ(c.study_id, a.study_id + 2);
    EXPECT_NE(a.storage, c.storage);
    EXPECT_NE(dynamic_cast<RandomSampler*>(a.sampler.get()), nullptr);
}

TEST(Study, EnqueuedSetsAreServedInOrderAndConvertedToTheAskedKind) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(Min, sampler);
    s.enqueue_trial({{"i", 3.7}, {"f", 2}, {"n", -2.5}, {"far", 1e6}, {"big", 3e9}});
    s.enqueue_trial({{"x", 0.2}});
    Trial t = s.make_trial();
    EXPECT_EQ(t.suggest_int("i", 0, 10, false, 1), 4);
    EXPECT_EQ(t.suggest_float("f", 0, 10, false, std::nullopt), 2.0);
    EXPECT_EQ(t.suggest_int("n", -10, 10, false, 1), -3);
    EXPECT_EQ(t.suggest_float("far", 0, 1, false, std::nullopt), 1e6);  // not held to the bounds
    EXPECT_EQ(error_of([&] { t.suggest_int("big", 0, 1, false, 1); }),
              "Enqueued value for 'big' does not fit a 32-bit int.");
    EXPECT_EQ(sampler->sample_calls, 0);
    Trial second = s.make_trial();
    Trial third = s.make_trial();
    EXPECT_EQ(suggest_x(second), 0.2);
    EXPECT_EQ(suggest_x(third), 0.5);
}

TEST(Optimize, ObjectiveOutcomesBecomeTrialStates) {
    Study s(Min);
    int i = 0;
    s.optimize(
        [&](Trial& t) -> double {
            t.set_user_attr("k", "v");
            switch (i++) {
                case 0:
                    t.report(1.0, 0);
                    throw TrialPruned();
                case 1:
                    throw std::runtime_error("boom");
                case 2:
                    throw 42;  // not even a std::exception
                case 3:
                    return static_cast<double>(t.suggest_int("n", 0, 10, false, 0));  // invalid step
                default:
                    return std::nan("");
            }
        },
        5);
    s.optimize(Objective{}, 1);
    s.optimize_mo([](Trial&) { return std::vector<double>{1, 2}; }, 1);  // one direction, two values
    using S = TrialState;
    EXPECT_EQ(states(s), (std::vector{S::Pruned, S::Failed, S::Failed, S::Failed, S::Complete, S::Failed, S::Failed}));
    const auto all = s.trials();
    EXPECT_EQ(all[0].intermediate_values, (std::vector<std::pair<int, double>>{{0, 1.0}}));
    EXPECT_TRUE(all[0].values.empty() && all[6].values.empty());
    EXPECT_EQ(all[1].user_attrs.at("k"), "v");
    EXPECT_TRUE(std::isnan(all[4].value()));
    for (int k = 1; k < 7; ++k) EXPECT_EQ(all[k].trial_id, all[0].trial_id + k);
    // A failed trial keeps why; the others keep nothing.
    EXPECT_EQ(all[1].fail_reason, "boom");
    EXPECT_EQ(all[2].fail_reason, "an exception of unknown type");
    EXPECT_EQ(all[6].fail_reason, "Objective returned 2 values but study has 1 directions.");
    EXPECT_FALSE(all[0].fail_reason || all[4].fail_reason);
}

TEST(Optimize, StopEndsTheRunAndEveryStoredTrialIsReported) {
    Study s(Min);
    std::vector<std::size_t> stored_when_told;
    const TrialEnd on_end = [&](const Trial& t) {
        stored_when_told.push_back(s.trials().size());
        if (t.trial_id == 2) s.stop();
    };
    s.optimize([](Trial& t) { return suggest_x(t); }, 100, 1, std::nullopt, on_end);
    EXPECT_EQ(stored_when_told, (std::vector<std::size_t>{1, 2, 3}));
    s.optimize([](Trial& t) { return suggest_x(t); }, 4);  // the next run starts afresh
    EXPECT_EQ(s.trials().size(), 7u);
    EXPECT_EQ(error_of([&] {
                  s.optimize([](Trial&) { return 0.0; }, 3, 1, std::nullopt,
                             [](const Trial&) { throw std::runtime_error("hook failed"); });
              }),
              "hook failed");
    EXPECT_EQ(s.trials().size(), 8u);
}

TEST(AskTell, TellFinishesAnAskedTrialOnceAsTheLoopWould) {
    auto sampler = std::make_shared<StubSampler>();
    Study s({Min, Max}, sampler);
    Trial a = s.ask(), b = s.ask(), c = s.ask();
    EXPECT_EQ(suggest_x(a), 0.5);
    EXPECT_EQ(error_of([&] { s.tell(a, TrialState::Complete, {1.0}); }),
              "tell: trial " + std::to_string(a.trial_id) + ": got 1 values but study has 2 directions.");
    EXPECT_NE(error_of([&] { s.tell(a, TrialState::Running); }).find("state must be Complete, Pruned or Failed."),
              std::string::npos);
    s.tell(a, TrialState::Complete, {1.0, 2.0});
    s.tell(b, TrialState::Failed, {}, "diverged");
    EXPECT_EQ(error_of([&] { s.tell(a, TrialState::Complete, {1.0, 2.0}); }),
              "tell: trial " + std::to_string(a.trial_id) +
                  " is not running in this study: it was told already, or never asked.");
    EXPECT_NE(error_of([&] { s.tell(Trial(999, s.study_id), TrialState::Pruned); }), "no error");
    EXPECT_NE(error_of([&] { s.tell(c, TrialState::Pruned, {1.0, 2.0}); }), "no error");
    const auto all = s.trials();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].values, (std::vector<double>{1.0, 2.0}));
    EXPECT_EQ(std::get<double>(all[0].params.at("x")), 0.5);
    EXPECT_EQ(all[1].fail_reason, "diverged");
    EXPECT_EQ(sampler->after_calls, 2);
    s.tell(c, TrialState::Pruned);  // the rejected tells left it running
    EXPECT_EQ(s.trials().size(), 3u);
}

TEST(Optimize, RunsThatDoNothingStillCallBeforeStudy) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(Min, sampler);
    const Objective f = [](Trial&) { return 1.0; };
    s.optimize(f, 0);
    s.optimize(f, std::numeric_limits<int>::min(), 3);
    s.optimize(f, 5, 0);
    s.optimize(f, 5, 1, 0.0);
    s.optimize(f, 5, 2, -1.0);
    EXPECT_EQ(sampler->before_calls, 5);
    EXPECT_EQ(error_of([&] { s.optimize(f, 5, 1, std::nan("")); }), "optimize: timeout must not be NaN.");
    EXPECT_TRUE(s.trials().empty());
    s.optimize(f, 2, 1, 1e300);  // beyond the clock's range: no limit
    s.optimize(f, 2, 2, std::numeric_limits<double>::infinity());
    EXPECT_EQ(s.trials().size(), 4u);
}

TEST(Optimize, BookkeepingFailureOutsideTheObjectivePropagatesAndStops) {
    auto storage = std::make_shared<FailingStorage>(2);
    Study s(Min, nullptr, nullptr, storage);
    EXPECT_EQ(error_of([&] { s.optimize([](Trial&) { return 0.0; }, 5); }), "disk full");
    EXPECT_EQ(storage->updates, 2);
    EXPECT_EQ(s.trials().size(), 1u);
}

TEST(Results, BestTrialFollowsTheDirectionAndKeepsTheEarliestTie) {
    Study s(Min);
    for (double v : {3.0, 1.0, 1.0}) s.add_trial({{"v", v}}, {v});
    EXPECT_EQ(s.best_trial().trial_id, s.trials()[1].trial_id);
    EXPECT_EQ(std::get<double>(s.best_params().at("v")), 1.0);
    Study up(Max);
    for (double v : {2.0, std::nan(""), 5.0}) up.add_trial({}, {v});
    EXPECT_EQ(up.best_value(), 5.0);
    Study none(Min);
    none.optimize([](Trial&) -> double { throw TrialPruned(); }, 2);
    EXPECT_EQ(error_of([&] { none.best_trial(); }), "No completed trials found.");
    EXPECT_EQ(error_of([&] { none.add_trial({}, {1, 2}); }), "add_trial: got 2 values but study has 1 directions.");
    EXPECT_EQ(error_of([] { Study({Min, Max}).best_value(); }),
              "best_trial() is not defined for multi-objective studies. Use pareto_front() instead.");
}

TEST(Results, ParetoFrontKeepsTheNonDominatedInIdOrder) {
    Study s({Min, Max});
    for (const auto& v : {std::vector<double>{1, 1}, {2, 2}, {1, 2}, {1, 2}, {2, 1}}) s.add_trial({}, v);
    const auto front = s.pareto_front();
    ASSERT_EQ(front.size(), 2u);
    EXPECT_EQ(front[0].trial_id + 1, front[1].trial_id);
    EXPECT_EQ(front[1].values, (std::vector<double>{1, 2}));
    EXPECT_TRUE(Study::dominates({std::nan(""), 1}, {0, 2}, {Min, Min}));  // NaN neither helps nor hurts
    EXPECT_TRUE(Study::dominates({1, 1, 1}, {2}, {Min, Min}));             // compared over shared indices
}

TEST(Results, InfeasibleTrialsAreNeverTheBestNorOnTheFront) {
    Study s(Min);
    const auto tell = [](Study& study, std::vector<double> values, std::vector<double> constraints) {
        Trial t = study.ask();
        t.constraints = std::move(constraints);
        study.tell(std::move(t), TrialState::Complete, std::move(values));
    };
    tell(s, {0.0}, {1e-9});
    EXPECT_EQ(error_of([&] { s.best_trial(); }),
              "No feasible trials found: every completed trial violates its constraints.");
    tell(s, {2.0}, {0.0, -3.0});
    tell(s, {1.0}, {std::nan("")});
    EXPECT_EQ(s.best_value(), 2.0);
    EXPECT_EQ(s.trials()[0].constraints, std::vector<double>{1e-9});  // kept as told

    Study mo({Min, Min});
    tell(mo, {0, 0}, {1});  // would dominate both others
    tell(mo, {1, 2}, {-1});
    tell(mo, {2, 1}, {});
    const auto front = mo.pareto_front();
    ASSERT_EQ(front.size(), 2u);
    EXPECT_EQ(front[0].values, (std::vector<double>{1, 2}));
}

TEST(Results, BestTrialIsKeptAsAPassInIdOrderWouldFindIt) {
    // The reference: the first Complete trial, replaced only by a strictly better later one.
    const auto scan = [](const std::vector<Trial>& trials, bool maximize) -> int {
        const Trial* best = nullptr;
        for (const Trial& t : trials) {
            if (t.state != TrialState::Complete) continue;
            if (!best || (maximize ? t.value() > best->value() : t.value() < best->value())) best = &t;
        }
        return best ? best->trial_id : -1;
    };
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const bool maximize = round % 2;
        Study s(maximize ? Max : Min);
        std::vector<int> order(12);
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), rng);  // stored out of order, as workers finish
        for (const int id : order) {
            Trial t(id, s.study_id);
            const int kind = static_cast<int>(rng() % 6);
            t.state = kind == 0 ? TrialState::Failed : TrialState::Complete;
            if (t.state == TrialState::Complete) t.values = {kind == 1 ? std::nan("") : static_cast<double>(rng() % 4)};
            s.storage->update_trial(t);
            if (rng() % 4 == 0) {  // stored again, in another version
                t.state = rng() % 2 ? TrialState::Complete : TrialState::Pruned;
                t.values = t.state == TrialState::Complete ? std::vector<double>{static_cast<double>(rng() % 4)}
                                                           : std::vector<double>{};
                s.storage->update_trial(t);
            }
            const int expected = scan(s.trials(), maximize);
            EXPECT_EQ(expected < 0 ? -1 : s.best_trial().trial_id, expected) << "round " << round;
        }
    }
}

TEST(InMemoryStorage, KeepsEveryFieldOfATrialExactly) {
    InMemoryStorage storage;
    Trial t(4, 9);
    t.state = TrialState::Failed;
    t.values = {1.5, -0.0};
    t.params = {{"z", 0.25}, {"a", 3}, {"by_hand", std::string("t")}, {"c", std::string("x")}};
    t.param_order = {"z", "a", "c", "gone"};  // by_hand unlisted; a name not held is dropped
    t.distributions = {{"z", FloatDist{0, 1, false, 0.25}},
                       {"a", IntDist{1, 9, true, 1}},
                       {"c", CategoricalDist{{"x", "y"}}},
                       {"unused", FloatDist{0, 2, false, std::nullopt}}};
    t.fixed_params = {{"z", 0.25}};
    t.intermediate_values = {{3, 0.5}, {3, std::nan("")}};
    t.user_attrs = {{"k", "v"}};
    t.system_attrs = {{"presumed_lost", "heartbeat lost"}};
    t.fail_reason = "ValueError: bad";
    t.datetime_complete = t.datetime_start + std::chrono::seconds(2);
    storage.update_trial(t);
    const Trial back = storage.get_trial(4);
    EXPECT_EQ(back.params, t.params);
    EXPECT_EQ(back.distributions, t.distributions);
    EXPECT_EQ(back.param_order, (std::vector<std::string>{"z", "a", "c"}));
    EXPECT_EQ(back.fixed_params, t.fixed_params);
    EXPECT_EQ(back.user_attrs, t.user_attrs);
    EXPECT_EQ(back.system_attrs, t.system_attrs);
    EXPECT_EQ(back.fail_reason, t.fail_reason);
    EXPECT_EQ(back.datetime_start, t.datetime_start);
    EXPECT_EQ(back.datetime_complete, t.datetime_complete);
    EXPECT_TRUE(std::signbit(back.values[1]) && std::isnan(back.intermediate_values[1].second));
    t.study_id = 10;  // stored again under another study: it moves there
    storage.update_trial(t);
    EXPECT_EQ(storage.n_trials(9), 0);
    EXPECT_EQ(storage.get_all_trials(10).size(), 1u);
    int visited = 0;
    storage.visit_trials(10, [&](const Trial& seen) { visited += seen.trial_id; });
    EXPECT_EQ(visited, 4);
}

TEST(Study, TextHoldingNulIsRefusedWhereItEnters) {
    Study s(Min, std::make_shared<StubSampler>());
    Trial t = s.make_trial();
    const std::string nul("a\0b", 3);
    EXPECT_EQ(error_of([&] { t.suggest_float(nul, 0, 1, false, std::nullopt); }),
              "suggest_float: the name must not contain NUL characters (\\0), got 'a\\0b'.");
    EXPECT_THROW(t.suggest_categorical("c", {"ok", nul}), std::invalid_argument);
    EXPECT_THROW(t.set_user_attr(nul, "v"), std::invalid_argument);
    EXPECT_THROW(t.set_user_attr("k", nul), std::invalid_argument);
    EXPECT_TRUE(t.params.empty() && t.user_attrs.empty());
    EXPECT_THROW(s.enqueue_trial({{nul, 1}}), std::invalid_argument);
    EXPECT_THROW(s.add_trial({{"x", nul}}, {1.0}), std::invalid_argument);
    Trial asked = s.ask();
    s.tell(std::move(asked), TrialState::Failed, {}, nul);
    EXPECT_EQ(s.trials().at(0).fail_reason, "a\\0b");  // a reason is kept, its NUL written out
}
