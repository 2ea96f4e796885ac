// Cases that run several threads at once; the TSan build runs exactly these.
#include <pthread.h>

#include <cmath>
#include <set>
#include <thread>

#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

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

TEST(Threads, WorkersRunExactlyTheRequestedTrialsOffTheCallingThread) {
    Study s(StudyDirection::Minimize, std::make_shared<RandomSampler>(3), std::make_shared<MedianPruner>(2, 0, 50.0));
    std::mutex seen_mutex;
    std::set<std::thread::id> seen;
    s.optimize(
        [&](Trial& t) {
            {
                const std::scoped_lock lock(seen_mutex);
                seen.insert(std::this_thread::get_id());
            }
            const double x = suggest_x(t);
            t.report(x, 0);
            if (t.should_prune()) throw TrialPruned();
            return x;
        },
        40, 4);
    EXPECT_EQ(s.trials().size(), 40u);
    EXPECT_FALSE(seen.count(std::this_thread::get_id()));
    s.optimize([](Trial&) { return 0.0; }, 2, 8);
    s.optimize([](Trial&) { return 0.0; }, 3, -1);
    EXPECT_EQ(s.trials().size(), 45u);
    Study timed(StudyDirection::Minimize);
    timed.optimize(
        [](Trial&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return 0.0;
        },
        100000, 3, 0.05);
    EXPECT_LT(timed.trials().size(), 100u);
}

TEST(Threads, AskTellAndStopFromSeveralThreads) {
    Study s(StudyDirection::Minimize, std::make_shared<RandomSampler>(5));
    std::vector<std::jthread> drivers;
    for (int w = 0; w < 4; ++w) {
        drivers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                Trial t = s.ask();
                s.tell(t, TrialState::Complete, {suggest_x(t)});
            }
        });
    }
    drivers.clear();
    EXPECT_EQ(s.trials().size(), 200u);
    std::atomic<int> started{0};
    std::jthread stopper([&] {
        while (started.load() < 20) std::this_thread::yield();
        s.stop();
    });
    s.optimize([&](Trial& t) { return ++started, suggest_x(t); }, 1'000'000, 3);
    EXPECT_EQ(s.trials().size(), 200u + static_cast<std::size_t>(started.load()));  // every started trial stored
    EXPECT_LT(started.load(), 100'000);  // and the run stopped long before its count
}

TEST(Threads, WorkerBookkeepingFailureIsRethrownAfterTheJoin) {
    const Objective napping = [](Trial&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0.0;
    };
    auto storage = std::make_shared<FailingStorage>(3);
    Study s(StudyDirection::Minimize, nullptr, nullptr, storage);
    EXPECT_EQ(error_of([&] { s.optimize(napping, 1000, 4); }), "disk full");
    EXPECT_LT(storage->updates, 20);  // the hand-out stops: only trials in flight finish
    auto sampler = std::make_shared<StubSampler>();
    sampler->fail_after_on = 2;
    Study t(StudyDirection::Minimize, sampler);
    EXPECT_EQ(error_of([&] { t.optimize(napping, 1000, 2); }), "after_trial failed");
    EXPECT_LT(sampler->after_calls, 20);
}

// pthread_exit unwinds the thread as CPython does to a thread that asks for the interpreter lock
// while it finalises. The trial runner and the worker loop must let that unwind pass: swallowed,
// the C library aborts the whole process.
TEST(Threads, AThreadEndedInsideItsObjectiveEndsWithoutTakingTheProcess) {
    for (const int n_jobs : {1, 3}) {
        Study s(StudyDirection::Minimize);
        std::atomic<int> calls{0};
        std::thread runner([&] {
            s.optimize(
                [&](Trial&) {
                    if (++calls == 3) pthread_exit(nullptr);
                    return 0.0;
                },
                50, n_jobs);
        });
        runner.join();
        const auto stored = s.trials().size();
        EXPECT_GE(stored, 2u) << n_jobs;
        EXPECT_LT(stored, 50u) << n_jobs;  // the run stops with the thread
    }
}

TEST(Threads, ConcurrentStudiesSharingSamplersAndPrunersStayApart) {
    GPSamplerConfig config;
    config.seed = 4;
    config.n_warmup = 3;
    config.n_cand = 64;
    auto sampler = std::make_shared<GPSampler>(config);
    auto pruner = std::make_shared<HyperbandPruner>(1, 9, 3.0, 0);
    Study low(StudyDirection::Minimize, sampler, pruner), high(StudyDirection::Maximize, sampler, pruner);
    const Objective curve = [](Trial& t) {
        const double x = suggest_x(t);
        for (int step = 1; step <= 9; ++step) {
            t.report(x + 1.0 / step, step);
            if (t.should_prune()) throw TrialPruned();
        }
        return x;
    };
    std::jthread other([&] { high.optimize(curve, 24, 2); });
    low.optimize(curve, 24, 2);
    other.join();
    double best_low = 1, best_high = 0;
    for (const Trial& t : low.trials())
        best_low = t.state == TrialState::Complete ? std::min(best_low, t.value()) : best_low;
    for (const Trial& t : high.trials())
        best_high = t.state == TrialState::Complete ? std::max(best_high, t.value()) : best_high;
    EXPECT_EQ(low.trials().size() + high.trials().size(), 48u);
    EXPECT_LT(best_low, 0.2);  // each study went its own way
    EXPECT_GT(best_high, 0.8);
}

// One CMAESSampler serving two studies of two workers each: each study's search is its own.
TEST(Threads, CMAESSamplerKeepsOneSearchPerStudy) {
    for (const bool surrogate : {false, true}) {
        CMAESSamplerConfig config;
        config.seed = 6;
        config.surrogate = surrogate;
        auto sampler = std::make_shared<CMAESSampler>(config);
        Study low(StudyDirection::Minimize, sampler), high(StudyDirection::Maximize, sampler);
        const Objective line = [](Trial& t) {
            return t.suggest_float("x", 0, 1, false, {}) + 0.1 * t.suggest_int("k", 0, 4, false, 1);
        };
        std::jthread other([&] { high.optimize(line, 150, 2); });
        low.optimize(line, 150, 2);
        other.join();
        EXPECT_EQ(low.trials().size() + high.trials().size(), 300u);
        EXPECT_LT(low.best_value(), 0.05) << surrogate;
        EXPECT_GT(high.best_value(), 1.35) << surrogate;
    }
}

// Every other proposing sampler, shared by two studies of two workers each, with a pruner: the
// TSan build checks what they keep per study and per sampler. AutoSampler gets a numeric space,
// so that it goes from the GP to CMA-ES within the run; the others a categorical too.
TEST(Threads, EverySamplerServesConcurrentStudies) {
    TPESamplerConfig tpe;
    tpe.seed = 7;
    tpe.n_startup_trials = 4;
    AutoSamplerConfig automatic;
    automatic.seed = 7;
    automatic.max_gp_trials = 12;  // past the GP's 8 warm-up trials
    NSGA2SamplerConfig nsga2;
    nsga2.seed = 7;
    nsga2.population_size = 6;
    const std::map<std::string, std::vector<ParamValue>> grid = {
        {"x", {0.0, 0.5, 1.0}}, {"k", {0, 2, 4}}, {"c", {"a", "b"}}};
    const std::vector<std::pair<std::shared_ptr<ISampler>, bool>> samplers = {
        {std::make_shared<TPESampler>(tpe), true},
        {std::make_shared<AutoSampler>(automatic), false},
        {std::make_shared<NSGA2Sampler>(nsga2), true},
        {std::make_shared<SobolSampler>(7), true},
        {std::make_shared<GridSampler>(grid, 7), true}};
    for (const auto& [sampler, with_choice] : samplers) {
        const Objective curve = [with_choice = with_choice](Trial& t) {
            double x = t.suggest_float("x", 0, 1, false, {}) + 0.1 * t.suggest_int("k", 0, 4, false, 1);
            if (with_choice && t.suggest_categorical("c", {"a", "b"}) == "b") x += 1;
            for (int step = 1; step <= 3; ++step) {
                t.report(x + 1.0 / step, step);
                if (t.should_prune()) throw TrialPruned();
            }
            return x;
        };
        const auto pruner = std::make_shared<MedianPruner>(3, 0, 50.0);
        Study low(StudyDirection::Minimize, sampler, pruner), high(StudyDirection::Maximize, sampler, pruner);
        std::jthread other([&] { high.optimize(curve, 18, 2); });
        low.optimize(curve, 18, 2);
        other.join();
        // Each study takes the grid's 18 points once; the others run every trial asked for.
        EXPECT_EQ(low.trials().size() + high.trials().size(), 36u);
        for (const Study* study : {&low, &high}) {
            for (const Trial& t : study->trials()) EXPECT_NE(t.state, TrialState::Failed) << t.trial_id;
        }
    }
}
