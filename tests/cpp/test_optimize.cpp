#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "stubs.hpp"
#include "tarvex/storage.hpp"

using namespace tarvex;
using tarvex::testing::StubSampler;

namespace {
std::vector<TrialState> states(const Study& s) {
    std::vector<TrialState> out;
    for (const Trial& t : s.trials()) out.push_back(t.state);
    return out;
}

// Storage whose n-th update fails, for bookkeeping failures outside the objective.
class FailingStorage : public InMemoryStorage {
public:
    explicit FailingStorage(int fail_on) : fail_on(fail_on) {}
    void update_trial(const Trial& trial) override {
        if (++updates == fail_on) throw std::runtime_error("disk full");
        InMemoryStorage::update_trial(trial);
    }
    const int fail_on;
    std::atomic<int> updates{0};
};
}  // namespace

TEST(Optimize, SerialRunStoresTrialsInOrderOnTheCallingThread) {
    Study s(StudyDirection::Minimize, std::make_shared<RandomSampler>(1));
    const auto caller = std::this_thread::get_id();
    int calls = 0;
    s.optimize(
        [&](Trial& t) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            ++calls;
            return t.suggest_float("x", -1, 1, false, std::nullopt);
        },
        5);
    const auto all = s.trials();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(calls, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(all[i].trial_id, all[0].trial_id + i);
        EXPECT_EQ(all[i].state, TrialState::Complete);
        EXPECT_EQ(all[i].values.size(), 1u);
        EXPECT_GE(all[i].datetime_complete, all[i].datetime_start);
    }
}

TEST(Optimize, ObjectiveOutcomesBecomeTrialStates) {
    Study s(StudyDirection::Minimize);
    int i = 0;
    s.optimize(
        [&](Trial& t) -> double {
            t.set_user_attr("k", "v");
            switch (i++) {
                case 0:
                    t.report(1.0, 0);
                    t.report(2.0, 1);
                    throw TrialPruned();
                case 1: throw std::runtime_error("boom");
                case 2: throw 42;  // not even a std::exception
                default: return std::nan("");
            }
        },
        4);
    const auto all = s.trials();
    ASSERT_EQ(states(s), (std::vector{TrialState::Pruned, TrialState::Failed, TrialState::Failed,
                                       TrialState::Complete}));
    EXPECT_EQ(all[0].intermediate_values, (std::vector<std::pair<int, double>>{{0, 1.0}, {1, 2.0}}));
    EXPECT_TRUE(all[0].values.empty() && all[1].values.empty());
    EXPECT_EQ(all[1].user_attrs.at("k"), "v");
    EXPECT_TRUE(std::isnan(all[3].value()));
    s.optimize(Objective{}, 1);
    s.optimize_mo(MultiObjective{}, 1, 2);
    EXPECT_EQ(states(s).back(), TrialState::Failed);
    EXPECT_EQ(states(s)[4], TrialState::Failed);
}


TEST(Optimize, MultiObjectiveLengthMustMatchDirections) {
    Study s(std::vector<StudyDirection>(3, StudyDirection::Minimize));
    s.optimize_mo([](Trial&) { return std::vector<double>{1, 2}; }, 1);
    s.optimize_mo([](Trial&) { return std::vector<double>{1, 2, 3}; }, 1);
    const auto all = s.trials();
    EXPECT_EQ(all[0].state, TrialState::Failed);
    EXPECT_TRUE(all[0].values.empty());
    EXPECT_EQ(all[1].values, (std::vector<double>{1, 2, 3}));
}

TEST(Optimize, NothingRunsButBeforeStudyIsCalled) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(StudyDirection::Minimize, sampler);
    const Objective f = [](Trial&) { return 1.0; };
    s.optimize(f, 0);
    s.optimize(f, -3);
    s.optimize(f, std::numeric_limits<int>::min(), 3);
    s.optimize(f, 5, 0);
    s.optimize(f, 5, 1, 0.0);
    s.optimize(f, 5, 2, -1.0);
    EXPECT_EQ(sampler->before_calls, 6);
    EXPECT_TRUE(s.trials().empty());
}

TEST(Optimize, TimeoutEdges) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(StudyDirection::Minimize, sampler);
    const Objective f = [](Trial&) { return 1.0; };
    try {
        s.optimize(f, 5, 1, std::nan(""));
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "optimize: timeout must not be NaN.");
    }
    EXPECT_EQ(sampler->before_calls, 0);
    // Too large for the clock means no limit, not an overflowed deadline in the past.
    s.optimize(f, 2, 1, 1e300);
    s.optimize(f, 2, 2, std::numeric_limits<double>::infinity());
    s.optimize(f, 2, 1, 9.3e9);
    EXPECT_EQ(s.trials().size(), 6u);
}


TEST(Optimize, NegativeJobsBelowMinusOneIsALengthError) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(StudyDirection::Minimize, sampler);
    try {
        s.optimize([](Trial&) { return 0.0; }, 3, -2);
        ADD_FAILURE();
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "vector::reserve");
    }
    EXPECT_EQ(sampler->before_calls, 1);
    EXPECT_TRUE(s.trials().empty());
}

TEST(Optimize, InvalidDistributionFailsTheTrialNotTheRun) {
    Study s(StudyDirection::Minimize);
    s.optimize([](Trial& t) { return static_cast<double>(t.suggest_int("n", 0, 10, false, 0)); }, 2);
    EXPECT_EQ(states(s), std::vector<TrialState>(2, TrialState::Failed));
}

TEST(Optimize, SerialBookkeepingFailurePropagatesAndStops) {
    auto storage = std::make_shared<FailingStorage>(2);
    Study s(StudyDirection::Minimize, nullptr, nullptr, storage);
    EXPECT_THROW(s.optimize([](Trial&) { return 0.0; }, 5), std::runtime_error);
    EXPECT_EQ(storage->updates, 2);
    EXPECT_EQ(s.trials().size(), 1u);

    auto sampler = std::make_shared<StubSampler>();
    sampler->fail_after_on = 1;
    Study t(StudyDirection::Minimize, sampler);
    EXPECT_THROW(t.optimize([](Trial&) { return 0.0; }, 5), std::runtime_error);
    EXPECT_TRUE(t.trials().empty());
}
