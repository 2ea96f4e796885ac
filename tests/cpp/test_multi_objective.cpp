// Hypervolume, checked against hand-computed fronts and a count of grid cells.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "tarvex/hypervolume.hpp"

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
