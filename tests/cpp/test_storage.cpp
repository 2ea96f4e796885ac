#include <gtest/gtest.h>

#include "tarvex/storage.hpp"

using namespace tarvex;

TEST(InMemoryStorage, IdentifiersCountUpAcrossStudies) {
    InMemoryStorage s;
    EXPECT_EQ(s.create_trial(5), 0);
    EXPECT_EQ(s.create_trial(9), 1);
    EXPECT_EQ(s.create_trial(5), 2);
}

TEST(InMemoryStorage, ReadsAreSortedPerStudyCopies) {
    InMemoryStorage s;
    for (int id : {5, 2, 9}) s.update_trial(Trial(id, 1));
    s.update_trial(Trial(4, 2));
    const auto all = s.get_all_trials(1);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].trial_id, 2);
    EXPECT_EQ(all[1].trial_id, 5);
    EXPECT_EQ(all[2].trial_id, 9);
    EXPECT_EQ(s.n_trials(1), 3);
    EXPECT_EQ(s.n_trials(2), 1);
    EXPECT_TRUE(s.get_all_trials(3).empty());
    EXPECT_EQ(s.n_trials(3), 0);
}

TEST(InMemoryStorage, UpdateReplacesTheStoredCopy) {
    InMemoryStorage s;
    Trial t(3, 0);
    s.update_trial(t);
    t.values = {1.5};
    t.state = TrialState::Complete;
    s.update_trial(t);
    EXPECT_EQ(s.n_trials(0), 1);
    Trial read = s.get_trial(3);
    EXPECT_EQ(read.state, TrialState::Complete);
    read.values = {9};
    EXPECT_EQ(s.get_trial(3).values, std::vector<double>{1.5});
}

TEST(InMemoryStorage, UnknownIdentifierIsNamed) {
    InMemoryStorage s;
    const int id = s.create_trial(0);
    try {
        (void)s.get_trial(id);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Trial 0 not found.");
    }
}
