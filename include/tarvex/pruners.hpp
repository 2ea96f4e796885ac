// Every pruner of the library, with the interface they share.
#pragma once

#include "tarvex/hyperband_pruner.hpp"
#include "tarvex/median_pruner.hpp"
#include "tarvex/pruner.hpp"
