#include <gtest/gtest.h>

#include <cmath>
#include <variant>

#include "tarvex/study.hpp"

using namespace tarvex;

namespace {
// A trial whose hook answers from a counter, so tests see how often the study is asked.
struct CountingTrial {
    int calls = 0;
    Trial trial{0, 0};
    explicit CountingTrial(ParamValue answer) {
        trial.suggest_hook = [this, answer](Trial&, const std::string&, const Distribution&) {
            ++calls;
            return answer;
        };
    }
};
}  // namespace

TEST(Trial, FreshTrialIsRunningAndEmpty) {
    const auto before = std::chrono::system_clock::now();
    const Trial t(7, 3);
    EXPECT_EQ(t.trial_id, 7);
    EXPECT_EQ(t.study_id, 3);
    EXPECT_EQ(t.state, TrialState::Running);
    EXPECT_TRUE(t.values.empty() && t.params.empty() && t.fixed_params.empty() && t.distributions.empty() &&
                t.intermediate_values.empty() && t.user_attrs.empty());
    EXPECT_EQ(t.datetime_complete.time_since_epoch().count(), 0);
    EXPECT_GE(t.datetime_start, before);
    EXPECT_FALSE(t.should_prune());
}

TEST(Trial, ValueNeedsExactlyOneValue) {
    Trial t(0, 0);
    const char* msg = "value() is only valid for single-objective trials; use values() for multi-objective.";
    for (const auto& vals : {std::vector<double>{}, std::vector<double>{1, 2}}) {
        t.values = vals;
        try {
            (void)t.value();
            FAIL();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), msg);
        }
    }
    t.values = {2.5};
    EXPECT_EQ(t.value(), 2.5);
}

TEST(Trial, DetachedTrialRefusesNewNames) {
    Trial t(0, 0);
    try {
        t.suggest_float("x", 0, 1, false, std::nullopt);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Trial is not attached to a Study.");
    }
    EXPECT_TRUE(t.params.empty());
}

TEST(Trial, RepeatedSuggestionReturnsHeldValueAndKeepsFirstDistribution) {
    CountingTrial c(0.25);
    EXPECT_EQ(c.trial.suggest_float("x", 0, 1, false, std::nullopt), 0.25);
    EXPECT_EQ(c.trial.suggest_float("x", 5, 6, false, std::nullopt), 0.25);
    EXPECT_EQ(c.calls, 1);
    EXPECT_EQ(std::get<FloatDist>(c.trial.distributions.at("x")).low, 0.0);
    EXPECT_THROW(c.trial.suggest_int("x", 0, 10, false, 1), std::bad_variant_access);
    EXPECT_EQ(std::get<double>(c.trial.params.at("x")), 0.25);
}

TEST(Trial, ValueOfAnotherKindIsRecordedThenRejected) {
    CountingTrial c(std::string("text"));
    EXPECT_THROW(c.trial.suggest_float("x", 0, 1, false, std::nullopt), std::bad_variant_access);
    EXPECT_EQ(std::get<std::string>(c.trial.params.at("x")), "text");
    EXPECT_TRUE(c.trial.distributions.count("x"));
    EXPECT_THROW(c.trial.suggest_float("x", 0, 1, false, std::nullopt), std::bad_variant_access);
    EXPECT_EQ(c.calls, 1);
}



TEST(Trial, UserAttributesOverwriteAndMissingKeyIsNamed) {
    Trial t(0, 0);
    try {
        (void)t.get_user_attr("lr");
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "User attribute 'lr' not found.");
    }
    t.set_user_attr("lr", "a");
    t.set_user_attr("lr", "b");
    EXPECT_EQ(t.get_user_attr("lr"), "b");
}
