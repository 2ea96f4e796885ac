// GridSampler: every point once, in a seeded order, and a run that ends with the grid.
#include <set>
#include <string>
#include <tuple>

#include "stubs.hpp"

using namespace tarvex;
using namespace tarvex::testing;

namespace {

std::shared_ptr<GridSampler> grid(std::uint64_t seed) {
    return std::make_shared<GridSampler>(
        std::map<std::string, std::vector<ParamValue>>{{"x", {0.1, 0.2, 0.3}}, {"n", {1, 2}}, {"k", {"a", "b"}}}, seed);
}

double objective(Trial& t) {
    return t.suggest_float("x", 0, 1, false, {}) + t.suggest_int("n", 0, 9, false, 1) +
           (t.suggest_categorical("k", {"a", "b"}) == "a" ? 1 : 0);
}

std::vector<ParamMap> points_of(const Study& study) {
    std::vector<ParamMap> out;
    for (const Trial& t : study.trials()) out.push_back(t.params);
    return out;
}

}  // namespace

TEST(GridSampler, EveryPointOnceFromSeveralThreadsThenTheRunEnds) {
    for (const int n_jobs : {1, 2}) {
        Study study(StudyDirection::Minimize, grid(3));
        study.optimize(objective, 100, n_jobs);
        const auto points = points_of(study);
        EXPECT_EQ(points.size(), 12u);
        std::set<std::string> distinct;
        for (const ParamMap& p : points) {
            distinct.insert(std::to_string(std::get<double>(p.at("x"))) + std::to_string(std::get<int>(p.at("n"))) +
                            std::get<std::string>(p.at("k")));
        }
        EXPECT_EQ(distinct.size(), 12u);
    }
}

TEST(GridSampler, TheOrderFollowsTheSeed) {
    Study a(StudyDirection::Minimize, grid(5)), b(StudyDirection::Minimize, grid(5)),
        c(StudyDirection::Minimize, grid(6));
    for (Study* s : {&a, &b, &c}) s->optimize(objective, 12);
    EXPECT_EQ(points_of(a), points_of(b));
    EXPECT_NE(points_of(a), points_of(c));
}

TEST(GridSampler, RequestsOutsideTheGridAndBadGridsAreRefusedByName) {
    Study study(StudyDirection::Minimize, grid(1));
    study.optimize([](Trial& t) { return objective(t) + t.suggest_float("z", 0, 1, false, {}); }, 1);
    EXPECT_EQ(study.trials().front().fail_reason,
              "GridSampler: suggest_float('z') asks for a name the grid does not hold; its names: k, n, x.");
    Study narrow(StudyDirection::Minimize, grid(1));
    narrow.optimize([](Trial& t) { return t.suggest_float("x", 0.5, 1, false, {}); }, 1);
    EXPECT_EQ(narrow.trials().front().fail_reason,
              "GridSampler: the grid's value for 'x' is not one that suggest_float('x') can take.");
    EXPECT_EQ(error_of([] { GridSampler({}, 1); }), "GridSampler: the grid must hold at least one name.");
    EXPECT_EQ(error_of([] { GridSampler({{"a", {}}}, 1); }), "GridSampler: the grid's name 'a' has no values.");
    EXPECT_EQ(error_of([] { GridSampler({{"a", {1, 2.5, 1.0}}}, 1); }),
              "GridSampler: the grid's name 'a' holds one value twice, at positions 0 and 2.");
    EXPECT_EQ(error_of([] { GridSampler({{"a", {"16", "16.0", 16}}}, 1); }),  // two texts, one number
              "GridSampler: the grid's name 'a' holds one value twice, at positions 0 and 2.");
}

// A trial holds a grid value as its suggest call gives it (1.0 for an int 1 asked as a float,
// "16" for a number asked as a choice); each is still seen as its point, and the run ends.
TEST(GridSampler, NumbersServeTheKindAskedForAndAreCountedOnce) {
    const std::map<std::string, std::vector<ParamValue>> numbers{{"x", {1, 2}}, {"n", {3.0, 4.0}}, {"b", {16, 64}}};
    for (const int n_jobs : {1, 2}) {
        Study study(StudyDirection::Minimize, std::make_shared<GridSampler>(numbers, 2));
        study.optimize(
            [](Trial& t) {
                const double b = std::stod(t.suggest_categorical("b", {"16", "32", "64"}));
                return t.suggest_float("x", 0, 5, false, {}) * t.suggest_int("n", 0, 9, false, 1) + b;
            },
            100, n_jobs);
        std::set<std::tuple<double, int, std::string>> seen;
        for (const Trial& t : study.trials()) {
            ASSERT_EQ(t.state, TrialState::Complete) << t.fail_reason.value_or("");
            seen.emplace(std::get<double>(t.params.at("x")), std::get<int>(t.params.at("n")),
                         std::get<std::string>(t.params.at("b")));
        }
        EXPECT_EQ(study.trials().size(), 8u);
        EXPECT_EQ(seen.size(), 8u);
    }
}
