#include "tarvex/pruner.hpp"

namespace tarvex {

std::unique_ptr<PrunerState> IPruner::make_state(const Study&) { return nullptr; }

}  // namespace tarvex
