#include <gtest/gtest.h>

#include "stubs.hpp"
#include "tarvex/storage.hpp"

using namespace tarvex;
using tarvex::testing::CountingPruner;
using tarvex::testing::StubSampler;

TEST(Study, IdentifiersCountUpEvenOverFailedConstructions) {
    const Study a(StudyDirection::Minimize);
    EXPECT_THROW(
        {
            try {
                Study bad(std::vector<StudyDirection>{});
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), "Study requires at least one direction.");
                throw;
            }
        },
        std::invalid_argument);
    const Study c(StudyDirection::Maximize);
    EXPECT_EQ(c.study_id, a.study_id + 2);
    EXPECT_EQ(c.directions, std::vector<StudyDirection>{StudyDirection::Maximize});
}

TEST(Study, DefaultsAreARandomSamplerAndPrivateStorage) {
    Study a(StudyDirection::Minimize);
    Study b(StudyDirection::Minimize);
    ASSERT_NE(dynamic_cast<RandomSampler*>(a.sampler.get()), nullptr);
    ASSERT_NE(a.storage, b.storage);
    EXPECT_EQ(a.pruner, nullptr);
    a.add_trial({}, {1.0});
    EXPECT_EQ(a.trials().size(), 1u);
    EXPECT_TRUE(b.trials().empty());
}


TEST(Study, PruneHookOnlyWithAPruner) {
    auto pruner = std::make_shared<CountingPruner>(true);
    Study with(StudyDirection::Minimize, nullptr, pruner);
    Study without(StudyDirection::Minimize);
    const Trial p = with.make_trial();
    EXPECT_TRUE(p.should_prune());
    EXPECT_EQ(pruner->calls, 1);
    const Trial q = without.make_trial();
    EXPECT_FALSE(q.prune_hook);
    EXPECT_FALSE(q.should_prune());
}

TEST(Study, CopiedTrialSuggestsIntoItself) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(StudyDirection::Minimize, sampler);
    const Trial original = s.make_trial();
    Trial copy = original;
    EXPECT_EQ(copy.suggest_float("x", 0, 1, false, std::nullopt), 0.5);
    EXPECT_EQ(copy.params.count("x"), 1u);
    EXPECT_TRUE(original.params.empty());
}

TEST(Study, EnqueuedValuesAreConvertedToTheAskedKind) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(StudyDirection::Minimize, sampler);
    s.enqueue_trial({{"i", 3.7}, {"f", 2}, {"n", -2.5}, {"far", 1e6}});
    Trial t = s.make_trial();
    EXPECT_EQ(t.suggest_int("i", 0, 10, false, 1), 4);
    EXPECT_EQ(t.suggest_float("f", 0, 10, false, std::nullopt), 2.0);
    EXPECT_EQ(t.suggest_int("n", -10, 10, false, 1), -3);
    // Fixed values are not checked against the bounds, and never reach the sampler.
    EXPECT_EQ(t.suggest_float("far", 0, 1, false, std::nullopt), 1e6);
    EXPECT_EQ(sampler->sample_calls, 0);
    EXPECT_EQ(t.suggest_int("missing", 0, 10, false, 1), 1);
    EXPECT_EQ(sampler->sample_calls, 1);
}


TEST(Study, EnqueuedDoubleOutsideIntRangeIsRejected) {
    Study s(StudyDirection::Minimize);
    s.enqueue_trial({{"big", 3e9}, {"nan", std::nan("")}});
    Trial t = s.make_trial();
    for (const char* name : {"big", "nan"}) {
        try {
            t.suggest_int(name, 0, 10, false, 1);
            ADD_FAILURE() << name;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), "Enqueued value for '" + std::string(name) + "' does not fit a 32-bit int.");
        }
    }
}

TEST(Study, EnqueuedSetsAreTakenInQueueOrder) {
    auto sampler = std::make_shared<StubSampler>();
    Study s(StudyDirection::Minimize, sampler);
    s.enqueue_trial({{"x", 0.1}});
    s.enqueue_trial({{"x", 0.2}});
    Trial a = s.make_trial();
    Trial b = s.make_trial();
    Trial c = s.make_trial();
    EXPECT_EQ(a.suggest_float("x", 0, 1, false, std::nullopt), 0.1);
    EXPECT_EQ(b.suggest_float("x", 0, 1, false, std::nullopt), 0.2);
    EXPECT_EQ(c.suggest_float("x", 0, 1, false, std::nullopt), 0.5);
    EXPECT_TRUE(c.fixed_params.empty());
}
