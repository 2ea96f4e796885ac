#include <climits>
#include <cmath>

#include "stubs.hpp"

using namespace tarvex;
using tarvex::testing::error_of;

namespace {
using Curve = std::vector<std::pair<std::int32_t, double>>;
const double NaN = std::nan("");

// A study whose stored trials are written directly. Values are given as "smaller is better";
// a maximising study stores and judges them negated, so every case runs in both directions and
// must give the same answers.
struct Fixture {
    explicit Fixture(std::vector<StudyDirection> d)
        : study(d), sign(d == std::vector{StudyDirection::Maximize} ? -1 : 1) {}
    void store(const Curve& curve, TrialState state = TrialState::Complete) {
        Trial t(study.storage->create_trial(study.study_id), study.study_id);
        t.state = state;
        for (const auto& [step, v] : curve) t.intermediate_values.emplace_back(step, sign * v);
        study.storage->update_trial(t);
    }
    void store_at(int step, std::initializer_list<double> values) {
        for (double v : values) store({{step, v}});
    }
    bool judge(IPruner& pruner, const Curve& curve) {
        Trial running(study.storage->create_trial(study.study_id), study.study_id);
        for (const auto& [step, v] : curve) running.intermediate_values.emplace_back(step, sign * v);
        return pruner.should_prune(study, running);
    }
    Study study;
    const double sign;
};

class PrunerRule : public ::testing::TestWithParam<StudyDirection> {
protected:
    Fixture fresh() const { return Fixture({GetParam()}); }
};
}  // namespace

TEST_P(PrunerRule, MedianComparesTheLatestValueWithTheLowerMedianOfCompletedTrials) {
    MedianPruner p(5, 0, 50.0);
    Fixture f = fresh();
    EXPECT_FALSE(f.judge(p, {}));
    f.store_at(3, {1, 2, 3, 4});
    f.store({{3, -100.0}}, TrialState::Pruned);  // neither counts nor lowers the median
    EXPECT_FALSE(f.judge(p, {{3, 100.0}}));      // four completed trials: still starting up
    f.store_at(3, {5});
    EXPECT_TRUE(f.judge(p, {{3, 3.5}}));
    EXPECT_FALSE(f.judge(p, {{3, 3.0}}));  // equal is kept
    EXPECT_FALSE(f.judge(p, {{3, NaN}}));
    f.store_at(3, {6});
    EXPECT_TRUE(f.judge(p, {{3, 3.2}}));             // even count: the lower middle value, 3
    EXPECT_FALSE(f.judge(p, {{9, 1.0}, {3, 2.9}}));  // judged at the latest report's step
    f.store({{1, 5.0}, {3, 7.0}, {2, 0.5}});         // its last value up to step 2 is 0.5
    f.store({{1, NaN}});
    MedianPruner any(0, 0, 50.0);
    EXPECT_TRUE(f.judge(any, {{2, 0.6}}));
    EXPECT_FALSE(f.judge(any, {{2, 0.5}}));
}

TEST_P(PrunerRule, MedianPercentileAndWarmup) {
    Fixture f = fresh();
    f.store_at(0, {10, 20, 30});
    const std::pair<double, double> cases[] = {{0, 10}, {100, 30}, {150, 30}, {-10, 10}, {NaN, 10}, {1e300, 30}};
    for (const auto& [percentile, pivot] : cases) {
        MedianPruner p(0, 0, percentile);
        EXPECT_FALSE(f.judge(p, {{0, pivot}})) << percentile;
        EXPECT_TRUE(f.judge(p, {{0, pivot + 0.5}})) << percentile;
    }
    MedianPruner warm(0, 10, 50.0);
    EXPECT_FALSE(f.judge(warm, {{9, 1e9}}));
    EXPECT_TRUE(f.judge(warm, {{10, 1e9}}));
}

TEST_P(PrunerRule, HyperbandJudgesOnlyAtRungsAgainstTheTopShare) {
    HyperbandPruner p(1, 81, 3.0, 0);
    Fixture f = fresh();
    f.store_at(9, {0.1, 0.2, 0.3, 0.5, 0.6, 0.8, 0.9, 1.0, 1.1});
    f.store({{8, 0.0}, {10, 0.0}});                     // never at step 9
    f.store({{9, 0.4}, {9, 0.0}}, TrialState::Pruned);  // only its first value at 9 counts
    EXPECT_TRUE(f.judge(p, {{9, 0.7}}));                // k = ceil(10 / 3) = 4, the fourth best is 0.4
    EXPECT_FALSE(f.judge(p, {{9, 0.4}}));
    EXPECT_FALSE(f.judge(p, {{9, NaN}}));
    for (int off_rung : {2, 10, 100}) EXPECT_FALSE(f.judge(p, {{off_rung, 1e9}}));
    Fixture nan = fresh();
    nan.store_at(1, {NaN, NaN, 0.5});
    EXPECT_TRUE(nan.judge(p, {{1, 0.6}}));  // NaN is never the better value
    HyperbandPruner bootstrap(1, 81, 3.0, 3);
    Fixture two = fresh();
    two.store_at(3, {0.1, 0.2});
    EXPECT_FALSE(two.judge(bootstrap, {{3, 5.0}}));
    two.store_at(3, {0.3});
    EXPECT_TRUE(two.judge(bootstrap, {{3, 5.0}}));
}

INSTANTIATE_TEST_SUITE_P(BothDirections, PrunerRule,
                         ::testing::Values(StudyDirection::Minimize, StudyDirection::Maximize));

TEST(Pruners, MultiObjectiveReportsAreJudgedSmallerIsBetter) {
    Fixture f({StudyDirection::Maximize, StudyDirection::Maximize});
    f.store_at(1, {1, 2, 3});
    MedianPruner median(0, 0, 50.0);
    HyperbandPruner hyperband(1, 9, 3.0, 0);
    EXPECT_TRUE(f.judge(median, {{1, 2.5}}));
    EXPECT_TRUE(f.judge(hyperband, {{1, 1.5}}));
}

TEST(HyperbandPruner, BuildsTheGeometricLadder) {
    using R = std::vector<std::int32_t>;
    EXPECT_EQ(HyperbandPruner(1, 81, 3.0, 0).rungs, (R{1, 3, 9, 27, 81}));
    EXPECT_EQ(HyperbandPruner(1, 100, 3.0, 0).rungs, (R{1, 3, 9, 27, 81, 100}));
    EXPECT_EQ(HyperbandPruner(2, 10, 2.5, 0).rungs, (R{2, 5, 10}));
    EXPECT_EQ(HyperbandPruner(1, 10, 1.5, 0).rungs, (R{1, 1, 2, 3, 5, 7, 10}));
    EXPECT_EQ(HyperbandPruner(5, 3, 3.0, 0).rungs, (R{3}));
    // The product that passes max_resource ends the ladder even beyond the int range.
    EXPECT_EQ(HyperbandPruner(1, INT_MAX, 3.0, 0).rungs.back(), INT_MAX);
    EXPECT_EQ(HyperbandPruner(1, INT_MAX, 3.0, 0).rungs.size(), 21u);
    EXPECT_EQ(HyperbandPruner(1, 81, 3e9, 0).rungs, (R{1, 81}));
    const HyperbandPruner h(1, 81, 3.0, 0);
    EXPECT_EQ(h.next_rung(0), 1);
    EXPECT_EQ(h.next_rung(80), 81);
    EXPECT_EQ(h.next_rung(81), -1);
}

TEST(HyperbandPruner, RejectsLaddersThatNeverEndNamingTheArgument) {
    const auto message = [](int lo, int hi, double factor) {
        return error_of([&] { HyperbandPruner(lo, hi, factor, 0); });
    };
    for (double factor : {1.0, 0.5, -2.0, NaN, HUGE_VAL}) {
        EXPECT_EQ(message(1, 81, factor), "HyperbandPruner: reduction_factor must be a finite number greater than 1.");
        EXPECT_NE(message(5, 3, factor), "no error");  // a one-rung ladder still divides by it
    }
    EXPECT_EQ(message(0, 81, 3.0), "HyperbandPruner: min_resource must be at least 1.");
    EXPECT_EQ(message(1, 100, std::nextafter(1.0, 2.0)),
              "HyperbandPruner: reduction_factor is too close to 1: the rung ladder would exceed 1048576 rungs.");
}

namespace {
// The two rules as written, over a fresh read of every stored trial: the reference the pruners'
// incremental views must agree with.
bool median_reference(const Study& study, const Trial& running, const MedianPruner& p) {
    const auto& [step, latest] = running.intermediate_values.back();
    if (step < p.n_warmup_steps) return false;
    const double sign = study.directions.size() == 1 && study.directions[0] == StudyDirection::Maximize ? -1 : 1;
    std::int64_t complete = 0;
    std::vector<double> vals;
    for (const Trial& t : study.trials()) {
        if (t.state != TrialState::Complete) continue;
        ++complete;
        double v = NaN;
        for (const auto& [s, x] : t.intermediate_values) v = s <= step ? x : v;
        if (!std::isnan(v)) vals.push_back(sign * v);
    }
    if (p.n_startup_trials > complete || vals.empty()) return false;
    std::sort(vals.begin(), vals.end());
    const auto i =
        std::clamp<long>(static_cast<long>(std::floor(p.percentile / 100 * (vals.size() - 1))), 0, vals.size() - 1);
    return sign * latest > vals[i];
}

bool hyperband_reference(const Study& study, const Trial& running, const HyperbandPruner& p) {
    const auto& [step, latest] = running.intermediate_values.back();
    if (std::find(p.rungs.begin(), p.rungs.end(), step) == p.rungs.end()) return false;
    const double sign = study.directions.size() == 1 && study.directions[0] == StudyDirection::Maximize ? -1 : 1;
    std::vector<double> finite;
    std::size_t n = 0;
    for (const Trial& t : study.trials()) {
        if (t.trial_id == running.trial_id) continue;
        for (const auto& [s, x] : t.intermediate_values) {
            if (s != step) continue;
            ++n;
            if (!std::isnan(x)) finite.push_back(sign * x);
            break;
        }
    }
    if (p.bootstrap_count > static_cast<long>(n) || n == 0) return false;
    std::sort(finite.begin(), finite.end());
    const auto k = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(n / p.reduction_factor)));
    return k - 1 < finite.size() && sign * latest > finite[k - 1];
}
}  // namespace

// The pruners keep what they read between calls; whatever the study does meanwhile (new trials,
// trials stored again, NaN reports, any state), they answer as a fresh read would.
TEST_P(PrunerRule, IncrementalViewsAnswerAsAFreshReadWould) {
    std::mt19937_64 rng(static_cast<std::uint64_t>(GetParam()) + 7);
    const auto draw = [&](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
    Fixture f = fresh();
    MedianPruner median(3, 2, 40.0);
    HyperbandPruner hyperband(1, 27, 3.0, 2);
    std::vector<Trial> stored;
    for (int round = 0; round < 400; ++round) {
        Curve curve;
        for (int s = 1, n = draw(12); s <= n; ++s)
            curve.emplace_back(draw(4) == 0 ? draw(12) : s, draw(9) ? draw(100) / 10.0 : NaN);
        if (draw(3) == 0 && !stored.empty()) {  // a trial stored again, with another outcome
            Trial again = stored[static_cast<std::size_t>(draw(static_cast<int>(stored.size())))];
            again.state = static_cast<TrialState>(1 + draw(3));
            again.intermediate_values = curve;
            f.study.storage->update_trial(again);
        } else if (draw(2) == 0) {
            f.store(curve, static_cast<TrialState>(1 + draw(3)));
            stored.push_back(f.study.trials().back());
        }
        Trial running(f.study.storage->create_trial(f.study.study_id), f.study.study_id);
        running.intermediate_values = {{1 + draw(27), draw(100) / 10.0}};
        if (draw(2))
            running.intermediate_values.back().first = std::vector{1, 3, 9, 27}[static_cast<std::size_t>(draw(4))];
        ASSERT_EQ(median.should_prune(f.study, running), median_reference(f.study, running, median)) << round;
        ASSERT_EQ(hyperband.should_prune(f.study, running), hyperband_reference(f.study, running, hyperband)) << round;
    }
}
