// Test doubles and helpers shared by the core suites.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "tarvex/pruners.hpp"
#include "tarvex/samplers.hpp"
#include "tarvex/storage.hpp"

namespace tarvex::testing {

// Answers every request with a fixed value per kind and counts the calls it sees.
class StubSampler : public ISampler {
public:
    void before_study(const Study&) override { ++before_calls; }
    ParamValue sample_independent(const Study&, const Trial&, const std::string&, const Distribution& dist) override {
        ++sample_calls;
        if (dist.index() == 0) return 0.5;
        if (dist.index() == 1) return 1;
        return std::string("a");
    }
    void after_trial(const Study&, const Trial&) override {
        if (++after_calls == fail_after_on) throw std::runtime_error("after_trial failed");
    }
    std::atomic<int> before_calls{0}, sample_calls{0}, after_calls{0};
    int fail_after_on = -1;  // the n-th after_trial call throws
};

// Storage whose n-th update fails: a bookkeeping failure outside the objective.
class FailingStorage : public InMemoryStorage {
public:
    explicit FailingStorage(int fail_on) : fail_on(fail_on) {}
    void update_trial(const Trial& trial) override {
        if (++updates == fail_on) throw std::runtime_error("disk full");
        InMemoryStorage::update_trial(trial);
    }
    const int fail_on;
    std::atomic<int> updates{0};
};

// The message of the exception f throws, or "no error".
template <class F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

inline double suggest_x(Trial& t, double low = 0, double high = 1) {
    return t.suggest_float("x", low, high, false, std::nullopt);
}

}  // namespace tarvex::testing
