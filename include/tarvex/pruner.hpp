// The pruner interface: whether a running trial should stop early.
#pragma once

#include <memory>

#include "tarvex/study.hpp"

namespace tarvex {

// What a pruner keeps of one study between its calls; made by the pruner, owned by the study.
class PrunerState {
public:
    virtual ~PrunerState() = default;
};

// Called without any study lock, possibly concurrently; implementations must tolerate that.
class IPruner {
public:
    virtual ~IPruner() = default;
    virtual bool should_prune(const Study& study, const Trial& trial) = 0;
    // Made once, when a study takes this pruner; the study hands it back through
    // Study::pruner_state and it dies with the study. By default nothing.
    virtual std::unique_ptr<PrunerState> make_state(const Study& study);
    // Whether a call may take long enough (reading a storage) that a caller should let other
    // threads run meanwhile.
    virtual bool is_slow() const { return false; }
};

}  // namespace tarvex
