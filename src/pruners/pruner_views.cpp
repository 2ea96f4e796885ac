#include "pruner_view.hpp"

namespace tarvex::detail {

PrunerViews::PrunerViews() = default;
PrunerViews::~PrunerViews() = default;

}  // namespace tarvex::detail
