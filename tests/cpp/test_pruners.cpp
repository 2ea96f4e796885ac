#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tarvex/pruners.hpp"
#include "tarvex/storage.hpp"

using namespace tarvex;

namespace {
using Curve = std::vector<std::pair<std::int32_t, double>>;
const double NaN = std::nan("");

// A study whose stored trials are written directly, so each test states the curves it judges.
struct Fixture {
    explicit Fixture(StudyDirection d = StudyDirection::Minimize) : study(d) {}
    void store(const Curve& curve, TrialState state = TrialState::Complete) {
        Trial t(study.storage->create_trial(study.study_id), study.study_id);
        t.state = state;
        t.intermediate_values = curve;
        study.storage->update_trial(t);
    }
    void store_at(int step, std::initializer_list<double> values) {
        for (double v : values) store({{step, v}});
    }
    bool judge(IPruner& pruner, const Curve& curve) {
        Trial running(study.storage->create_trial(study.study_id), study.study_id);
        running.intermediate_values = curve;
        return pruner.should_prune(study, running);
    }
    Study study;
};
}  // namespace

TEST(MedianPruner, ComparesTheLatestValueWithTheLowerMedian) {
    MedianPruner p(5, 0, 50.0);
    Fixture f;
    EXPECT_FALSE(f.judge(p, {}));
    f.store_at(3, {1, 2, 3, 4});
    EXPECT_FALSE(f.judge(p, {{3, 100.0}}));  // four completed trials: still starting up
    f.store_at(3, {5});
    EXPECT_TRUE(f.judge(p, {{3, 3.5}}));
    EXPECT_FALSE(f.judge(p, {{3, 3.0}}));  // equal is kept
    EXPECT_FALSE(f.judge(p, {{3, NaN}}));
    f.store_at(3, {6});
    EXPECT_TRUE(f.judge(p, {{3, 3.2}}));  // even count: the lower middle value, 3
    EXPECT_FALSE(f.judge(p, {{9, 1.0}, {3, 2.9}}));  // judged at the latest step, 3
}

TEST(MedianPruner, PicksEachTrialsLastValueUpToTheStep) {
    MedianPruner p(1, 0, 50.0);
    Fixture f;
    f.store({{1, 5.0}, {3, 7.0}, {2, 6.0}});
    EXPECT_TRUE(f.judge(p, {{2, 6.5}}));   // compares with 6.0, not 5.0
    EXPECT_FALSE(f.judge(p, {{2, 6.0}}));
    Fixture late;
    late.store({{5, 1.0}});
    EXPECT_FALSE(late.judge(p, {{2, 99.0}}));  // counted, but no value at or before step 2
    Fixture nan;
    nan.store({{1, NaN}});
    nan.store({{1, 2.0}});
    EXPECT_TRUE(nan.judge(p, {{1, 2.5}}));  // the NaN contributes nothing
}

TEST(MedianPruner, OnlyCompletedTrialsAndAnyArgument) {
    Fixture f;
    f.store_at(0, {10, 20, 30});
    f.store({{0, -100.0}}, TrialState::Pruned);
    f.store({{0, -100.0}}, TrialState::Failed);
    EXPECT_FALSE(f.judge(*std::make_shared<MedianPruner>(1, 0, 50.0), {{0, 20.0}}));
    const std::pair<double, double> cases[] = {{0, 10}, {100, 30}, {150, 30}, {-10, 10}, {NaN, 10}, {1e300, 30}};
    for (const auto& [percentile, pivot] : cases) {
        MedianPruner p(0, 0, percentile);
        EXPECT_FALSE(f.judge(p, {{0, pivot}})) << percentile;
        EXPECT_TRUE(f.judge(p, {{0, pivot + 0.5}})) << percentile;
    }
    MedianPruner warm(0, 10, 50.0);
    EXPECT_FALSE(f.judge(warm, {{9, 1e9}}));
    EXPECT_TRUE(f.judge(warm, {{10, 1e9}}));
    MedianPruner negative(-3, -5, -1);
    EXPECT_TRUE(f.judge(negative, {{0, 11.0}}));
    // No direction is read: larger is worse in a maximising study too.
    Fixture up(StudyDirection::Maximize);
    up.store_at(0, {1, 2, 3});
    MedianPruner median(0, 0, 50.0);
    EXPECT_TRUE(up.judge(median, {{0, 2.5}}));
}

TEST(HyperbandPruner, BuildsTheGeometricLadder) {
    using R = std::vector<std::int32_t>;
    EXPECT_EQ(HyperbandPruner(1, 81, 3.0, 0).rungs, (R{1, 3, 9, 27, 81}));
    EXPECT_EQ(HyperbandPruner(1, 100, 3.0, 0).rungs, (R{1, 3, 9, 27, 81, 100}));
    EXPECT_EQ(HyperbandPruner(2, 10, 2.5, 0).rungs, (R{2, 5, 10}));
    EXPECT_EQ(HyperbandPruner(1, 10, 1.5, 0).rungs, (R{1, 1, 2, 3, 5, 7, 10}));
    EXPECT_EQ(HyperbandPruner(5, 3, 3.0, 0).rungs, (R{3}));
    EXPECT_EQ(HyperbandPruner(1, INT_MAX / 4, 2.0, 0).rungs.back(), INT_MAX / 4);
    const HyperbandPruner h(1, 81, 3.0, 0);
    EXPECT_EQ(h.next_rung(0), 1);
    EXPECT_EQ(h.next_rung(3), 9);
    EXPECT_EQ(h.next_rung(80), 81);
    EXPECT_EQ(h.next_rung(81), -1);
}

TEST(HyperbandPruner, RejectsLaddersThatNeverEndOrOverflow) {
    const auto message = [](int lo, int hi, double factor) -> std::string {
        try {
            HyperbandPruner(lo, hi, factor, 0);
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "accepted";
    };
    for (double factor : {1.0, 0.5, 0.0, -2.0, NaN, HUGE_VAL}) {
        EXPECT_EQ(message(1, 81, factor), "HyperbandPruner: reduction_factor must be a finite number greater than 1.");
        EXPECT_NE(message(5, 3, factor), "accepted");  // a one-rung ladder still divides by it
    }
    EXPECT_EQ(message(0, 81, 3.0), "HyperbandPruner: min_resource must be at least 1.");
    EXPECT_EQ(message(-4, 81, 3.0), "HyperbandPruner: min_resource must be at least 1.");
    EXPECT_EQ(message(1, INT_MAX, 3.0),
              "HyperbandPruner: max_resource is too large: the rung ladder would leave the 32-bit range.");
    // A factor one rounding step above 1 would grow the ladder until memory runs out.
    EXPECT_EQ(message(1, 100, std::nextafter(1.0, 2.0)),
              "HyperbandPruner: reduction_factor is too close to 1: the rung ladder would exceed 1048576 rungs.");
    EXPECT_EQ(message(1, 100, 1.001), "accepted");
}

TEST(HyperbandPruner, JudgesOnlyAtRungsAgainstTheTopShare) {
    HyperbandPruner p(1, 81, 3.0, 0);
    Fixture f;
    f.store_at(9, {0.1, 0.2, 0.3, 0.5, 0.6, 0.8, 0.9, 1.0, 1.1});
    f.store({{8, 0.0}, {10, 0.0}});  // never at step 9
    f.store({{9, 0.4}, {9, 0.0}}, TrialState::Pruned);  // only its first value at 9 counts
    EXPECT_TRUE(f.judge(p, {{9, 0.7}}));  // k = ceil(10 / 3) = 4, the fourth best is 0.4
    EXPECT_FALSE(f.judge(p, {{9, 0.4}}));
    EXPECT_FALSE(f.judge(p, {{9, NaN}}));
    for (int off_rung : {2, 10, 100}) EXPECT_FALSE(f.judge(p, {{off_rung, 1e9}}));

    Fixture one;
    one.store({{1, 0.5}}, TrialState::Failed);
    EXPECT_TRUE(one.judge(p, {{1, 0.6}}));
    Fixture nan;
    nan.store_at(1, {NaN, NaN, 0.5});
    EXPECT_TRUE(nan.judge(p, {{1, 0.6}}));  // NaNs sort last, so the best is 0.5
    Fixture up(StudyDirection::Maximize);
    up.store_at(3, {1.0});
    EXPECT_TRUE(up.judge(p, {{3, 2.0}}));
}

TEST(HyperbandPruner, BootstrapWaitsForEnoughTrialsAtTheRung) {
    HyperbandPruner p(1, 81, 3.0, 3);
    Fixture f;
    f.store_at(3, {0.1, 0.2});
    EXPECT_FALSE(f.judge(p, {{3, 5.0}}));
    f.store_at(3, {0.3});
    EXPECT_TRUE(f.judge(p, {{3, 5.0}}));
}

TEST(Pruners, SharedPrunerSeesOnlyTheStudyItIsAskedFor) {
    auto pruner = std::make_shared<MedianPruner>(1, 0, 50.0);
    Fixture a, b;
    a.store_at(0, {1.0});
    b.store_at(0, {10.0});
    EXPECT_TRUE(a.judge(*pruner, {{0, 5.0}}));
    EXPECT_FALSE(b.judge(*pruner, {{0, 5.0}}));
}
