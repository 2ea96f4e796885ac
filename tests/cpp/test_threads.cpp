// Cases that run several threads at once; the TSan build runs exactly these.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>

#include "stubs.hpp"
#include "tarvex/pruners.hpp"
#include "tarvex/storage.hpp"

using namespace tarvex;
using tarvex::testing::CountingPruner;
using tarvex::testing::StubSampler;

namespace {
class FailingStorage : public InMemoryStorage {
public:
    void update_trial(const Trial& trial) override {
        if (++updates == 3) throw std::runtime_error("disk full");
        InMemoryStorage::update_trial(trial);
    }
    std::atomic<int> updates{0};
};
}  // namespace

TEST(Threads, StorageTakesConcurrentWritersAndReaders) {
    InMemoryStorage s;
    std::vector<std::jthread> threads;
    for (int w = 0; w < 4; ++w) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                s.update_trial(Trial(s.create_trial(0), 0));
                (void)s.n_trials(0);
            }
        });
    }
    threads.clear();  // joins
    const auto all = s.get_all_trials(0);
    ASSERT_EQ(all.size(), 800u);
    for (int i = 0; i < 800; ++i) EXPECT_EQ(all[i].trial_id, i);
}

TEST(Threads, WorkersRunExactlyTheRequestedTrials) {
    auto pruner = std::make_shared<CountingPruner>(false);
    Study s(StudyDirection::Minimize, std::make_shared<RandomSampler>(3), pruner);
    std::mutex seen_mutex;
    std::set<std::thread::id> seen;
    s.optimize(
        [&](Trial& t) {
            {
                const std::scoped_lock lock(seen_mutex);
                seen.insert(std::this_thread::get_id());
            }
            t.report(1.0, 0);
            EXPECT_FALSE(t.should_prune());
            return t.suggest_float("x", 0, 1, false, std::nullopt) + t.suggest_int("n", 0, 9, false, 1);
        },
        10, 4);
    EXPECT_EQ(s.trials().size(), 10u);
    EXPECT_EQ(pruner->calls, 10);
    EXPECT_FALSE(seen.count(std::this_thread::get_id()));

    s.optimize([](Trial&) { return 0.0; }, 2, 8);
    EXPECT_EQ(s.trials().size(), 12u);
    s.optimize([](Trial&) { return 0.0; }, 3, -1);
    EXPECT_EQ(s.trials().size(), 15u);
}

TEST(Threads, DeadlineStopsEveryWorker) {
    Study s(StudyDirection::Minimize);
    s.optimize(
        [](Trial&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return 0.0;
        },
        100000, 3, 0.05);
    EXPECT_LT(s.trials().size(), 100u);
}

TEST(Threads, WorkerBookkeepingFailureIsRethrownAfterTheJoin) {
    // Trials long enough that unwinding the failure cannot race through the remaining slots.
    const Objective napping = [](Trial&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0.0;
    };
    auto storage = std::make_shared<FailingStorage>();
    Study s(StudyDirection::Minimize, nullptr, nullptr, storage);
    try {
        s.optimize(napping, 1000, 4);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    // The hand-out stops: only the trials already in flight finish.
    EXPECT_LT(storage->updates, 20);

    auto sampler = std::make_shared<StubSampler>();
    sampler->fail_after_on = 2;
    Study t(StudyDirection::Minimize, sampler);
    EXPECT_THROW(t.optimize(napping, 1000, 2), std::runtime_error);
    EXPECT_LT(sampler->after_calls, 20);
}


TEST(Threads, SharedPrunersJudgeConcurrentTrials) {
    const std::shared_ptr<IPruner> pruners[] = {std::make_shared<MedianPruner>(2, 0, 50.0),
                                                std::make_shared<HyperbandPruner>(1, 9, 3.0, 0)};
    for (const auto& pruner : pruners) {
        Study a(StudyDirection::Minimize, nullptr, pruner);
        Study b(StudyDirection::Minimize, nullptr, pruner);
        const Objective curve = [](Trial& t) -> double {
            const double x = t.suggest_float("x", 0, 1, false, std::nullopt);
            for (int step = 1; step <= 9; ++step) {
                t.report(x + 1.0 / step, step);
                if (t.should_prune()) throw TrialPruned();
            }
            return x;
        };
        std::jthread other([&] { b.optimize(curve, 40, 2); });
        a.optimize(curve, 40, 2);
        other.join();
        int pruned = 0;
        for (const Trial& t : a.trials()) pruned += t.state == TrialState::Pruned;
        EXPECT_GT(pruned, 0);
        EXPECT_EQ(b.trials().size(), 40u);
    }
}

TEST(Threads, GPSamplerServesConcurrentTrials) {
    GPSamplerConfig config;
    config.seed = 4;
    config.n_warmup = 3;
    config.n_cand = 64;
    Study study(StudyDirection::Minimize, std::make_shared<GPSampler>(config));
    study.optimize(
        [](Trial& t) {
            const double x = t.suggest_float("x", 0, 1, false, std::nullopt);
            return std::pow(x - 0.4, 2) + t.suggest_int("n", 0, 3, false, 1);
        },
        16, 3);
    const auto all = study.trials();
    ASSERT_EQ(all.size(), 16u);
    for (const Trial& t : all) EXPECT_EQ(t.state, TrialState::Complete);
}
