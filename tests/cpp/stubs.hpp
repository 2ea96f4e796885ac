// Test doubles shared by the core suites.
#pragma once

#include <atomic>
#include <stdexcept>

#include "tarvex/pruners.hpp"
#include "tarvex/samplers.hpp"

namespace tarvex::testing {

// Answers every request with a fixed value per kind and counts the calls it sees.
class StubSampler : public ISampler {
public:
    void before_study(const Study&) override { ++before_calls; }
    ParamValue sample_independent(const Study&, const Trial&, const std::string&,
                                  const Distribution& dist) override {
        ++sample_calls;
        switch (dist.index()) {
            case 0: return 0.5;
            case 1: return 1;
            default: return std::string("a");
        }
    }
    void after_trial(const Study&, const Trial&) override {
        if (++after_calls == fail_after_on) throw std::runtime_error("after_trial failed");
    }
    std::atomic<int> before_calls{0};
    std::atomic<int> sample_calls{0};
    std::atomic<int> after_calls{0};
    int fail_after_on = -1;  // the n-th after_trial call throws
};

class CountingPruner : public IPruner {
public:
    explicit CountingPruner(bool answer) : answer(answer) {}
    bool should_prune(const Study&, const Trial&) override {
        ++calls;
        return answer;
    }
    const bool answer;
    std::atomic<int> calls{0};
};

}  // namespace tarvex::testing
