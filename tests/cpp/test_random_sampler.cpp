#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <map>
#include <set>

#include "reference_mt64.hpp"
#include "tarvex/samplers.hpp"

using namespace tarvex;

namespace {

// The sampler ignores study and trial, so one of each serves every draw.
struct Draw {
    RandomSampler sampler;
    Study study{StudyDirection::Minimize};
    Trial trial{0, 0};
    explicit Draw(std::uint64_t seed) : sampler(seed) {}
    ParamValue operator()(const Distribution& d) { return sampler.sample_independent(study, trial, "p", d); }
    double f(double lo, double hi, bool log = false, std::optional<double> step = {}) {
        return std::get<double>((*this)(FloatDist{lo, hi, log, step}));
    }
    int i(int lo, int hi, bool log = false, int step = 1) { return std::get<int>((*this)(IntDist{lo, hi, log, step})); }
};

}  // namespace

TEST(RandomSampler, SeededDrawsMatchAnIndependentGenerator) {
    Draw draw(42);
    ReferenceMt64 ref(42);
    for (int rep = 0; rep < 200; ++rep) {
        const double u = ref.unit();
        EXPECT_EQ(draw.f(-3, 7), 10 * u - 3);
        const double a = std::log(1e-5), b = std::log(1.0);
        EXPECT_EQ(draw.f(1e-5, 1, true), std::exp((b - a) * ref.unit() + a));
        EXPECT_EQ(draw.i(-4, 17, false, 3), -4 + 3 * static_cast<int>(ref.bounded(7)));
        EXPECT_EQ(std::get<std::string>(draw(CategoricalDist{{"a", "b", "c"}})),
                  std::string(1, static_cast<char>('a' + ref.bounded(2))));
    }
}


TEST(RandomSampler, FloatGridReachesBothEndsWithHalfWeight) {
    Draw draw(1);
    std::map<double, int> counts;
    const int n = 40000;
    for (int rep = 0; rep < n; ++rep) counts[draw.f(0, 1, false, 0.25)]++;
    ASSERT_EQ(counts.size(), 5u);
    for (const auto& [v, c] : counts) {
        const double expected = (v == 0.0 || v == 1.0) ? n / 8.0 : n / 4.0;
        EXPECT_NEAR(c, expected, 0.06 * expected) << v;
    }
}

TEST(RandomSampler, FloatValuesStayInsideTheirRange) {
    Draw draw(3);
    for (int rep = 0; rep < 5000; ++rep) {
        const double lin = draw.f(1, 2);
        EXPECT_TRUE(lin >= 1 && lin <= 2);
        const double lg = draw.f(1e-5, 1, true, 1e-3);
        EXPECT_TRUE(lg >= 1e-5 && lg <= 1);
        EXPECT_NEAR(std::fmod(lg - 1e-5, 1e-3) < 5e-4 ? std::fmod(lg - 1e-5, 1e-3) : 1e-3 - std::fmod(lg - 1e-5, 1e-3),
                    0.0, 1e-9);
        const double huge = draw.f(-1.7e308, 1.7e308);
        EXPECT_TRUE(std::isfinite(huge));
    }
    EXPECT_EQ(draw.f(2.5, 2.5), 2.5);
}

TEST(RandomSampler, IntGridsAndLogSnapping) {
    Draw draw(5);
    std::map<int, int> lin;
    std::set<int> lg;
    for (int rep = 0; rep < 20000; ++rep) {
        lin[draw.i(0, 10, false, 3)]++;
        lg.insert(draw.i(1, 100, true, 10));
        EXPECT_EQ(draw.i(5, 5), 5);
    }
    ASSERT_EQ(lin.size(), 4u);
    for (const auto& [v, c] : lin) {
        EXPECT_EQ(v % 3, 0);
        EXPECT_NEAR(c, 5000, 300);
    }
    for (int v : lg) EXPECT_EQ((v - 1) % 10, 0) << v;
    EXPECT_EQ(lg.count(100), 0u);
    EXPECT_TRUE(lg.count(91));
}

TEST(RandomSampler, FullIntRangeSamplesBothHalves) {
    Draw draw(11);
    ReferenceMt64 ref(11);
    bool negative = false, positive = false;
    for (int rep = 0; rep < 100; ++rep) {
        const int v = draw.i(INT_MIN, INT_MAX);
        EXPECT_EQ(static_cast<long long>(v), static_cast<long long>(ref.bounded(0xFFFFFFFFULL)) + INT_MIN);
        negative |= v < 0;
        positive |= v > 0;
    }
    EXPECT_TRUE(negative && positive);
}

TEST(RandomSampler, SingleChoiceAndEmptyChoices) {
    Draw draw(2);
    EXPECT_EQ(std::get<std::string>(draw(CategoricalDist{{"a"}})), "a");
    try {
        draw(CategoricalDist{});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "RandomSampler: empty choices.");
    }
}

class RandomSamplerRejects : public ::testing::TestWithParam<Distribution> {};

TEST_P(RandomSamplerRejects, InvalidDistribution) {
    Draw draw(9);
    try {
        draw(GetParam());
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()).rfind("RandomSampler: parameter 'p' ", 0), 0u) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Distributions, RandomSamplerRejects,
    ::testing::Values(Distribution{IntDist{0, 10, false, 0}}, Distribution{IntDist{0, 10, false, -2}},
                      Distribution{IntDist{5, 1, false, 1}}, Distribution{IntDist{0, 10, true, 1}},
                      Distribution{FloatDist{0, 1, false, 0.0}}, Distribution{FloatDist{0, 1, false, -0.5}},
                      Distribution{FloatDist{0, 1, false, std::nan("")}}, Distribution{FloatDist{2, 1, false, {}}},
                      Distribution{FloatDist{0, 1, true, {}}}, Distribution{FloatDist{std::nan(""), 1, false, {}}},
                      Distribution{FloatDist{0, INFINITY, false, {}}}));
