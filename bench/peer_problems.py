"""Test problems with known optima, and one driver per optimiser, each through its own API.

Every driver runs one optimisation of `budget` evaluations and returns the objective value of
each evaluation in order; regret is computed by the caller."""

import math

import numpy as np

HARTMANN3_A = np.array([[3.0, 10, 30], [0.1, 10, 35], [3.0, 10, 30], [0.1, 10, 35]])
HARTMANN3_P = 1e-4 * np.array([[3689, 1170, 2673], [4699, 4387, 7470], [1091, 8732, 5547], [381, 5743, 8828]])
HARTMANN6_A = np.array(
    [[10, 3, 17, 3.5, 1.7, 8], [0.05, 10, 17, 0.1, 8, 14], [3, 3.5, 1.7, 10, 17, 8], [17, 8, 0.05, 10, 0.1, 14]]
)
HARTMANN6_P = 1e-4 * np.array(
    [
        [1312, 1696, 5569, 124, 8283, 5886],
        [2329, 4135, 8307, 3736, 1004, 9991],
        [2348, 1451, 3522, 2883, 3047, 6650],
        [4047, 8828, 8732, 5743, 1091, 381],
    ]
)
HARTMANN_ALPHA = np.array([1.0, 1.2, 3.0, 3.2])


def hartmann(x, a, p):
    x = np.asarray(x, dtype=float)
    return float(-np.sum(HARTMANN_ALPHA * np.exp(-np.sum(a * (x - p) ** 2, axis=1))))


def branin(x):
    b, c, t = 5.1 / (4 * math.pi**2), 5 / math.pi, 1 / (8 * math.pi)
    return (x[1] - b * x[0] ** 2 + c * x[0] - 6) ** 2 + 10 * (1 - t) * math.cos(x[0]) + 10


def six_hump_camel(x):
    a, b = x
    return (4 - 2.1 * a * a + a**4 / 3) * a * a + a * b + (-4 + 4 * b * b) * b * b


def ackley(x):
    x = np.asarray(x, dtype=float)
    d = len(x)
    return float(
        -20 * math.exp(-0.2 * math.sqrt(np.sum(x * x) / d))
        - math.exp(np.sum(np.cos(2 * math.pi * x)) / d)
        + 20
        + math.e
    )


ACTIVATION_COST = {"relu": 0.0, "tanh": 0.4, "sigmoid": 1.2}
ACTIVATION_DEPTH = {"relu": 5, "tanh": 3, "sigmoid": 2}


def training_loss(lr, layers, activation, dropout):
    """A stand-in for tuning a network: a log-scaled learning rate whose best value shifts with
    depth, an integer depth whose best value depends on the activation, a categorical activation
    and a float dropout. Minimum 0 at lr = 10^-2.5 (depth 5), 5 layers, relu, dropout 0.2."""
    return (
        (math.log10(lr) + 2.0 + 0.1 * layers) ** 2
        + 0.15 * (layers - ACTIVATION_DEPTH[activation]) ** 2
        + ACTIVATION_COST[activation]
        + 6.0 * (dropout - 0.2) ** 2
    )


class Problem:
    """A box-bounded continuous problem, or the mixed one when `mixed` is set."""

    def __init__(self, name, optimum, bounds=None, function=None, mixed=False):
        self.name, self.optimum, self.bounds, self.function, self.mixed = name, optimum, bounds, function, mixed


PROBLEMS = [
    Problem("Branin (2-D)", 0.397887357729738, [(-5.0, 10.0), (0.0, 15.0)], branin),
    Problem("Six-hump camel (2-D)", -1.031628453489877, [(-3.0, 3.0), (-2.0, 2.0)], six_hump_camel),
    Problem("Hartmann-3 (3-D)", -3.862782147820756, [(0.0, 1.0)] * 3, lambda x: hartmann(x, HARTMANN3_A, HARTMANN3_P)),
    Problem("Ackley (4-D)", 0.0, [(-32.768, 32.768)] * 4, ackley),
    Problem("Hartmann-6 (6-D)", -3.322368011415515, [(0.0, 1.0)] * 6, lambda x: hartmann(x, HARTMANN6_A, HARTMANN6_P)),
    Problem("Mixed int/log/categorical (4-D)", 0.0, mixed=True),
]

OPTIMISERS = [
    "tarvex GPSampler",
    "tarvex GPSampler, module defaults",
    "tarvex RandomSampler",
    "skopt gp_minimize",
    "hyperopt TPE",
]
# Run only through this file's command line: a SMAC3 run of 100 evaluations takes minutes, which
# would make peers.py's whole comparison take hours.
SLOW_OPTIMISERS = ["SMAC3 BlackBoxFacade"]
# The defaults the public package gives GPSampler; _tarvex keeps the compiled module's own.
BETTER_GP_DEFAULTS = {
    "xi": 0.0,
    "noise_var": 1e-6,
    "warp_values": True,
    "trust_region": True,
    "principal_axes": True,
    "quadratic_mean": True,
}
ACTIVATIONS = list(ACTIVATION_COST)


def run_tarvex(problem, budget, seed, sampler):
    import _tarvex as tv

    values = []

    def objective(trial):
        if problem.mixed:
            y = training_loss(
                trial.suggest_float("lr", 1e-5, 1.0, log=True),
                trial.suggest_int("layers", 1, 8),
                trial.suggest_categorical("activation", ACTIVATIONS),
                trial.suggest_float("dropout", 0.0, 0.6),
            )
        else:
            y = problem.function([trial.suggest_float(f"x{i}", lo, hi) for i, (lo, hi) in enumerate(problem.bounds)])
        values.append(y)
        return y

    if sampler == "gp":
        made = tv.GPSampler(seed=seed, **BETTER_GP_DEFAULTS)
    elif sampler == "gp module defaults":
        made = tv.GPSampler(seed=seed)
    else:
        made = tv.RandomSampler(seed=seed)
    tv.Study(tv.StudyDirection.Minimize, made).optimize(objective, n_trials=budget)
    return values


def run_skopt(problem, budget, seed):
    from skopt import gp_minimize
    from skopt.space import Categorical, Integer, Real

    if problem.mixed:
        space = [Real(1e-5, 1.0, prior="log-uniform"), Integer(1, 8), Categorical(ACTIVATIONS), Real(0.0, 0.6)]
        result = gp_minimize(lambda p: training_loss(*p), space, n_calls=budget, random_state=seed)
    else:
        result = gp_minimize(lambda p: problem.function(p), problem.bounds, n_calls=budget, random_state=seed)
    return [float(v) for v in result.func_vals]


def run_hyperopt(problem, budget, seed):
    from hyperopt import Trials, fmin, hp, tpe

    if problem.mixed:
        space = {
            "lr": hp.loguniform("lr", math.log(1e-5), 0.0),
            "layers": hp.uniformint("layers", 1, 8),
            "activation": hp.choice("activation", ACTIVATIONS),
            "dropout": hp.uniform("dropout", 0.0, 0.6),
        }

        def loss(p):
            return training_loss(p["lr"], int(p["layers"]), p["activation"], p["dropout"])
    else:
        space = [hp.uniform(f"x{i}", lo, hi) for i, (lo, hi) in enumerate(problem.bounds)]

        def loss(p):
            return problem.function(list(p))

    trials = Trials()
    fmin(
        loss,
        space,
        algo=tpe.suggest,
        max_evals=budget,
        trials=trials,
        rstate=np.random.default_rng(seed),
        show_progressbar=False,
    )
    return [float(v) for v in trials.losses()]


def run_smac(problem, budget, seed):
    """SMAC3's facade for low-dimensional black-box functions: a GP with its own initial design."""
    import logging

    from ConfigSpace import Categorical, ConfigurationSpace, Float, Integer
    from smac import BlackBoxFacade, Scenario

    logging.getLogger("smac").setLevel(logging.ERROR)
    space = ConfigurationSpace(seed=seed)
    if problem.mixed:
        space.add(
            [
                Float("lr", (1e-5, 1.0), log=True),
                Integer("layers", (1, 8)),
                Categorical("activation", ACTIVATIONS),
                Float("dropout", (0.0, 0.6)),
            ]
        )

        def loss(config, seed=0):
            return training_loss(config["lr"], config["layers"], config["activation"], config["dropout"])
    else:
        space.add([Float(f"x{i}", (lo, hi)) for i, (lo, hi) in enumerate(problem.bounds)])

        def loss(config, seed=0):
            return problem.function([config[f"x{i}"] for i in range(len(problem.bounds))])

    values = []

    def recorded(config, seed=0):
        values.append(float(loss(config)))
        return values[-1]

    import tempfile

    with tempfile.TemporaryDirectory() as out:
        scenario = Scenario(space, deterministic=True, n_trials=budget, seed=seed, output_directory=out)
        BlackBoxFacade(scenario, recorded, overwrite=True, logging_level=40).optimize()
    return values


def run(optimiser, problem, budget, seed):
    if optimiser == "SMAC3 BlackBoxFacade":
        return run_smac(problem, budget, seed)
    if optimiser == "tarvex GPSampler":
        return run_tarvex(problem, budget, seed, "gp")
    if optimiser == "tarvex GPSampler, module defaults":
        return run_tarvex(problem, budget, seed, "gp module defaults")
    if optimiser == "tarvex RandomSampler":
        return run_tarvex(problem, budget, seed, "random")
    if optimiser == "skopt gp_minimize":
        return run_skopt(problem, budget, seed)
    return run_hyperopt(problem, budget, seed)


def main():
    """Median regret of some optimisers at 50 (and 100) evaluations, without the rest of
    peers.py: python bench/peer_problems.py "SMAC3 BlackBoxFacade" "tarvex GPSampler" --seeds 10"""
    import argparse
    import multiprocessing
    import statistics
    import sys

    parser = argparse.ArgumentParser(description=main.__doc__)
    parser.add_argument("optimisers", nargs="+", choices=OPTIMISERS + SLOW_OPTIMISERS)
    parser.add_argument("--seeds", type=int, default=10)
    parser.add_argument("--budget", type=int, default=100, choices=(50, 100))
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()
    jobs = [
        (o, p, s, args.budget) for o in args.optimisers for p in range(len(PROBLEMS)) for s in range(1, args.seeds + 1)
    ]
    traces = {}
    with multiprocessing.get_context("spawn").Pool(args.workers) as pool:
        for (o, p, s, _), best in pool.imap_unordered(_job, jobs):
            traces.setdefault((o, p), []).append(best)
            print(f"{o} | {PROBLEMS[p].name} | seed {s}: {best[-1]:.3g}", file=sys.stderr, flush=True)
    budgets = [b for b in (50, 100) if b <= args.budget]
    print("| Problem | " + " | ".join(f"{o}: " + " / ".join(map(str, budgets)) for o in args.optimisers) + " |")
    print("|---" * (len(args.optimisers) + 1) + "|")
    for p, problem in enumerate(PROBLEMS):
        cells = [
            " / ".join(f"{statistics.median(t[b - 1] for t in traces[(o, p)]):.3g}" for b in budgets)
            for o in args.optimisers
        ]
        print(f"| {problem.name} | " + " | ".join(cells) + " |")


def _job(job):
    optimiser, p, seed, budget = job
    values = run(optimiser, PROBLEMS[p], budget, seed)
    return job, np.minimum.accumulate(np.asarray(values, dtype=float)) - PROBLEMS[p].optimum


if __name__ == "__main__":
    main()
