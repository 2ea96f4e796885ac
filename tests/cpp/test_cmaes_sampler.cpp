// CMAESSampler: reproducible candidates inside the space, convergence to a known optimum,
// integers that keep moving, restarts, warm starts, the independent sampler for the rest, and
// the surrogate that ranks a generation.
#include <cmath>
#include <deque>
#include <random>
#include <set>

#include "../../src/samplers/cma_surrogate.hpp"
#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

CMAESSamplerConfig seeded(std::uint64_t seed, bool surrogate = false) {
    CMAESSamplerConfig config;
    config.seed = seed;
    config.surrogate = surrogate;
    return config;
}

double shifted_sphere(Trial& t) {
    const double optimum[4] = {1, -2, 0.5, 3};
    const char* const names[4] = {"x0", "x1", "x2", "x3"};
    double sum = 0;
    for (int i = 0; i < 4; ++i) sum += std::pow(t.suggest_float(names[i], -5, 5, false, {}) - optimum[i], 2);
    return sum;
}

}  // namespace

TEST(CMAESSampler, CandidatesRepeatForASeedAndHonourTheSpace) {
    const Objective mixed = [](Trial& t) {
        const double x = t.suggest_float("x", -3, 3, false, {});
        const double lr = t.suggest_float("lr", 1e-5, 1, true, {});
        const int n = t.suggest_int("n", 1, 64, true, 1);
        const int k = t.suggest_int("k", 0, 20, false, 4);
        const double q = t.suggest_float("q", 0, 1, false, 0.25);
        const std::string c = t.suggest_categorical("c", {"a", "b"});
        return x * x + std::pow(std::log10(lr) + 3, 2) + std::abs(n - 8) + k + q + (c == "a");
    };
    for (const bool surrogate : {false, true}) {
        std::vector<Trial> runs[2];
        for (auto& run : runs) {
            Study study(StudyDirection::Minimize, std::make_shared<CMAESSampler>(seeded(5, surrogate)));
            study.optimize(mixed, 80);
            run = study.trials();
        }
        for (std::size_t i = 0; i < runs[0].size(); ++i) EXPECT_EQ(runs[0][i].params, runs[1][i].params) << i;
        for (const Trial& t : runs[0]) {
            for (const auto& [name, dist] : t.distributions) EXPECT_TRUE(can_produce(dist, t.params.at(name))) << name;
        }
    }
}

// The sphere's minimum is 0 at (1, -2, 0.5, 3); both the full and the diagonal covariance get
// there, with the surrogate or without.
TEST(CMAESSampler, ConvergesOnAShiftedSphere) {
    for (const bool surrogate : {false, true}) {
        for (const bool separable : {false, true}) {
            CMAESSamplerConfig config = seeded(2, surrogate);
            config.separable = separable;
            Study study(StudyDirection::Minimize, std::make_shared<CMAESSampler>(config));
            study.optimize(shifted_sphere, 600);
            EXPECT_LT(study.best_value(), 1e-4) << separable << surrogate;
            EXPECT_NEAR(std::get<double>(study.best_params().at("x1")), -2, 0.01) << separable << surrogate;
        }
    }
}

// The surrogate's model: exact on a quadratic once it has a row and a tenth for each of its
// terms, from the linear model up to the full one; in agreement with the values it fits; and
// nothing before the 15 rows its rank check needs.
TEST(CMAESSampler, TheSurrogateFitsAQuadraticExactly) {
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> unit(0, 1);
    const int n = 3;
    const auto bowl = [](const Eigen::VectorXd& x) {
        return 2 + 3 * std::pow(x[0] - 0.3, 2) + std::pow(x[1] + x[2] - 0.8, 2) + 0.5 * x[2];
    };
    tarvex::detail::LqSurrogate model(n, true);
    const auto point = [&] { return Eigen::VectorXd(Eigen::VectorXd::NullaryExpr(n, [&] { return unit(rng); })); };
    for (int i = 0; i < 14; ++i) model.add(point(), 1.0);
    EXPECT_FALSE(model.fit());
    model.clear();
    for (int i = 0; i < 40; ++i) {
        const Eigen::VectorXd x = 1e-3 * point();  // a narrow search: the fit scales its rows
        model.add(x, bowl(x));
    }
    ASSERT_TRUE(model.fit());
    for (int i = 0; i < 5; ++i) {
        const Eigen::VectorXd x = 1e-3 * point();
        EXPECT_NEAR(model.predict(x), bowl(x), 1e-9);
    }
    EXPECT_DOUBLE_EQ(model.rank_agreement(20), 1.0);
    // A linear model only, from 15 rows: the order of a plane's values is still exact.
    tarvex::detail::LqSurrogate plane(n, false);
    for (int i = 0; i < 15; ++i) {
        const Eigen::VectorXd x = point();
        plane.add(x, x.sum());
    }
    ASSERT_TRUE(plane.fit());
    EXPECT_NEAR(plane.predict(Eigen::VectorXd::Constant(n, 0.5)), 1.5, 1e-9);
}

// The model kept up to date row by row, as a search narrows and drifts and old rows leave it,
// predicts what a model built afresh from the same rows predicts.
TEST(CMAESSampler, TheSurrogateUpdatedRowByRowMatchesAFreshFit) {
    std::mt19937_64 rng(9);
    std::normal_distribution<double> normal;
    const int n = 3;
    const auto bumpy = [](const Eigen::VectorXd& x) { return std::exp(x[0]) + std::pow(x[1] - x[2], 4) + x.norm(); };
    tarvex::detail::LqSurrogate kept(n, true);
    std::deque<std::pair<Eigen::VectorXd, double>> recent;  // the 20 rows a full 3-D model holds
    Eigen::VectorXd centre = Eigen::VectorXd::Constant(n, 0.5);
    double step = 0.3;
    for (int i = 0; i < 300; ++i) {
        const Eigen::VectorXd x =
            centre + step * Eigen::VectorXd(Eigen::VectorXd::NullaryExpr(n, [&] { return normal(rng); }));
        kept.add(x, bumpy(x));
        recent.emplace_back(x, bumpy(x));
        if (recent.size() > 20) recent.pop_front();
        centre += 0.2 * step * Eigen::VectorXd::Ones(n);
        step *= 0.97;
        if (i < 20 || i % 7 != 0) {
            kept.fit();
            continue;
        }
        ASSERT_TRUE(kept.fit());
        tarvex::detail::LqSurrogate fresh(n, true);
        for (const auto& [row, value] : recent) fresh.add(row, value);
        ASSERT_TRUE(fresh.fit());
        for (const auto& [row, value] : recent) {
            EXPECT_NEAR(kept.predict(row), fresh.predict(row), 1e-7 * std::abs(value)) << "after " << i + 1 << " rows";
        }
        EXPECT_DOUBLE_EQ(kept.rank_agreement(15), fresh.rank_agreement(15));
    }
}

// With the surrogate, a generation evaluates only its best-ranked candidates once the model's
// order agrees with the values: on an ill-conditioned ellipsoid (10^6 between its axes, minimum 0
// at 0.7 in every coordinate) it reaches 1e-8 within 500 trials, where the plain search is still
// far from it.
TEST(CMAESSampler, TheSurrogateSavesTrialsOnASmoothProblem) {
    const int n = 6;
    const Objective ellipsoid = [](Trial& t) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            const double x = t.suggest_float(std::string(1, static_cast<char>('a' + i)), -5, 5, false, {});
            sum += std::pow(1e6, i / (n - 1.0)) * std::pow(x - 0.7, 2);
        }
        return sum;
    };
    Study study(StudyDirection::Minimize, std::make_shared<CMAESSampler>(seeded(11, true)));
    study.optimize(ellipsoid, 500);
    EXPECT_LT(study.best_value(), 1e-8);
}

// Integers keep a chance to move (the margin): the search reaches the integer optimum and never
// proposes a configuration twice while untried ones remain.
TEST(CMAESSampler, IntegersReachTheOptimumWithoutRepeats) {
    for (const bool surrogate : {false, true}) {
        Study study(StudyDirection::Minimize, std::make_shared<CMAESSampler>(seeded(3, surrogate)));
        study.optimize(
            [](Trial& t) {
                return std::pow(t.suggest_int("a", -10, 10, false, 1) - 3, 2) +
                       std::pow(t.suggest_int("b", -10, 10, false, 1) + 4, 2) +
                       std::pow(t.suggest_int("c", 0, 30, false, 3) - 12, 2);
            },
            150);
        EXPECT_EQ(study.best_value(), 0) << surrogate;
        std::set<std::vector<int>> configs;
        for (const Trial& t : study.trials()) {
            configs.insert(
                {std::get<int>(t.params.at("a")), std::get<int>(t.params.at("b")), std::get<int>(t.params.at("c"))});
        }
        EXPECT_EQ(configs.size(), study.trials().size()) << surrogate;
    }
}

// A flat objective stalls at once; IPOP restarts with twice the population each time, BIPOP
// alternates with smaller populations.
TEST(CMAESSampler, RestartsGrowThePopulation) {
    const Objective flat = [](Trial& t) {
        t.suggest_float("x", 0, 1, false, {});
        t.suggest_float("y", 0, 1, false, {});
        return 1.0;
    };
    for (const CMARestart strategy : {CMARestart::None, CMARestart::IPOP, CMARestart::BIPOP}) {
        CMAESSamplerConfig config = seeded(1);
        config.restart_strategy = strategy;
        auto sampler = std::make_shared<CMAESSampler>(config);
        Study study(StudyDirection::Minimize, sampler);
        study.optimize(flat, 700);
        const CMAESProgress p = sampler->progress(study);
        if (strategy == CMARestart::None) {
            EXPECT_EQ(p.restarts, 0);
            EXPECT_EQ(p.popsize, 6);  // 4 + floor(3 ln 2)
        } else if (strategy == CMARestart::IPOP) {
            EXPECT_GE(p.restarts, 2);
            EXPECT_EQ(p.popsize, 6 << p.restarts);
        } else {
            EXPECT_GE(p.restarts, 2);
            EXPECT_LE(p.popsize, 6 << p.restarts);
        }
    }
}

// Two bowls in 4-D: the one at x0 = 2 bottoms out at 0, the one at x0 = -2 at -1. Started in the
// first with a short step, the search refines it to the last digits; with a loose value
// tolerance it gives the bowl up once it stops improving and finds the other.
TEST(CMAESSampler, ALooseValueToleranceLeavesAnExhaustedBasin) {
    const Objective two_bowls = [](Trial& t) {
        double rest = 0;
        for (const char* name : {"x1", "x2", "x3"}) rest += std::pow(t.suggest_float(name, -4, 4, false, {}), 2);
        const double x = t.suggest_float("x0", -4, 4, false, {});
        return std::min(std::pow(x - 2, 2), std::pow(x + 2, 2) - 1) + rest;
    };
    for (const double tol : {1e-12, 1e-4}) {
        CMAESSamplerConfig config = seeded(3);
        config.x0 = {{"x0", 2.0}, {"x1", 0.0}, {"x2", 0.0}, {"x3", 0.0}};
        config.sigma0 = 0.02;
        config.tol_fun = tol;
        auto sampler = std::make_shared<CMAESSampler>(config);
        Study study(StudyDirection::Minimize, sampler);
        study.optimize(two_bowls, 800);
        if (tol == 1e-12) {
            EXPECT_EQ(sampler->progress(study).restarts, 0);
            EXPECT_NEAR(study.best_value(), 0, 1e-6);
        } else {
            EXPECT_GE(sampler->progress(study).restarts, 1);
            EXPECT_LT(study.best_value(), -0.9);
        }
    }
}

// Warm-started, the first generation lies around the good configurations given (with a spread
// of a tenth of the range); with x0 and a short step, around x0.
TEST(CMAESSampler, StartsFromWarmConfigurationsOrX0) {
    const Objective bowl = [](Trial& t) {
        return std::pow(t.suggest_float("x", -10, 10, false, {}), 2) +
               std::pow(t.suggest_float("y", -10, 10, false, {}), 2);
    };
    CMAESSamplerConfig warm = seeded(4);
    for (const double dx : {-0.2, 0.0, 0.2}) warm.warm_start.push_back({{"x", 6 + dx}, {"y", -6 - dx}});
    CMAESSamplerConfig from_x0 = seeded(4);
    from_x0.x0 = {{"x", -7.0}, {"y", 7.0}};
    from_x0.sigma0 = 0.01;
    const std::pair<CMAESSamplerConfig, double> starts[] = {{warm, 6.0}, {from_x0, -7.0}};
    for (const auto& [config, centre] : starts) {
        Study study(StudyDirection::Minimize, std::make_shared<CMAESSampler>(config));
        study.optimize(bowl, 7);  // the first of these is drawn independently
        double mean_x = 0, mean_y = 0;
        for (std::size_t i = 1; i < 7; ++i) {
            mean_x += std::get<double>(study.trials()[i].params.at("x")) / 6;
            mean_y += std::get<double>(study.trials()[i].params.at("y")) / 6;
        }
        EXPECT_NEAR(mean_x, centre, 1.6);
        EXPECT_NEAR(mean_y, -centre, 1.6);
    }
}

// On a study another sampler began (here, the independent startup trials), the search starts at
// the best trial so far with half the usual step.
TEST(CMAESSampler, AStudyAlreadyUnderwayIsTakenUpAtItsBestTrial) {
    const Objective bowl = [](Trial& t) {
        return std::pow(t.suggest_float("x", 0, 10, false, {}) - 7, 2) +
               std::pow(t.suggest_float("y", 0, 10, false, {}) - 2, 2);
    };
    CMAESSamplerConfig config = seeded(6);
    config.n_startup_trials = 30;
    config.warm_start_from_history = true;
    auto sampler = std::make_shared<CMAESSampler>(config);
    Study study(StudyDirection::Minimize, sampler);
    study.optimize(bowl, 30);
    const Trial best = study.best_trial();
    study.optimize(bowl, 5);
    EXPECT_DOUBLE_EQ(sampler->progress(study).sigma, 0.1);
    study.optimize(bowl, 1);  // one generation: 4 + floor(3 ln 2)
    for (const char* name : {"x", "y"}) {
        double mean = 0;
        for (std::size_t i = 30; i < 36; ++i) mean += std::get<double>(study.trials()[i].params.at(name)) / 6;
        EXPECT_NEAR(mean, std::get<double>(best.params.at(name)), 1.2) << name;  // 3 sd of the mean
    }
}

// Categoricals, and the trials before the search starts, come from the independent sampler.
TEST(CMAESSampler, TheIndependentSamplerDrawsTheRest) {
    auto stub = std::make_shared<StubSampler>();
    CMAESSamplerConfig config = seeded(6);
    config.independent_sampler = stub;
    config.n_startup_trials = 3;
    Study study(StudyDirection::Minimize, std::make_shared<CMAESSampler>(config));
    study.optimize(
        [](Trial& t) {
            const double x = t.suggest_float("x", 0, 1, false, {});
            return t.suggest_categorical("c", {"a", "b"}) == "a" ? x : 2 * x;
        },
        20);
    EXPECT_EQ(stub->sample_calls.load(), 3 * 2 + 17);
    EXPECT_EQ(stub->before_calls.load(), 1);
    EXPECT_EQ(stub->after_calls.load(), 20);
    for (std::size_t i = 3; i < 20; ++i) EXPECT_NE(std::get<double>(study.trials()[i].params.at("x")), 0.5) << i;
}

// Failed, NaN and pruned trials count against their region: the search leaves the half where
// the objective fails and stays where it completes.
TEST(CMAESSampler, FailedAndPrunedTrialsCountAsBad) {
    for (const bool surrogate : {false, true}) {
        Study study(StudyDirection::Maximize, std::make_shared<CMAESSampler>(seeded(8, surrogate)),
                    std::make_shared<MedianPruner>(5, 0, 50.0));
        study.optimize(
            [](Trial& t) {
                const double x = t.suggest_float("x", -1, 1, false, {});
                const double y = t.suggest_float("y", -1, 1, false, {});
                if (x > 0.5) throw std::runtime_error("diverged");
                if (x > 0.3) return std::nan("");
                t.report(-std::abs(y), 1);
                if (t.should_prune()) throw TrialPruned();
                return x - std::abs(y);
            },
            300, 1);
        const auto best = study.best_params();
        EXPECT_NEAR(std::get<double>(best.at("x")), 0.3, 0.05);
        EXPECT_NEAR(std::get<double>(best.at("y")), 0, 0.05);
        int late_failures = 0;
        for (std::size_t i = 200; i < 300; ++i) late_failures += study.trials()[i].state == TrialState::Failed;
        EXPECT_LT(late_failures, 30) << surrogate;
    }
}

// A space that changes (a wider range) restarts the search over it, and its candidates honour it.
TEST(CMAESSampler, AChangedSpaceRestartsTheSearch) {
    for (const bool surrogate : {false, true}) {
        auto sampler = std::make_shared<CMAESSampler>(seeded(9, surrogate));
        Study study(StudyDirection::Minimize, sampler);
        const auto with_high = [](double high) {
            return Objective([high](Trial& t) {
                return std::pow(t.suggest_float("x", 0, high, false, {}) - 3, 2) +
                       std::pow(t.suggest_float("y", 0, high, false, {}) - 3, 2);
            });
        };
        study.optimize(with_high(2), 30);
        const int restarts = sampler->progress(study).restarts;
        study.optimize(with_high(10), 120);
        EXPECT_GT(sampler->progress(study).restarts, restarts);
        EXPECT_LT(study.best_value(), 1e-2);
        for (std::size_t i = 30; i < study.trials().size(); ++i) {
            EXPECT_LE(std::get<double>(study.trials()[i].params.at("x")), 10);
        }
    }
}

TEST(CMAESSampler, RejectsBadSettingsAndSeveralObjectives) {
    CMAESSamplerConfig config;
    config.sigma0 = 0;
    EXPECT_EQ(error_of([&] { CMAESSampler s(config); }), "CMAESSampler: sigma0 must be a finite number above 0.");
    config = {};
    config.tol_fun = 1;
    EXPECT_EQ(error_of([&] { CMAESSampler s(config); }), "CMAESSampler: tol_fun must be a number above 0 and below 1.");
    config = {};
    config.popsize = 1;
    EXPECT_EQ(error_of([&] { CMAESSampler s(config); }),
              "CMAESSampler: popsize must be 0 (the default) or at least 2.");
    config = {};
    config.x0 = {{"x", 0.5}, {"y", std::nan("")}};
    EXPECT_EQ(error_of([&] { CMAESSampler s(config); }), "CMAESSampler: x0['y'] must be a finite number.");
    EXPECT_EQ(error_of([] {
                  Study s({StudyDirection::Minimize, StudyDirection::Maximize},
                          std::make_shared<CMAESSampler>(CMAESSamplerConfig{}));
              }),
              "CMAESSampler: optimises a single objective; this study has 2.");
    auto sampler = std::make_shared<CMAESSampler>(CMAESSamplerConfig{});
    const Study other(StudyDirection::Minimize);
    EXPECT_EQ(error_of([&] { sampler->progress(other); }),
              "CMAESSampler.progress: the study does not use this sampler.");
}
