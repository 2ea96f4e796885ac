// Pruners: early-stopping rules over intermediate values.
#pragma once

#include "tarvex/study.hpp"

namespace tarvex {

// Called without any study lock, possibly concurrently; implementations must tolerate that.
class IPruner {
public:
    virtual ~IPruner() = default;
    virtual bool should_prune(const Study& study, const Trial& trial) = 0;
};

}  // namespace tarvex
