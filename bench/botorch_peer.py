"""BoTorch as the peer of tarvex's GPSampler on the multi-objective and constrained problems of
bench/multi_objective.py: qLogNEHVI at 100 evaluations, and constrained LogEI (qLogNEI with a
constraint model) on the constrained Branin at 60. Runs in the Python 3.11 venv that has torch:

    .venv-botorch/bin/python bench/botorch_peer.py [--seeds 5] [--problems zdt1-6d ...]

Results go to bench/results/botorch.json, keyed as bench/multi_objective.py keys its own.
"""

from __future__ import annotations

import argparse
import json
import math
import time
import warnings
from pathlib import Path

import numpy as np
import torch

RESULTS = Path(__file__).with_name("results") / "botorch.json"
MO_PROBLEMS = {
    "zdt1-6d": ("zdt1", {"n_var": 6}, [1.1, 1.1]),
    "zdt2-6d": ("zdt2", {"n_var": 6}, [1.1, 1.1]),
    "dtlz2-6d": ("dtlz2", {"n_var": 6, "n_obj": 3}, [1.1, 1.1, 1.1]),
    # four objectives, beyond the exact expected improvement's reach
    "dtlz2-4obj": ("dtlz2", {"n_var": 6, "n_obj": 4}, [1.1, 1.1, 1.1, 1.1]),
}
torch.set_default_dtype(torch.float64)


def branin(x1, x2):
    return (
        (x2 - 5.1 / (4 * math.pi**2) * x1**2 + 5 / math.pi * x1 - 6) ** 2
        + 10 * (1 - 1 / (8 * math.pi)) * math.cos(x1)
        + 10
    )


def branin_constraint(x1, x2):
    # A disc that excludes Branin's three global minima: the optimum lies on its edge.
    return (x1 - 2.5) ** 2 + (x2 - 7.5) ** 2 - 20.0


def fit_model(X, Y):
    from botorch.fit import fit_gpytorch_mll
    from botorch.models import ModelListGP, SingleTaskGP
    from botorch.models.transforms import Standardize
    from gpytorch.mlls import SumMarginalLogLikelihood

    models = [SingleTaskGP(X, Y[:, i : i + 1], outcome_transform=Standardize(m=1)) for i in range(Y.shape[1])]
    model = ModelListGP(*models)
    fit_gpytorch_mll(SumMarginalLogLikelihood(model.likelihood, model))
    return model


def run_mo(name, seed, budget):
    from botorch.acquisition.multi_objective.logei import qLogNoisyExpectedHypervolumeImprovement
    from botorch.optim import optimize_acqf
    from botorch.utils.sampling import draw_sobol_samples
    from pymoo.indicators.hv import HV
    from pymoo.problems import get_problem

    pymoo_name, kwargs, ref = MO_PROBLEMS[name]
    problem = get_problem(pymoo_name, **kwargs)
    d = problem.n_var
    bounds = torch.stack([torch.zeros(d), torch.ones(d)])
    torch.manual_seed(seed)

    def evaluate(X):
        return -torch.tensor(problem.evaluate(X.numpy()))  # BoTorch maximises

    X = draw_sobol_samples(bounds, n=2 * (d + 1), q=1, seed=seed).squeeze(1)
    Y = evaluate(X)
    started = time.perf_counter()
    ref_point = -torch.tensor(ref)
    while len(X) < budget:
        model = fit_model(X, Y)
        acq = qLogNoisyExpectedHypervolumeImprovement(model, ref_point=ref_point, X_baseline=X, prune_baseline=True)
        candidate, _ = optimize_acqf(acq, bounds=bounds, q=1, num_restarts=10, raw_samples=512)
        X = torch.cat([X, candidate])
        Y = torch.cat([Y, evaluate(candidate)])
    F = -Y.numpy()
    return float(HV(ref_point=np.array(ref))(F)), time.perf_counter() - started


def run_constrained_branin(seed, budget):
    from botorch.optim import optimize_acqf
    from botorch.utils.sampling import draw_sobol_samples

    bounds = torch.tensor([[0.0, 0.0], [1.0, 1.0]])

    def evaluate(X):
        x1, x2 = -5 + 15 * X[:, 0], 15 * X[:, 1]
        f = torch.tensor([branin(a, b) for a, b in zip(x1.tolist(), x2.tolist())])
        c = torch.tensor([branin_constraint(a, b) for a, b in zip(x1.tolist(), x2.tolist())])
        return torch.stack([-f, c], dim=-1)  # objective maximised, constraint <= 0

    X = draw_sobol_samples(bounds, n=6, q=1, seed=seed).squeeze(1)
    Y = evaluate(X)
    started = time.perf_counter()
    while len(X) < budget:
        model = fit_model(X, Y)
        acq = _constrained_logei(model, X)
        candidate, _ = optimize_acqf(acq, bounds=bounds, q=1, num_restarts=10, raw_samples=512)
        X = torch.cat([X, candidate])
        Y = torch.cat([Y, evaluate(candidate)])
    feasible = Y[:, 1] <= 0
    best = float(-Y[feasible, 0].max()) if feasible.any() else math.inf
    return best, time.perf_counter() - started, float(feasible[20:].double().mean())


def _constrained_logei(model, X):
    from botorch.acquisition.logei import qLogNoisyExpectedImprovement
    from botorch.acquisition.objective import GenericMCObjective

    return qLogNoisyExpectedImprovement(
        model,
        X_baseline=X,
        objective=GenericMCObjective(lambda Z, X=None: Z[..., 0]),
        constraints=[lambda Z: Z[..., 1]],
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--problems", nargs="+", default=[*MO_PROBLEMS, "branin-c"])
    args = parser.parse_args()
    warnings.filterwarnings("ignore")
    results = json.loads(RESULTS.read_text()) if RESULTS.exists() else {}
    for name in args.problems:
        for seed in range(1, args.seeds + 1):
            if name == "branin-c":
                key = f"botorch/branin-c/60/{seed}"
                if key in results:
                    continue
                best, seconds, share = run_constrained_branin(seed, 60)
                results[key] = {"best": best, "seconds": seconds, "feasible_after_20": share}
            else:
                key = f"botorch/{name}/100/{seed}"
                if key in results:
                    continue
                hv, seconds = run_mo(name, seed, 100)
                results[key] = {"hv": hv, "seconds": seconds}
            RESULTS.parent.mkdir(exist_ok=True)
            RESULTS.write_text(json.dumps(results, indent=1, sort_keys=True))
            print(key, results[key], flush=True)


if __name__ == "__main__":
    main()
