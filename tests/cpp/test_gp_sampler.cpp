#include <gtest/gtest.h>

#include <cmath>

#include "reference_mt64.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/storage.hpp"

using namespace tarvex;

namespace {
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
const FloatDist unit_float{0, 1, false, std::nullopt};

std::shared_ptr<GPSampler> sampler(std::uint64_t seed, int n_warmup = 8) {
    GPSamplerConfig config;
    config.seed = seed;
    config.n_warmup = n_warmup;
    config.n_cand = 128;
    return std::make_shared<GPSampler>(config);
}

// The warm-up point of a unit float, from the sequence's definition.
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

double draw(GPSampler& s, const Study& study, int trial_id, const std::string& name,
            const Distribution& dist = unit_float) {
    return std::get<double>(s.sample_independent(study, Trial(trial_id, study.study_id), name, dist));
}

// A bowl over a mixed space; the study direction decides which end is good.
double mixed_objective(Trial& t) {
    const double x = t.suggest_float("x", -2, 2, false, std::nullopt);
    const double lr = t.suggest_float("lr", 1e-4, 1, true, std::nullopt);
    const double q = t.suggest_float("q", 0, 1, false, 0.25);
    const int n = t.suggest_int("n", 1, 64, true, 1);
    const int k = t.suggest_int("k", 0, 20, false, 4);
    const std::string c = t.suggest_categorical("c", {"a", "b", "c"});
    return x * x + std::pow(std::log10(lr) + 2, 2) + q + std::abs(n - 8) / 8.0 + k / 20.0 + (c == "b" ? 0 : 1);
}
}  // namespace

TEST(GPSamplerWarmup, FollowsTheShiftedHaltonSequence) {
    const auto s = sampler(7);
    const Study study(StudyDirection::Minimize, s);
    const double u = ReferenceMt64(7).unit();
    const double expect[] = {0.5, 0.25, 0.75};
    for (int id = 0; id < 3; ++id) {
        const double x = u + expect[id];
        EXPECT_EQ(draw(*s, study, id, "a"), x - std::floor(x));
    }
    EXPECT_EQ(draw(*s, study, 4, "b"), halton_point(7, 1, 4, 3));
    for (int dim = 2; dim < 33; ++dim) draw(*s, study, 0, std::to_string(dim));
    EXPECT_EQ(draw(*s, study, 5, "32"), halton_point(7, 32, 5, 2));  // past the prime table: base 2
    EXPECT_EQ(draw(*s, study, 2, "a"), draw(*s, study, 2, "a"));      // a name keeps its dimension
    // Seed 0 still has fixed shifts.
    const auto z1 = sampler(0), z2 = sampler(0);
    EXPECT_EQ(draw(*z1, study, 3, "a"), draw(*z2, study, 3, "a"));
    EXPECT_EQ(draw(*z1, study, 3, "a"), halton_point(kGolden, 0, 3, 2));
}

TEST(GPSamplerWarmup, DecodesThroughTheSearchSpace) {
    const auto s = sampler(1);
    const Study study(StudyDirection::Minimize, s);
    const double x = halton_point(1, 0, 0, 2);
    EXPECT_EQ(std::get<int>(s->sample_independent(study, Trial(0, 0), "n", IntDist{0, 10, false, 3})),
              std::get<int>([&] {
                  SearchSpace space;
                  space.add_int("n", 0, 10, false, 3);
                  return space.from_unit("n", x);
              }()));
    try {
        s->sample_independent(study, Trial(0, 0), "flat", FloatDist{1, 1, false, std::nullopt});
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "add_float('flat'): low must be < high.");
    }
    EXPECT_THROW(GPSampler(GPSamplerConfig{.n_cand = 0}), std::invalid_argument);
}

TEST(GPSampler, OnlyCompletedTrialsWithParametersOpenTheGate) {
    const auto s = sampler(3, 3);
    Study study(StudyDirection::Minimize, s);
    const auto suggest_x = [](Trial& t) { return t.suggest_float("x", 0, 1, false, std::nullopt); };
    study.optimize(suggest_x, 2);
    study.optimize([&](Trial& t) -> double { suggest_x(t); throw TrialPruned(); }, 1);
    study.optimize([&](Trial& t) -> double { suggest_x(t); throw std::runtime_error("x"); }, 1);
    study.optimize([](Trial&) { return 1.0; }, 1);  // completed, but asked for nothing
    study.add_trial({}, {0.5});
    study.optimize([](Trial& t) { return t.value(); }, 0);
    const int next = study.storage->create_trial(study.study_id);
    EXPECT_EQ(draw(*s, study, next, "x"), halton_point(3, 0, next, 2));  // still warming up
    study.optimize(suggest_x, 1);
    const int after = study.storage->create_trial(study.study_id);
    EXPECT_NE(draw(*s, study, after, "x"), halton_point(3, 0, after, 2));  // a recommendation
}

TEST(GPSampler, CachesOneRecommendationPerTrialAndPlacesRunningOnes) {
    const auto a = sampler(5, 4), b = sampler(5, 4);
    Study sa(StudyDirection::Minimize, a), sb(StudyDirection::Minimize, b);
    const Objective xy = [](Trial& t) {
        const double x = t.suggest_float("x", 0, 1, false, std::nullopt);
        return std::pow(x - 0.3, 2) + t.suggest_float("y", 0, 1, false, std::nullopt);
    };
    sa.optimize(xy, 6);
    sb.optimize(xy, 6);
    // The cache answers the trial's other names from the same recommendation.
    const double x1 = draw(*a, sa, 100, "x");
    const double y1 = draw(*a, sa, 100, "y");
    EXPECT_EQ(draw(*a, sa, 100, "x"), x1);
    EXPECT_NE(draw(*a, sa, 100, "z"), y1);  // outside the recommendation: warm-up
    draw(*b, sb, 100, "x");
    // Trial 101 sees trial 100 as a running placeholder in a, not in b, where 100 has finished.
    b->after_trial(sb, Trial(100, sb.study_id));
    EXPECT_NE(draw(*a, sa, 101, "x"), draw(*b, sb, 101, "x"));
    // After its end a trial's recommendation is computed afresh.
    a->after_trial(sa, Trial(100, sa.study_id));
    EXPECT_TRUE(std::isfinite(draw(*a, sa, 100, "y")));
}

TEST(GPSampler, RecommendationsStayInsideBoundsStepsAndChoices) {
    for (const auto direction : {StudyDirection::Minimize, StudyDirection::Maximize}) {
        Study study(direction, sampler(11, 5));
        study.optimize(mixed_objective, 14);
        for (const Trial& t : study.trials()) {
            ASSERT_EQ(t.state, TrialState::Complete);
            const double x = std::get<double>(t.params.at("x"));
            const double lr = std::get<double>(t.params.at("lr"));
            const double q = std::get<double>(t.params.at("q"));
            const int n = std::get<int>(t.params.at("n"));
            const int k = std::get<int>(t.params.at("k"));
            EXPECT_TRUE(x >= -2 && x <= 2 && lr >= 1e-4 && lr <= 1 && n >= 1 && n <= 64);
            EXPECT_EQ(std::fmod(q, 0.25), 0.0);
            EXPECT_TRUE(k % 4 == 0 && k >= 0 && k <= 20);
            EXPECT_EQ(std::string("abc").find(std::get<std::string>(t.params.at("c"))) != std::string::npos, true);
        }
    }
}

TEST(GPSampler, RequestsWithOtherBoundsOrKindsGetValuesThatFitThem) {
    Study study(StudyDirection::Minimize, sampler(5, 3));
    // The first trials fix the model's space at x in [0, 1]; later trials ask for x elsewhere
    // or as another kind, as a conditional search space does.
    int calls = 0;
    study.optimize(
        [&](Trial& t) {
            ++calls;
            if (calls <= 4) return t.suggest_float("x", 0, 1, false, std::nullopt);
            if (calls % 2) return t.suggest_float("x", 5, 6, false, std::nullopt) - 5;
            return static_cast<double>(t.suggest_int("x", 10, 20, false, 5));
        },
        10);
    for (const Trial& t : study.trials()) {
        ASSERT_EQ(t.state, TrialState::Complete) << t.trial_id;
        const auto& dist = t.distributions.at("x");
        if (const auto* f = std::get_if<FloatDist>(&dist)) {
            const double x = std::get<double>(t.params.at("x"));
            EXPECT_TRUE(f->low <= x && x <= f->high) << t.trial_id;
        } else {
            EXPECT_EQ(std::get<int>(t.params.at("x")) % 5, 0) << t.trial_id;
        }
    }
}

TEST(GPSampler, SeededSerialRunsAreReproducible) {
    std::vector<ParamMap> runs[2];
    for (auto& run : runs) {
        Study study(StudyDirection::Minimize, sampler(21, 4));
        study.optimize(mixed_objective, 9);
        for (const Trial& t : study.trials()) run.push_back(t.params);
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST(GPSampler, UnusableValuesAndPointsDoNotPoisonTheModel) {
    Study study(StudyDirection::Minimize, sampler(2, 3));
    int calls = 0;
    // Every other value is NaN or infinite; one enqueued point sits at 0 on a log scale.
    study.enqueue_trial({{"lr", 0.0}});
    study.optimize(
        [&](Trial& t) -> double {
            const double lr = t.suggest_float("lr", 1e-3, 1, true, std::nullopt);
            ++calls;
            if (calls % 3 == 0) return NAN;
            if (calls % 3 == 1) return calls % 2 ? INFINITY : -INFINITY;
            return lr;
        },
        15);
    for (const Trial& t : study.trials()) EXPECT_EQ(t.state, TrialState::Complete) << t.trial_id;
    // Multi-objective studies are outside the sampler's reach once warm-up is over.
    Study mo({StudyDirection::Minimize, StudyDirection::Minimize}, sampler(2, 2));
    mo.optimize_mo([](Trial& t) { return std::vector<double>{t.suggest_float("x", 0, 1, false, std::nullopt), 0}; }, 3);
    EXPECT_EQ(mo.trials().back().state, TrialState::Failed);
}
