// SobolSampler: the sequence, its scramble, and how its points cover a space.
#include <cmath>
#include <map>

#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

std::vector<Trial> run(const std::shared_ptr<SobolSampler>& sampler, int n) {
    Study study(StudyDirection::Minimize, sampler);
    study.optimize(
        [](Trial& t) {
            const double x = t.suggest_float("x", 0, 1, false, {});
            const int k = t.suggest_int("k", 0, 7, false, 1);
            const std::string c = t.suggest_categorical("c", {"a", "b", "c", "d"});
            const double lr = t.suggest_float("lr", 1e-4, 1, true, {});
            return x + k + static_cast<double>(c.size()) + lr;
        },
        n);
    return study.trials();
}

}  // namespace

TEST(SobolSampler, ThePlainSequenceStartsAtTheOriginAndHalves) {
    const auto trials = run(std::make_shared<SobolSampler>(1, false), 4);
    const double first[4] = {0, 0.5, 0.75, 0.25};  // van der Corput in Gray-code order
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(std::get<double>(trials[i].params.at("x")), first[i], 1e-9);
    EXPECT_EQ(trials[1].params.at("k"), ParamValue(4));  // the second dimension's 0.5
}

// Every prefix of 2^m points puts one point in each of 2^m equal parts of a float's range, and
// as many on each value of an int or a choice as the values divide.
TEST(SobolSampler, ScrambledPrefixesOfPowersOfTwoAreBalanced) {
    const auto trials = run(std::make_shared<SobolSampler>(9), 64);
    for (const int prefix : {16, 32, 64}) {
        std::map<int, int> x_parts, k_counts, lr_parts;
        std::map<std::string, int> c_counts;
        for (int i = 0; i < prefix; ++i) {
            const Trial& t = trials[static_cast<std::size_t>(i)];
            ++x_parts[static_cast<int>(std::get<double>(t.params.at("x")) * prefix)];
            ++k_counts[std::get<int>(t.params.at("k"))];
            ++c_counts[std::get<std::string>(t.params.at("c"))];
            ++lr_parts[static_cast<int>((std::log10(std::get<double>(t.params.at("lr"))) + 4) / 4 * prefix)];
        }
        EXPECT_EQ(x_parts.size(), static_cast<std::size_t>(prefix));
        EXPECT_EQ(lr_parts.size(), static_cast<std::size_t>(prefix));
        for (const auto& [k, n] : k_counts) EXPECT_EQ(n, prefix / 8) << k;
        for (const auto& [c, n] : c_counts) EXPECT_EQ(n, prefix / 4) << c;
    }
}

TEST(SobolSampler, TheScrambleFollowsTheSeed) {
    const auto a = run(std::make_shared<SobolSampler>(3), 8), b = run(std::make_shared<SobolSampler>(3), 8),
               c = run(std::make_shared<SobolSampler>(4), 8);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].params, b[i].params);
    EXPECT_NE(a[0].params.at("x"), c[0].params.at("x"));
    EXPECT_NE(a[0].params.at("x"), ParamValue(0.0));
}

// A range wider than the largest double, or a step too fine for its levels to be counted in an
// integer, once gave values below the range, down to -inf.
TEST(SobolSampler, ExtremeRangesAndFineStepsStayInBounds) {
    Study study(StudyDirection::Minimize, std::make_shared<SobolSampler>(5));
    study.optimize(
        [](Trial& t) {
            const double wide = t.suggest_float("wide", -1e308, 1e308, false, {});
            const double fine = t.suggest_float("fine", 1e-300, 1e300, false, 1.0);
            const double wide_step = t.suggest_float("wide_step", -1e308, 1e308, false, 1e300);
            EXPECT_TRUE(wide >= -1e308 && wide <= 1e308) << wide;
            EXPECT_TRUE(fine >= 1e-300 && fine <= 1e300) << fine;
            EXPECT_TRUE(wide_step >= -1e308 && wide_step <= 1e308) << wide_step;
            return 0.0;
        },
        16);
    for (const Trial& t : study.trials()) EXPECT_EQ(t.state, TrialState::Complete);
}
