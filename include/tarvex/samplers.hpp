// Every sampler of the library, with the interface and the search space they share.
#pragma once

#include "tarvex/auto_sampler.hpp"
#include "tarvex/cmaes_sampler.hpp"
#include "tarvex/distributions.hpp"
#include "tarvex/gp_sampler.hpp"
#include "tarvex/grid_sampler.hpp"
#include "tarvex/nsga2_sampler.hpp"
#include "tarvex/random_sampler.hpp"
#include "tarvex/sampler.hpp"
#include "tarvex/search_space.hpp"
#include "tarvex/sobol_sampler.hpp"
#include "tarvex/tpe_sampler.hpp"
