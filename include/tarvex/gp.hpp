// The Gaussian-process engine, for those who want all of it: kernels, the model and its fit,
// the acquisition functions and their optimiser, and the L-BFGS minimiser they use.
#pragma once

#include "tarvex/acquisition.hpp"
#include "tarvex/gaussian_process.hpp"
#include "tarvex/kernels.hpp"
#include "tarvex/lbfgs.hpp"
