#include <climits>
#include <cmath>
#include <map>

#include "reference_mt64.hpp"
#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

// The random sampler ignores study and trial, so one of each serves every draw.
struct Draw {
    RandomSampler sampler;
    Study study{StudyDirection::Minimize};
    explicit Draw(std::uint64_t seed) : sampler(seed) {}
    ParamValue operator()(const Distribution& d) { return sampler.sample_independent(study, Trial(0, 0), "p", d); }
    double f(double lo, double hi, bool log = false, std::optional<double> step = {}) {
        return std::get<double>((*this)(FloatDist{lo, hi, log, step}));
    }
    int i(int lo, int hi, int step = 1) { return std::get<int>((*this)(IntDist{lo, hi, false, step})); }
};

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

// The warm-up point of a unit float, from the shifted Halton sequence's definition.
double halton_point(std::uint64_t seed, int dim, int trial_id, int base) {
    ReferenceMt64 shift(static_cast<std::uint64_t>(dim) * kGolden + seed);
    double r = 0, f = 1;
    for (long long i = trial_id + 1; i > 0; i /= base) {
        f /= base;
        r += static_cast<double>(i % base) * f;
    }
    const double x = shift.unit() + r;
    return x - std::floor(x);
}

std::shared_ptr<GPSampler> gp_sampler(std::uint64_t seed, int n_warmup) {
    GPSamplerConfig config;
    config.seed = seed;
    config.n_warmup = n_warmup;
    config.n_cand = 128;
    return std::make_shared<GPSampler>(config);
}

// A warm-up value: names outside a proposal go to sample_independent.
double draw_x(GPSampler& s, const Study& study, int trial_id) {
    return std::get<double>(
        s.sample_independent(study, Trial(trial_id, study.study_id), "x", FloatDist{0, 1, false, {}}));
}

// A bowl over a mixed space.
double mixed_objective(Trial& t) {
    const double x = suggest_x(t, -2, 2);
    const double lr = t.suggest_float("lr", 1e-4, 1, true, std::nullopt);
    const double q = t.suggest_float("q", 0, 1, false, 0.25);
    const int k = t.suggest_int("k", 0, 20, false, 4);
    const std::string c = t.suggest_categorical("c", {"a", "b", "c"});
    return x * x + std::pow(std::log10(lr) + 2, 2) + q + k / 20.0 + (c == "b" ? 0 : 1);
}

}  // namespace

TEST(RandomSampler, SeededDrawsMatchAnIndependentGenerator) {
    Draw draw(42);
    ReferenceMt64 ref(42);
    for (int rep = 0; rep < 200; ++rep) {
        EXPECT_EQ(draw.f(-3, 7), 10 * ref.unit() - 3);
        const double a = std::log(1e-5);
        EXPECT_EQ(draw.f(1e-5, 1, true), std::exp(-a * ref.unit() + a));
        EXPECT_EQ(draw.i(-4, 17, 3), -4 + 3 * static_cast<int>(ref.bounded(7)));
        EXPECT_EQ(std::get<std::string>(draw(CategoricalDist{{"a", "b", "c"}})), std::string(1, 'a' + ref.bounded(2)));
        EXPECT_EQ(static_cast<long long>(draw.i(INT_MIN, INT_MAX)),
                  static_cast<long long>(ref.bounded(0xFFFFFFFFULL)) + INT_MIN);
    }
}

TEST(RandomSampler, GridsReachBothEnds) {
    Draw draw(1);
    std::map<double, int> counts;
    for (int rep = 0; rep < 40000; ++rep) counts[draw.f(0, 1, false, 0.25)]++;
    ASSERT_EQ(counts.size(), 5u);
    for (const auto& [v, c] : counts) EXPECT_NEAR(c, (v == 0 || v == 1) ? 5000 : 10000, 600) << v;
    std::map<int, int> ints;
    for (int rep = 0; rep < 20000; ++rep) ints[draw.i(0, 10, 3)]++;
    EXPECT_EQ(ints.size(), 4u);
    EXPECT_EQ(ints.rbegin()->first, 9);
    EXPECT_EQ(draw.f(2.5, 2.5), 2.5);
    EXPECT_TRUE(std::isfinite(draw.f(-1.7e308, 1.7e308)));
}

class RandomSamplerRejects : public ::testing::TestWithParam<Distribution> {};

TEST_P(RandomSamplerRejects, InvalidDistributionNamingTheCall) {
    Draw draw(9);
    const std::string message = error_of([&] { draw(GetParam()); });
    EXPECT_EQ(message.rfind(std::string(suggest_call(GetParam())) + "('p'): ", 0), 0u) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Distributions, RandomSamplerRejects,
    ::testing::Values(Distribution{IntDist{0, 10, false, 0}}, Distribution{IntDist{5, 1, false, 1}},
                      Distribution{IntDist{0, 10, true, 1}}, Distribution{FloatDist{0, 1, false, 0.0}},
                      Distribution{FloatDist{0, 1, false, std::nan("")}}, Distribution{FloatDist{2, 1, false, {}}},
                      Distribution{FloatDist{0, 1, true, {}}}, Distribution{FloatDist{0, INFINITY, false, {}}}));

TEST(SearchSpace, EncodesFloatsIntsAndChoicesAndDecodesOntoTheGrid) {
    SearchSpace s;
    s.add_float("lin", 0, 10, false, std::nullopt);
    s.add_float("log", 1e-3, 1e3, true, std::nullopt);
    s.add_float("step", 0, 0.9, false, 0.25);
    s.add_int("g", 0, 10, false, 3);
    s.add_categorical("c", {"a", "b", "c"});
    EXPECT_EQ(s.total_unit_dim(), 7);
    EXPECT_DOUBLE_EQ(s.to_unit("lin", 2.5), 0.25);
    EXPECT_DOUBLE_EQ(s.to_unit("lin", 12.0), 1.2);             // not clamped on the way in
    EXPECT_EQ(std::get<double>(s.from_unit("lin", 7)), 10.0);  // clamped on the way out
    EXPECT_NEAR(std::get<double>(s.from_unit("log", 0.5)), 1.0, 1e-12);
    EXPECT_DOUBLE_EQ(std::get<double>(s.from_unit("step", 1.0)), 0.9);
    EXPECT_EQ(std::get<int>(s.from_unit("g", 1.0)), 9);
    EXPECT_EQ(s.to_unit_block("c", std::string("b")), Eigen::Vector3d(0, 1, 0));
    EXPECT_EQ(std::get<std::string>(s.from_unit_block("c", Eigen::Vector3d(0.2, 0.7, 0.7))), "b");
    EXPECT_EQ(error_of([&] { s.to_unit("c", std::string("d")); }), "to_unit: 'd' not in choices for 'c'.");
}

TEST(SearchSpace, ValidationNamesTheParameterAndChangesNothing) {
    SearchSpace s;
    s.add_float("x", 0, 1, false, std::nullopt);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { s.add_float("f", 1, 1, true, -1.0); }, "add_float('f'): low must be < high."},
        {[&] { s.add_float("f", 0, 1, true, std::nullopt); }, "add_float('f'): log_scale requires low > 0."},
        {[&] { s.add_float("f", -INFINITY, 1, false, std::nullopt); }, "add_float('f'): bounds must be finite."},
        {[&] { s.add_int("i", 0, 2, true, 0); }, "add_int('i'): step must be > 0."},
        {[&] { s.add_categorical("c", {}); }, "add_categorical('c'): choices must be non-empty."},
        {[&] { s.add_int("x", 0, 2, false, 1); }, "Parameter 'x' is already defined."},
    };
    for (const auto& [call, message] : cases) EXPECT_EQ(error_of(call), message);
    EXPECT_EQ(s.specs.size(), 1u);
    // Extreme bounds decode inside themselves.
    s.add_float("wide", -1e308, 1e308, false, std::nullopt);
    s.add_float("tiny", 1e-300, 1e300, true, std::nullopt);
    for (const double u : {0.0, 1e-17, 0.5, 1 - 1e-16, 1.0, std::nan("")}) {
        EXPECT_TRUE(std::isfinite(std::get<double>(s.from_unit("wide", u))));
        const double t = std::get<double>(s.from_unit("tiny", u));
        EXPECT_TRUE(t >= 1e-300 && t <= 1e300);
    }
}

TEST(SearchSpace, SnapMapsAPointToTheConfigurationItDecodesTo) {
    SearchSpace s;
    s.add_float("f", 0, 1, false, std::nullopt);
    s.add_float("q", 0, 1, false, 0.25);
    s.add_int("n", 0, 10, false, 3);
    s.add_int("lg", 1, 100, true, 1);
    s.add_categorical("c", {"a", "b", "c"});
    Eigen::VectorXd x(7);
    x << 0.37, 0.6, 0.5, 0.5, 0.2, 0.9, 0.9;
    s.snap(x);
    Eigen::VectorXd expected(7);
    expected << 0.37, 0.5, 0.3, 0.5, 0, 1, 0;  // 0.5 on the grid, 3, 10, "b" (the first of a tie)
    EXPECT_TRUE(x.isApprox(expected, 1e-12)) << x.transpose();
    Eigen::VectorXd again = x;
    s.snap(again);
    EXPECT_EQ(again, x);
    EXPECT_EQ(s.continuous_mask(), (Eigen::VectorXd(7) << 1, 0, 0, 0, 0, 0, 0).finished());
}

TEST(GPSampler, WarmupFollowsTheShiftedHaltonSequence) {
    const auto s = gp_sampler(7, 8);
    const Study study(StudyDirection::Minimize, s);
    for (int id = 0; id < 3; ++id) EXPECT_EQ(draw_x(*s, study, id), halton_point(7, 0, id, 2));
    for (int dim = 1; dim < 33; ++dim)
        s->sample_independent(study, Trial(0, 0), std::to_string(dim), FloatDist{0, 1, false, {}});
    EXPECT_EQ(std::get<double>(s->sample_independent(study, Trial(5, 0), "32", FloatDist{0, 1, false, {}})),
              halton_point(7, 32, 5, 2));                                            // past the prime table: base 2
    EXPECT_EQ(draw_x(*gp_sampler(0, 8), study, 3), halton_point(kGolden, 0, 3, 2));  // seed 0: fixed shifts
    // A range of one value is that value; an empty one keeps the space's message.
    EXPECT_EQ(s->sample_independent(study, Trial(0, 0), "f", FloatDist{1, 1, false, {}}), ParamValue(1.0));
    EXPECT_EQ(s->sample_independent(study, Trial(0, 0), "i", IntDist{4, 4, false, 1}), ParamValue(4));
    EXPECT_EQ(error_of([&] { s->sample_independent(study, Trial(0, 0), "f", FloatDist{2, 1, false, {}}); }),
              "add_float('f'): low must be < high.");
}

TEST(GPSampler, RecommendationsFitTheSpaceAndRepeatForASeed) {
    std::vector<ParamMap> runs[2];
    for (auto& run : runs) {
        Study study(StudyDirection::Maximize, gp_sampler(11, 5));
        study.optimize([](Trial& t) { return -mixed_objective(t); }, 12);
        for (const Trial& t : study.trials()) {
            ASSERT_EQ(t.state, TrialState::Complete);
            const double q = std::get<double>(t.params.at("q"));
            const int k = std::get<int>(t.params.at("k"));
            EXPECT_TRUE(std::fmod(q, 0.25) == 0 && q <= 1 && k % 4 == 0 && k <= 20);
            run.push_back(t.params);
        }
    }
    EXPECT_EQ(runs[0], runs[1]);
}

// Outcomes that carry no value still tell the model where not to go: failures, NaN values.
TEST(GPSampler, FailedAndNonFiniteTrialsRepelTheSampler) {
    const Objective raising = [](Trial& t) {
        const double x = suggest_x(t, 0, 10);
        if (x > 4) throw std::runtime_error("diverged");
        return std::pow(x - 6, 2);
    };
    const Objective nan = [](Trial& t) {
        const double lr = t.suggest_float("lr", 1e-4, 1, true, std::nullopt);
        return lr > 0.3 ? std::nan("") : std::pow(std::log10(lr) + 1, 2);
    };
    for (const auto& objective : {raising, nan}) {
        Study study(StudyDirection::Minimize, gp_sampler(1, 8));
        study.optimize(objective, 60);
        const auto all = study.trials();
        const auto bad = std::count_if(all.end() - 30, all.end(), [](const Trial& t) {
            return t.state == TrialState::Failed || std::isnan(t.value());
        });
        EXPECT_LE(bad, 8);
        EXPECT_LT(study.best_value(), 4.5);
    }
}

// The space follows what trials used: a range widened mid-study is explored, a parameter seen
// first in later trials is modelled, and a trial the space cannot encode breaks nothing.
TEST(GPSampler, TheSpaceFollowsTheNewestDistributions) {
    Study widened(StudyDirection::Minimize, gp_sampler(2, 5));
    int calls = 0;
    widened.optimize([&](Trial& t) { return std::pow(suggest_x(t, 0, ++calls <= 10 ? 1 : 100) - 70, 2); }, 30);
    const auto all = widened.trials();
    EXPECT_GE(
        std::count_if(all.end() - 15, all.end(), [](const Trial& t) { return std::get<double>(t.params.at("x")) > 1; }),
        12);
    EXPECT_LT(widened.best_value(), 25);

    Study flat(StudyDirection::Minimize, gp_sampler(2, 3));
    flat.enqueue_trial({{"x", 1.0}});
    flat.optimize(
        [](Trial& t) {
            const double x = t.suggest_float("x", 1, t.trial_id == 0 ? 1 : 2, false, std::nullopt);
            return t.trial_id < 6 ? x + 1 : x + std::pow(t.suggest_float("late", 0, 1, false, std::nullopt) - 0.8, 2);
        },
        25);
    for (const Trial& t : flat.trials()) EXPECT_EQ(t.state, TrialState::Complete) << t.trial_id;
    EXPECT_NEAR(std::get<double>(flat.best_params().at("late")), 0.8, 0.1);
}

TEST(GPSampler, ValuesNearTheLargestDoubleAreStandardisedWithoutOverflow) {
    for (const double big : {1.7e308, 1e200}) {
        Study study(StudyDirection::Minimize, gp_sampler(4, 5));
        study.optimize([&](Trial& t) { return big * std::pow(suggest_x(t) - 0.3, 2) - big / 2; }, 25);
        for (const Trial& t : study.trials()) ASSERT_EQ(t.state, TrialState::Complete);
        EXPECT_NEAR(std::get<double>(study.best_params().at("x")), 0.3, 0.02) << big;
    }
}

TEST(GPSampler, MultiObjectiveStudiesAreRefusedBeforeAnyTrial) {
    Study study({StudyDirection::Minimize, StudyDirection::Maximize}, gp_sampler(1, 0));
    EXPECT_EQ(error_of([&] { study.optimize_mo([](Trial& t) { return std::vector<double>{suggest_x(t), 0}; }, 5); }),
              "GPSampler: a multi-objective study (2 directions) cannot be sampled by a GP over one value; use "
              "RandomSampler.");
    EXPECT_TRUE(study.trials().empty());
}

TEST(GPSampler, StudiesSharingASamplerKeepTheirProposalsApart) {
    const Objective bowl = [](Trial& t) { return std::pow(suggest_x(t) - 0.3, 2); };
    // Both studies number their trials alike; a's next trial asks first, then b's.
    const auto run = [&](bool a_still_running) {
        const auto shared = gp_sampler(5, 4);
        Study a(StudyDirection::Minimize, shared), b(StudyDirection::Maximize, shared);
        a.optimize(bowl, 6);
        b.optimize(bowl, 6);
        Trial in_a = a.ask();
        const double x_a = suggest_x(in_a);
        if (!a_still_running) a.tell(in_a, TrialState::Complete, {1.0});
        Trial in_b = b.ask();
        const double x_b = suggest_x(in_b);
        return std::pair{x_a, x_b};
    };
    const auto [x_a, x_b] = run(true);
    EXPECT_NE(x_b, x_a);  // b's own model, not a's proposal
    // a's running trial is no placeholder in b's model.
    EXPECT_EQ(run(false).second, x_b);
}
