// AutoSampler: the sampler each trial gets as the study grows and changes shape, kept on the trial.
#include <cmath>

#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

std::shared_ptr<AutoSampler> automatic(std::uint64_t seed, int max_gp_trials, int multi_objective = 200) {
    return std::make_shared<AutoSampler>(AutoSamplerConfig{
        .max_gp_trials = max_gp_trials, .max_gp_trials_multi_objective = multi_objective, .seed = seed});
}

std::vector<std::string> choices(const Study& study) {
    std::vector<std::string> out;
    for (const Trial& t : study.trials()) out.push_back(t.system_attrs.at("auto_sampler"));
    return out;
}

double bowl(Trial& t) {
    return std::pow(t.suggest_float("x", -5, 5, false, {}) - 1, 2) +
           std::pow(t.suggest_int("k", 0, 9, false, 1) - 4, 2);
}

}  // namespace

// Flat and numeric: the GP, then CMA-ES from where the GP got to; the optimum, 0 at (1, 4), is reached.
TEST(AutoSampler, AFlatNumericStudyGoesFromTheGPToCMAES) {
    Study study(StudyDirection::Minimize, automatic(1, 15));
    study.optimize(bowl, 80);
    const auto c = choices(study);
    EXPECT_EQ(std::count(c.begin(), c.begin() + 15, "GPSampler"), 15);
    EXPECT_EQ(std::count(c.begin() + 15, c.end(), "CMAESSampler"), 65);
    EXPECT_LT(study.best_value(), 1e-3);

    Study again(StudyDirection::Minimize, automatic(1, 15));
    again.optimize(bowl, 80);
    for (std::size_t i = 0; i < 80; ++i) EXPECT_EQ(study.trials()[i].params, again.trials()[i].params) << i;
}

// A categorical past the GP's size and a conditional space go to TPE.
TEST(AutoSampler, CategoricalAndConditionalStudiesGoToTPE) {
    Study categorical(StudyDirection::Minimize, automatic(2, 10));
    categorical.optimize([](Trial& t) { return bowl(t) + (t.suggest_categorical("c", {"a", "b"}) == "a"); }, 20);
    auto c = choices(categorical);
    EXPECT_EQ(c[9], "GPSampler");
    EXPECT_EQ(std::count(c.begin() + 10, c.end(), "TPESampler"), 10);

    Study conditional(StudyDirection::Minimize, automatic(3, 100));
    conditional.optimize(
        [](Trial& t) {
            return t.suggest_categorical("model", {"a", "b"}) == "a" ? t.suggest_float("x", 0, 1, false, {})
                                                                     : 1 + t.suggest_float("y", 0, 1, false, {});
        },
        30);
    c = choices(conditional);
    EXPECT_EQ(c.back(), "TPESampler");  // the first trials, before both branches were seen, went to the GP
}

// Several objectives over a flat space: the GP's hypervolume search, then NSGA-II, whose first
// population is the best of the GP's trials; over a conditional space, TPE.
TEST(AutoSampler, SeveralObjectivesGoFromTheGPToNSGA2) {
    // The front of (x0, 1 - x0 + Σ (x_j - 0.5)²) is x_j = 0.5 for j > 0.
    const auto front = [](Trial& t) {
        const double x0 = t.suggest_float("x0", 0, 1, false, {});
        double rest = 0;
        for (const char* name : {"x1", "x2"}) rest += std::pow(t.suggest_float(name, 0, 1, false, {}) - 0.5, 2);
        return std::vector<double>{x0, 1 - x0 + rest};
    };
    Study both({StudyDirection::Minimize, StudyDirection::Minimize}, automatic(4, 5, 20));
    both.optimize_mo(front, 120);
    auto c = choices(both);
    EXPECT_EQ(std::count(c.begin(), c.begin() + 20, "GPSampler"), 20);
    EXPECT_EQ(std::count(c.begin() + 20, c.end(), "NSGA2Sampler"), 100);
    int near_front = 0;  // the last NSGA-II generation lies close to the front
    const std::vector<Trial> trials = both.trials();
    for (std::size_t i = 70; i < 120; ++i) near_front += trials[i].values[0] + trials[i].values[1] < 1.05;
    EXPECT_GE(near_front, 25);  // of 50; random points: about 8

    Study conditional({StudyDirection::Minimize, StudyDirection::Maximize}, automatic(5, 100));
    conditional.optimize_mo(
        [](Trial& t) {
            const double x = t.suggest_categorical("model", {"a", "b"}) == "a" ? t.suggest_float("x", 0, 1, false, {})
                                                                               : t.suggest_float("y", 0, 1, false, {});
            return std::vector<double>{x, x};
        },
        30);
    c = choices(conditional);
    EXPECT_EQ(c.back(), "TPESampler");
}

// Through ask and tell too, each told trial carries the choice.
TEST(AutoSampler, AskAndTellRecordTheChoice) {
    Study study(StudyDirection::Maximize, automatic(5, 3));
    for (int i = 0; i < 6; ++i) {
        Trial t = study.ask();
        const double x = t.suggest_float("x", 0, 1, false, {});
        study.tell(std::move(t), TrialState::Complete, {x});
    }
    EXPECT_EQ(choices(study), (std::vector<std::string>{"GPSampler", "GPSampler", "GPSampler", "CMAESSampler",
                                                        "CMAESSampler", "CMAESSampler"}));
    EXPECT_EQ(error_of([] { AutoSampler s(AutoSamplerConfig{.max_gp_trials = -1}); }),
              "AutoSampler: max_gp_trials must be at least 0.");
    EXPECT_EQ(error_of([] { AutoSampler s(AutoSamplerConfig{.max_gp_trials_multi_objective = -1}); }),
              "AutoSampler: max_gp_trials_multi_objective must be at least 0.");
}
