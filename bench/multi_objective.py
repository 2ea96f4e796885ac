"""Multi-objective and constrained problems with known fronts (taken from pymoo): hypervolume at a
fixed reference point of every feasible evaluation, median over seeds, for tarvex's samplers and
pymoo's NSGA-II with the same population and budget.

    .venv-bench/bin/python bench/multi_objective.py [--seeds 5] [--budgets 1000 5000] [--workers 2]
        [--samplers nsga2 pymoo random] [--problems zdt1 ...] [--rerun NAME] [--report-only]

Results are cached in bench/results/multi_objective.json (one entry per sampler, problem, budget
and seed); a run computes what is missing.
"""

from __future__ import annotations

import argparse
import json
import math
import multiprocessing
import statistics
import sys
import time
from pathlib import Path

import numpy as np

RESULTS = Path(__file__).with_name("results") / "multi_objective.json"
POPULATION = 50

# name: (pymoo name, keyword arguments, reference point)
PROBLEMS = {
    "zdt1": ("zdt1", {}, [1.1, 1.1]),
    "zdt2": ("zdt2", {}, [1.1, 1.1]),
    "zdt3": ("zdt3", {}, [1.1, 1.1]),
    "dtlz2": ("dtlz2", {"n_var": 12, "n_obj": 3}, [1.1, 1.1, 1.1]),
    "bnh": ("bnh", {}, [140.0, 55.0]),
    "srn": ("srn", {}, [250.0, 0.0]),
    "c2dtlz2": ("c2dtlz2", {"n_var": 12, "n_obj": 3}, [1.1, 1.1, 1.1]),
}
# Low-dimensional variants for the GP's 100-evaluation budget.
SMALL = {
    "zdt1-6d": ("zdt1", {"n_var": 6}, [1.1, 1.1]),
    "zdt2-6d": ("zdt2", {"n_var": 6}, [1.1, 1.1]),
    "dtlz2-6d": ("dtlz2", {"n_var": 6, "n_obj": 3}, [1.1, 1.1, 1.1]),
    # four objectives, beyond the exact expected improvement's reach
    "dtlz2-4obj": ("dtlz2", {"n_var": 6, "n_obj": 4}, [1.1, 1.1, 1.1, 1.1]),
}


BRANIN_C_OPTIMUM = 0.9394760454540574  # SLSQP from a 31 x 31 grid of starts


def branin_c(x1, x2):
    """Branin, and a disc that excludes its three global minima: the optimum lies on its edge."""
    f = (x2 - 5.1 / (4 * math.pi**2) * x1**2 + 5 / math.pi * x1 - 6) ** 2 + 10 * (1 - 1 / (8 * math.pi)) * math.cos(x1)
    return f + 10, (x1 - 2.5) ** 2 + (x2 - 7.5) ** 2 - 20.0


def run_branin_c(sampler_name, seed, budget):
    import tarvex as tv

    samplers = {
        "gp": lambda: tv.GPSampler(seed=seed),
        "tpe": lambda: tv.TPESampler(seed=seed),
        "random": lambda: tv.RandomSampler(seed=seed),
    }
    constraint = {}

    def objective(trial):
        f, c = branin_c(trial.suggest_float("x1", -5, 10), trial.suggest_float("x2", 0, 15))
        constraint[trial.number] = [c]
        return f

    study = tv.create_study(sampler=samplers[sampler_name](), constraints=lambda t: constraint[t.number])
    started = time.perf_counter()
    study.optimize(objective, n_trials=budget)
    late = study.trials[20:]
    best = min((t.value for t in study.trials if t.feasible), default=math.inf)
    return {
        "best": best,
        "seconds": time.perf_counter() - started,
        "feasible_after_20": sum(t.feasible for t in late) / len(late),
    }


def problem_of(name):
    from pymoo.problems import get_problem

    pymoo_name, kwargs, ref = {**PROBLEMS, **SMALL}[name]
    return get_problem(pymoo_name, **kwargs), ref


def evaluate(problem, x):
    out = problem.evaluate(np.asarray([x]), return_values_of=["F", "G"])
    f, g = out
    return f[0].tolist(), ([] if g is None or np.size(g) == 0 else np.atleast_1d(g[0]).tolist())


def run_tarvex(sampler_name, problem, seed, budget, ref):
    import tarvex as tv

    samplers = {
        "nsga2": lambda: tv.NSGA2Sampler(population_size=POPULATION, seed=seed),
        "nsga2-crowding": lambda: tv.NSGA2Sampler(population_size=POPULATION, selection="crowding", seed=seed),
        "nsga3": lambda: tv.NSGA2Sampler(population_size=POPULATION, selection="reference_points", seed=seed),
        "random": lambda: tv.RandomSampler(seed=seed),
        "gp": lambda: tv.GPSampler(seed=seed),
        # told the reference point the hypervolume is measured at, as BoTorch is
        "gp-ref": lambda: tv.GPSampler(seed=seed, reference_point=ref),
        "gp-parego": lambda: tv.GPSampler(seed=seed, multi_objective="parego"),
        "gp-nowarp": lambda: tv.GPSampler(seed=seed, warp_values=False),
        "tpe": lambda: tv.TPESampler(seed=seed),
        "auto": lambda: tv.AutoSampler(seed=seed),
    }
    constraints = {}
    points = []

    def objective(trial):
        x = [
            trial.suggest_float(f"x{i}", float(lo), float(hi)) for i, (lo, hi) in enumerate(zip(problem.xl, problem.xu))
        ]
        f, g = evaluate(problem, x)
        constraints[trial.number] = g
        points.append((f, all(v <= 0 for v in g)))
        return f

    study = tv.create_study(
        directions=["minimize"] * problem.n_obj,
        sampler=samplers[sampler_name](),
        constraints=(lambda t: constraints[t.number]) if problem.n_ieq_constr else None,
    )
    started = time.perf_counter()
    study.optimize(objective, n_trials=budget)
    return points, time.perf_counter() - started


def run_pymoo(problem, seed, budget):
    from pymoo.algorithms.moo.nsga2 import NSGA2
    from pymoo.core.problem import Problem
    from pymoo.optimize import minimize

    points = []

    class Recorded(Problem):
        def __init__(self):
            super().__init__(
                n_var=problem.n_var,
                n_obj=problem.n_obj,
                n_ieq_constr=problem.n_ieq_constr,
                xl=problem.xl,
                xu=problem.xu,
            )

        def _evaluate(self, x, out, *args, **kwargs):
            f, g = problem.evaluate(x, return_values_of=["F", "G"])
            out["F"] = f
            if problem.n_ieq_constr:
                out["G"] = g
            for k in range(len(x)):
                feasible = not problem.n_ieq_constr or bool(np.all(np.atleast_1d(g[k]) <= 0))
                points.append((f[k].tolist(), feasible))

    started = time.perf_counter()
    minimize(Recorded(), NSGA2(pop_size=POPULATION), ("n_eval", budget), seed=seed, verbose=False)
    return points[:budget], time.perf_counter() - started


def one_run(task):
    sampler, name, budget, seed = task
    if name == "branin-c":
        return f"{sampler}/{name}/{budget}/{seed}", run_branin_c(sampler, seed, budget)
    problem, ref = problem_of(name)
    if sampler == "pymoo":
        points, seconds = run_pymoo(problem, seed, budget)
    else:
        points, seconds = run_tarvex(sampler, problem, seed, budget, ref)
    import tarvex as tv

    feasible = [f for f, ok in points if ok]
    volume = tv.hypervolume(feasible, ref) if feasible else 0.0
    late = points[20:]
    share = sum(ok for _, ok in late) / len(late) if late else 1.0
    return f"{sampler}/{name}/{budget}/{seed}", {"hv": volume, "seconds": seconds, "feasible_after_20": share}


def latency():
    """The GP's proposal after 100 trials of the low-dimensional problems: median of 5 asks."""
    import tarvex as tv

    for name in SMALL:
        problem, _ = problem_of(name)
        for method in ("ehvi", "parego"):
            study = tv.create_study(
                directions=["minimize"] * problem.n_obj, sampler=tv.GPSampler(seed=1, multi_objective=method)
            )
            names = [f"x{i}" for i in range(problem.n_var)]

            def objective(trial, problem=problem, names=names):
                return evaluate(problem, [trial.suggest_float(n, 0.0, 1.0) for n in names])[0]

            study.optimize(objective, n_trials=100)
            times = []
            for _ in range(5):
                trial = study.ask()
                started = time.perf_counter()
                x = [trial.suggest_float(n, 0.0, 1.0) for n in names]
                times.append(time.perf_counter() - started)
                study.tell(trial, evaluate(problem, x)[0])
            print(f"{name} {method}: one proposal at 100 trials {statistics.median(times) * 1e3:.0f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--budgets", type=int, nargs="+", default=[1000, 5000])
    parser.add_argument("--samplers", nargs="+", default=["nsga2", "pymoo", "random"])
    parser.add_argument("--problems", nargs="+", default=list(PROBLEMS), help=f"of {', '.join({**PROBLEMS, **SMALL})}")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--rerun", nargs="*", default=[], help="samplers whose cached results are dropped")
    parser.add_argument("--report-only", action="store_true")
    parser.add_argument("--latency", action="store_true", help="time the GP's proposals instead")
    args = parser.parse_args()
    if args.latency:
        return latency()
    results = json.loads(RESULTS.read_text()) if RESULTS.exists() else {}
    results = {k: v for k, v in results.items() if k.split("/")[0] not in args.rerun}
    tasks = [
        (s, p, b, seed)
        for s in args.samplers
        for p in args.problems
        for b in args.budgets
        for seed in range(1, args.seeds + 1)
        if f"{s}/{p}/{b}/{seed}" not in results
    ]
    if tasks and not args.report_only:
        with multiprocessing.get_context("spawn").Pool(args.workers) as pool:
            for key, value in pool.imap_unordered(one_run, tasks):
                results[key] = value
                RESULTS.parent.mkdir(exist_ok=True)
                RESULTS.write_text(json.dumps(results, indent=1, sort_keys=True))
                print(key, f"{value.get('hv', value.get('best')):.4f}", file=sys.stderr)
    report(results, args)


def median_of(results, sampler, problem, budget, field="hv"):
    got = [v[field] for k, v in results.items() if k.startswith(f"{sampler}/{problem}/{budget}/")]
    return statistics.median(got) if got else math.nan


def report(results, args):
    botorch = Path(__file__).with_name("results") / "botorch.json"
    if botorch.exists():
        results = {**results, **json.loads(botorch.read_text())}
    samplers = [*args.samplers, "botorch"] if botorch.exists() else args.samplers
    if "branin-c" in args.problems:
        print(f"\nConstrained Branin, {args.budgets[0]} evaluations: median regret of the best feasible trial,")
        print("and the feasible share of the trials after the 20th")
        for s in samplers:
            regret = median_of(results, s, "branin-c", args.budgets[0], "best") - BRANIN_C_OPTIMUM
            share = median_of(results, s, "branin-c", args.budgets[0], "feasible_after_20")
            print(f"| {s} | {regret:.2e} | {share:.0%} |")
        args.problems = [p for p in args.problems if p != "branin-c"]
    if not args.problems:
        return
    args.samplers = samplers
    for budget in args.budgets:
        print(f"\nHypervolume, {budget} evaluations, median of {args.seeds} seeds (population {POPULATION})")
        print("| problem | " + " | ".join(args.samplers) + " |")
        print("|---" * (len(args.samplers) + 1) + "|")
        for p in args.problems:
            cells = [f"{median_of(results, s, p, budget):.4f}" for s in args.samplers]
            print(f"| {p} | " + " | ".join(cells) + " |")
        constrained = [p for p in args.problems if problem_of(p)[0].n_ieq_constr]
        constrained = [p for p in constrained if any(f"/{p}/{budget}/" in k for k in results)]
        if constrained:
            print(f"\nFeasible share of trials after the 20th, {budget} evaluations, median")
            print("| problem | " + " | ".join(args.samplers) + " |")
            print("|---" * (len(args.samplers) + 1) + "|")
            for p in constrained:
                cells = [f"{median_of(results, s, p, budget, 'feasible_after_20'):.0%}" for s in args.samplers]
                print(f"| {p} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
