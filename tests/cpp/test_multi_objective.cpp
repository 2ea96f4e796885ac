// Hypervolume, checked against hand-computed fronts and a count of grid cells; the selection of
// the NSGA family on worked examples; NSGA2Sampler on problems with known fronts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "../../src/samplers/expected_hypervolume.hpp"
#include "../../src/samplers/nsga_selection.hpp"
#include "../../src/samplers/sampled_improvement.hpp"
#include "tarvex/hypervolume.hpp"
#include "tarvex/nsga2_sampler.hpp"

using tarvex::hypervolume;

TEST(Hypervolume, MatchesHandComputedFronts) {
    // Three steps of a staircase: 3 + 2 + 1; a dominated point, one beyond the reference, one on
    // its boundary and one holding NaN add nothing.
    EXPECT_DOUBLE_EQ(hypervolume({{1, 3}, {2, 2}, {3, 1}, {2, 3}, {5, 0}, {0, 4}, {std::nan(""), 0}}, {4, 4}), 6.0);
    EXPECT_DOUBLE_EQ(hypervolume({{0, 0, 0}}, {1, 2, 3}), 6.0);
    // Two boxes of 1 x 1 x 2 and 2 x 1 x 1 sharing 1 x 1 x 1.
    EXPECT_DOUBLE_EQ(hypervolume({{1, 1, 0}, {0, 1, 1}}, {2, 2, 2}), 3.0);
    EXPECT_DOUBLE_EQ(hypervolume({{0.5}, {0.25}}, {1}), 0.75);
    EXPECT_DOUBLE_EQ(hypervolume({}, {1, 1}), 0.0);
    EXPECT_DOUBLE_EQ(hypervolume({{0, 0, 0, 0}, {0, 0, 0, 0}}, {1, 2, 3, 4}), 24.0);  // duplicates count once
}

TEST(Hypervolume, EqualsACountOfDominatedGridCellsInTwoToFiveObjectives) {
    std::mt19937 rng(11);
    for (std::size_t d = 2; d <= 5; ++d) {
        for (int round = 0; round < 20; ++round) {
            const int side = 5;
            std::uniform_int_distribution<int> coordinate(0, side);  // side: on the reference
            std::vector<std::vector<double>> points(1 + rng() % 12, std::vector<double>(d));
            for (auto& p : points)
                for (double& x : p) x = coordinate(rng);
            // A unit cell is dominated when some point is at or below its lower corner.
            std::size_t cells = 1, count = 0;
            for (std::size_t k = 0; k < d; ++k) cells *= side;
            for (std::size_t c = 0; c < cells; ++c) {
                std::vector<int> corner(d);
                for (std::size_t k = 0, rest = c; k < d; ++k, rest /= side) corner[k] = static_cast<int>(rest % side);
                bool dominated = false;
                for (const auto& p : points) {
                    bool below = true;
                    for (std::size_t k = 0; k < d && below; ++k) below = p[k] <= corner[k];
                    dominated = dominated || below;
                }
                count += dominated;
            }
            EXPECT_EQ(hypervolume(points, std::vector<double>(d, side)), static_cast<double>(count))
                << d << " objectives, round " << round;
        }
    }
}

TEST(Hypervolume, RefusesMismatchedOrNonFiniteReferences) {
    EXPECT_THROW(hypervolume({{1, 2, 3}}, {4, 4}), std::invalid_argument);
    EXPECT_THROW(hypervolume({{1, 2}}, {}), std::invalid_argument);
    EXPECT_THROW(hypervolume({{1, 2}}, {INFINITY, 4}), std::invalid_argument);
}

// Selection: constrained domination, fronts and crowding on worked examples.
TEST(NsgaSelection, ConstrainedDominationRanksFeasibleThenByViolation) {
    using tarvex::detail::Individual;
    const std::vector<Individual> population{
        {{1, 4}, 0}, {{2, 2}, 0},   {{3, 3}, 0},  // (3, 3) is dominated by (2, 2)
        {{0, 0}, 2}, {{0, 0}, 0.5},               // infeasible, however good
        {{4, 1}, 0}, {{5, 5}, 0.5},
    };
    EXPECT_TRUE(tarvex::detail::constrained_dominates(population[2], population[4]));  // feasible beats infeasible
    EXPECT_TRUE(tarvex::detail::constrained_dominates(population[4], population[3]));  // less violation
    EXPECT_FALSE(tarvex::detail::constrained_dominates(population[0], population[1]));
    const auto fronts = tarvex::detail::constrained_fronts(population);
    ASSERT_EQ(fronts.size(), 4u);
    EXPECT_EQ(fronts[0], (std::vector<std::size_t>{0, 1, 5}));
    EXPECT_EQ(fronts[1], (std::vector<std::size_t>{2}));
    EXPECT_EQ(fronts[2], (std::vector<std::size_t>{4, 6}));  // one violation level, one front
    EXPECT_EQ(fronts[3], (std::vector<std::size_t>{3}));
    // Crowding: the ends are infinite, (2, 2) spans (4 - 1) / 3 + (4 - 1) / 3.
    const auto crowding = tarvex::detail::crowding_distances(population, fronts[0]);
    EXPECT_TRUE(std::isinf(crowding[0]) && std::isinf(crowding[2]));
    EXPECT_DOUBLE_EQ(crowding[1], 2.0);
}

TEST(NsgaSelection, EveryCutKeepsTheEndsOfTheFrontAndDropsCopiesFirst) {
    using tarvex::detail::FrontCut;
    // A front of 21 points on x + y = 1, one of them twice, and a dominated point.
    std::vector<tarvex::detail::Individual> population;
    for (int i = 0; i <= 20; ++i) population.push_back({{i / 20.0, 1 - i / 20.0}, 0});
    population.push_back(population[7]);
    population.push_back({{1, 1}, 0});
    std::mt19937_64 rng(3);
    for (const FrontCut cut : {FrontCut::Crowding, FrontCut::Hypervolume}) {
        std::vector<tarvex::detail::Standing> standings;
        const auto kept = tarvex::detail::survivors(population, 10, cut, nullptr, standings, rng);
        const auto holds = [&](std::size_t i) { return std::count(kept.begin(), kept.end(), i); };
        ASSERT_EQ(kept.size(), 10u);
        EXPECT_TRUE(holds(0) && holds(20)) << static_cast<int>(cut);
        EXPECT_LE(holds(7) + holds(21), 1) << static_cast<int>(cut);
        EXPECT_FALSE(holds(22));
        EXPECT_EQ(standings.size(), 10u);
    }
    EXPECT_EQ(tarvex::detail::simplex_directions(3, 12).size(), 91u);  // C(14, 2)
    EXPECT_EQ(tarvex::detail::simplex_directions(5, 3).size(), 35u);   // C(7, 3)
}

namespace {

constexpr double kNormal = std::numeric_limits<double>::infinity();

// n points drawn uniformly in the unit cube of m objectives, with the reference at 1.2 in each.
struct RandomFront {
    std::vector<std::vector<double>> points;
    std::vector<double> reference;
    double base = 0;

    RandomFront(std::size_t n, std::size_t m, std::mt19937_64& rng)
        : points(n, std::vector<double>(m)), reference(m, 1.2) {
        std::uniform_real_distribution<double> unit(0, 1);
        for (auto& p : points)
            for (double& x : p) x = unit(rng);
        base = hypervolume(points, reference);
    }

    // The hypervolume y adds.
    double gain(const std::vector<double>& y) const {
        auto with = points;
        with.push_back(y);
        return hypervolume(with, reference) - base;
    }

    // Its average over draws of y_k ~ N(mean_k, sd_k^2), or shifts_k + e^(that) where shifts_k is
    // finite (a log-normal prediction); each y_k raised to floors_k where given.
    double average_gain(const std::vector<double>& mean, const std::vector<double>& sd,
                        const std::vector<double>& shifts, int draws, std::mt19937_64& rng,
                        const std::vector<double>& floors = {}) const {
        std::normal_distribution<double> normal(0, 1);
        double sum = 0;
        std::vector<double> y(mean.size());
        for (int s = 0; s < draws; ++s) {
            for (std::size_t k = 0; k < y.size(); ++k) {
                const double w = mean[k] + sd[k] * normal(rng);
                y[k] = std::isfinite(shifts[k]) ? shifts[k] + std::exp(w) : w;
                if (!floors.empty()) y[k] = std::max(y[k], floors[k]);
            }
            sum += gain(y);
        }
        return sum / draws;
    }
};

}  // namespace

// Expected hypervolume improvement: exact, so a certain prediction gains what adding the point
// adds, and an uncertain one what the average over draws of it adds.
TEST(ExpectedHypervolume, MatchesTheImprovementOfCertainAndSampledPredictions) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(0, 1);
    for (std::size_t m = 2; m <= 4; ++m) {
        const RandomFront front(6, m, rng);
        const tarvex::detail::ImprovementRegion region(front.points, front.reference);
        std::vector<double> mean(m), certain(m, 0.0), sd(m, 0.3);
        for (double& x : mean) x = 0.6 * unit(rng);
        EXPECT_NEAR(region.expected_improvement(mean, certain), front.gain(mean), 1e-12) << m;
        const double sampled = front.average_gain(mean, sd, std::vector<double>(m, kNormal), 20000, rng);
        EXPECT_NEAR(region.expected_improvement(mean, sd), sampled, 0.02 * sampled + 1e-4) << m;
        // The log form agrees where the expectation is representable, and stays finite and
        // ordered where it underflows: far beyond the reference, with little spread.
        EXPECT_NEAR(region.log_expected_improvement(mean, sd), std::log(region.expected_improvement(mean, sd)), 1e-9);
        const std::vector<double> far(m, 30.0), farther(m, 31.0), narrow(m, 0.5);
        EXPECT_EQ(region.expected_improvement(far, narrow), 0.0);
        EXPECT_TRUE(std::isfinite(region.log_expected_improvement(far, narrow)));
        EXPECT_GT(region.log_expected_improvement(far, narrow), region.log_expected_improvement(farther, narrow));
    }
}

// A log-normal prediction (y = shift + e^w, w normal) on some objectives, as a model of
// log-warped values gives: the improvement over its draws, and finite and ordered far away.
TEST(ExpectedHypervolume, MatchesSampledLogNormalPredictions) {
    std::mt19937_64 rng(7);
    for (std::size_t m = 2; m <= 3; ++m) {
        const RandomFront front(5, m, rng);
        const tarvex::detail::ImprovementRegion region(front.points, front.reference);
        std::vector<double> shifts(m, kNormal), mean(m, 0.4), sd(m, 0.3);
        shifts[0] = -0.1;  // the first objective log-normal, spread over [−0.1, ∞) with median 0.4
        mean[0] = std::log(0.5);
        sd[0] = 0.8;
        const double sampled = front.average_gain(mean, sd, shifts, 40000, rng);
        EXPECT_NEAR(std::exp(region.log_expected_improvement(mean, sd, shifts)), sampled, 0.02 * sampled + 1e-4) << m;
        // Far above the front the expectation underflows, and its log still orders the predictions.
        std::vector<double> far = mean, farther = mean;
        far[0] = std::log(40.0);
        farther[0] = std::log(50.0);
        const std::vector<double> narrow(m, 0.05);
        const double at_far = region.log_expected_improvement(far, narrow, shifts);
        EXPECT_TRUE(std::isfinite(at_far)) << m;
        EXPECT_GT(at_far, region.log_expected_improvement(farther, narrow, shifts)) << m;
    }
}

// An objective bounded below (a floor) gains nothing beneath it: the improvement is that of the
// prediction raised to the floor, exact up to three objectives and estimated beyond, and a point
// predicted at the floor, behind a front point there, gains nothing from its spread below it.
TEST(ExpectedHypervolume, CountsNothingBelowAnObjectivesFloor) {
    std::mt19937_64 rng(13);
    for (std::size_t m = 2; m <= 4; ++m) {
        const RandomFront front(6, m, rng);
        std::vector<double> floors(m, -kNormal), mean(m, 0.3), sd(m, 0.3);
        floors[0] = 1;  // at the front's least first value, which a floor cannot lie above
        for (const auto& p : front.points) floors[0] = std::min(floors[0], p[0]);
        mean[0] = floors[0] - 0.05;
        const std::vector<double> normal(m, kNormal);
        const double sampled = front.average_gain(mean, sd, normal, 40000, rng, floors);
        const double estimate = m <= 3 ? tarvex::detail::ImprovementRegion(front.points, front.reference, floors)
                                             .expected_improvement(mean, sd)
                                       : std::exp(tarvex::detail::SampledImprovementRegion(
                                                      front.points, front.reference, floors, normal, 2048, rng)
                                                      .log_expected_improvement(mean, sd));
        EXPECT_NEAR(estimate, sampled, 0.05 * sampled) << m;
    }
    const std::vector<std::vector<double>> points{{0, 1}, {0.5, 0.5}, {1, 0}};
    const std::vector<double> reference{1.2, 1.2}, at_edge{0, 1.05}, spread{0.3, 0.01};
    const tarvex::detail::ImprovementRegion unbounded(points, reference), bounded(points, reference, {0, 0});
    EXPECT_GT(unbounded.expected_improvement(at_edge, spread), 1e-3);
    EXPECT_LT(bounded.expected_improvement(at_edge, spread), 1e-9);
}

// Beyond three objectives the improvement is estimated at fixed points of the region the front
// leaves: it matches the average improvement over draws of normal and log-normal predictions,
// a certain prediction's own improvement, and stays finite and ordered far from the front.
TEST(ExpectedHypervolume, SampledEstimateMatchesDrawsInThreeToFiveObjectives) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0, 1);
    for (std::size_t m = 3; m <= 5; ++m) {
        const RandomFront front(8, m, rng);
        std::vector<double> mean(m), sd(m, 0.3), certain(m, 0.0);
        for (double& x : mean) x = 0.2 + 0.4 * unit(rng);
        std::vector<double> shifts(m, kNormal);
        for (const bool lognormal : {false, true}) {
            if (lognormal) {  // the first objective spread over [−0.1, ∞) with median 0.4
                shifts[0] = -0.1;
                mean[0] = std::log(0.5);
                sd[0] = 0.6;
            }
            const tarvex::detail::SampledImprovementRegion region(front.points, front.reference, {}, shifts, 2048, rng);
            const double sampled = front.average_gain(mean, sd, shifts, 20000, rng);
            EXPECT_NEAR(std::exp(region.log_expected_improvement(mean, sd)), sampled, 0.05 * sampled) << m;
            // The first quarter of the points alone: coarser, still an estimate of the same.
            EXPECT_NEAR(std::exp(region.log_expected_improvement(mean, sd, 512)), sampled, 0.1 * sampled) << m;
            if (!lognormal) {
                // A certain prediction: the estimate's resolution is the box over the points drawn.
                const std::vector<double> low(m, 0.25);
                EXPECT_NEAR(std::exp(region.log_expected_improvement(low, certain)), front.gain(low),
                            0.05 * front.gain(low))
                    << m;
                if (m == 3) {
                    const tarvex::detail::ImprovementRegion exact(front.points, front.reference);
                    EXPECT_NEAR(std::exp(region.log_expected_improvement(mean, sd)),
                                exact.expected_improvement(mean, sd), 0.03 * exact.expected_improvement(mean, sd));
                }
            }
            const std::vector<double> far(m, 30.0), farther(m, 31.0), narrow(m, 0.5);
            EXPECT_TRUE(std::isfinite(region.log_expected_improvement(far, narrow))) << m;
            EXPECT_GT(region.log_expected_improvement(far, narrow), region.log_expected_improvement(farther, narrow));
        }
    }
}
