"""tarvex's samplers next to their peers on COCO's bbob suite (24 functions, offline): regret is
f - f_opt of the best point found within the budget, median over seeds, every optimiser in the
same run on the same machine.

    .venv-bench/bin/python bench/bbob.py tpe     # TPESampler vs hyperopt TPE, 10-D, 1,000 evaluations
    .venv-bench/bin/python bench/bbob.py cmaes   # CMAESSampler vs nevergrad CMA and cmaes (IPOP), 10-D, 1,000
    .venv-bench/bin/python bench/bbob.py gp      # GPSampler vs nevergrad NGOpt, 5-D, 100
    .venv-bench/bin/python bench/bbob.py auto5 auto10   # AutoSampler at 5-D/100 and 10-D/1,000
    .venv-bench/bin/python bench/bbob.py auto10short    # the same samplers at 10-D with 100 evaluations

Results are kept in bench/results/bbob.json (a finished run is not repeated) and the tables go
to stdout in Markdown. Run through bench/run_peers.sh, which installs the peers."""

import argparse
import json
import logging
import math
import multiprocessing
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

RESULTS = Path(__file__).resolve().parent / "results" / "bbob.json"
FUNCTIONS = range(1, 25)
NAMES = (
    "sphere ellipsoid rastrigin bueche-rastrigin linear-slope attractive-sector step-ellipsoid rosenbrock "
    "rosenbrock-rotated ellipsoid-rotated discus bent-cigar sharp-ridge different-powers rastrigin-rotated "
    "weierstrass schaffer-f7 schaffer-f7-ill griewank-rosenbrock schwefel gallagher-101 gallagher-21 katsuura "
    "lunacek"
).split()

# setting: (dimension, budget, tarvex samplers, peers)
SETTINGS = {
    "tpe": (10, 1000, ["tarvex TPE"], ["hyperopt TPE"]),
    "cmaes": (10, 1000, ["tarvex CMA-ES"], ["nevergrad CMA", "cmaes IPOP"]),
    "gp": (5, 100, ["tarvex GP"], ["nevergrad NGOpt"]),
    "auto5": (5, 100, ["tarvex Auto", "tarvex GP", "tarvex TPE", "tarvex CMA-ES"], ["nevergrad NGOpt", "hyperopt TPE"]),
    "auto10": (
        10,
        1000,
        ["tarvex Auto", "tarvex TPE", "tarvex CMA-ES"],
        ["nevergrad NGOpt", "nevergrad CMA", "cmaes IPOP", "hyperopt TPE"],
    ),
    # Where AutoSampler hands a 10-D study over: what 100 evaluations give each sampler.
    "auto10short": (10, 100, ["tarvex Auto", "tarvex GP", "tarvex TPE", "tarvex CMA-ES"], ["nevergrad NGOpt"]),
}


def tarvex_sampler(name, seed):
    """The sampler a name stands for; options may follow in parentheses, for trying settings:
    "tarvex CMA-ES(sigma0=0.1)"."""
    import tarvex as tv

    base, _, options = name.partition("(")
    kwargs = eval(f"dict({options.rstrip(')')})") if options else {}  # noqa: S307 - the bench's own names
    samplers = {
        "tarvex TPE": tv.TPESampler,
        "tarvex CMA-ES": tv.CMAESSampler,
        "tarvex GP": tv.GPSampler,
        "tarvex Auto": getattr(tv, "AutoSampler", None),
    }
    return samplers[base](seed=seed, **kwargs)


def run_tarvex(name, f, dim, budget, seed):
    import tarvex as tv

    logging.getLogger("tarvex").setLevel(logging.WARNING)
    names = [f"x{i}" for i in range(dim)]
    study = tv.create_study(sampler=tarvex_sampler(name, seed))
    study.optimize(lambda t: f(np.array([t.suggest_float(n, -5, 5) for n in names])), n_trials=budget)


def run_hyperopt(f, dim, budget, seed):
    import hyperopt

    logging.getLogger("hyperopt").setLevel(logging.WARNING)
    space = [hyperopt.hp.uniform(f"x{i}", -5, 5) for i in range(dim)]
    hyperopt.fmin(
        lambda x: float(f(np.array(x))),
        space,
        algo=hyperopt.tpe.suggest,
        max_evals=budget,
        rstate=np.random.default_rng(seed),
        show_progressbar=False,
    )


class _OneRowRegression:
    """nevergrad's NGOpt turns its meta-model's one-row prediction into a float, which this numpy
    refuses for a 1-element array (past 5-D and a few hundred evaluations): predict one row as a
    0-d array, everything else as it is."""

    @staticmethod
    def install():
        import sklearn.linear_model

        base = sklearn.linear_model.LinearRegression
        if getattr(base, "_one_row", False):
            return

        class LinearRegression(base):
            _one_row = True

            def predict(self, X):
                y = super().predict(X)
                return y.reshape(()) if y.size == 1 else y

        sklearn.linear_model.LinearRegression = LinearRegression


def run_nevergrad(kind, f, dim, budget, seed):
    import nevergrad as ng

    _OneRowRegression.install()

    parametrization = ng.p.Array(shape=(dim,), lower=-5, upper=5)
    parametrization.random_state = np.random.RandomState(seed)
    optimiser = getattr(ng.optimizers, kind)(parametrization=parametrization, budget=budget)
    optimiser.minimize(lambda x: float(f(x)))


def run_cmaes_ipop(f, dim, budget, seed):
    import cmaes

    rng = np.random.default_rng(seed)
    bounds = np.array([[-5.0, 5.0]] * dim)
    popsize, used = None, 0
    while used < budget:
        es = cmaes.CMA(
            mean=rng.uniform(-4, 4, dim),
            sigma=2.0,
            bounds=bounds,
            seed=int(rng.integers(1 << 30)),
            population_size=popsize,
        )
        popsize = es.population_size
        while used < budget and not es.should_stop():
            told = []
            for _ in range(es.population_size):
                x = es.ask()
                told.append((x, float(f(x))))
                used += 1
            if len(told) == es.population_size:
                es.tell(told)
        popsize *= 2


def job(task):
    optimiser, fid, dim, budget, seed = task
    import cocoex

    os.environ.setdefault("OMP_NUM_THREADS", "1")
    problem = cocoex.BareProblem("bbob", fid, dim, 1)
    best = [math.inf]

    def f(x):
        value = float(problem(np.asarray(x, dtype=float)))
        best[0] = min(best[0], value)
        return value

    start = time.perf_counter()
    if optimiser.startswith("tarvex"):
        run_tarvex(optimiser, f, dim, budget, seed)
    elif optimiser == "hyperopt TPE":
        run_hyperopt(f, dim, budget, seed)
    elif optimiser.startswith("nevergrad"):
        run_nevergrad(optimiser.split()[1], f, dim, budget, seed)
    elif optimiser == "cmaes IPOP":
        run_cmaes_ipop(f, dim, budget, seed)
    return task, best[0] - problem.best_value(), time.perf_counter() - start


def key(task):
    optimiser, fid, dim, budget, seed = task
    return f"{optimiser}|f{fid}|d{dim}|b{budget}|s{seed}"


def load():
    return json.loads(RESULTS.read_text()) if RESULTS.exists() else {}


def run(settings, seeds, workers, rerun, ours_only=False):
    results = load()
    tasks = []
    for setting in settings:
        dim, budget, ours, peers = SETTINGS[setting]
        for optimiser in ours + ([] if ours_only else peers):
            for fid in FUNCTIONS:
                for seed in range(1, seeds + 1):
                    task = (optimiser, fid, dim, budget, seed)
                    if key(task) not in results or optimiser in rerun:
                        tasks.append(task)
    tasks = list(dict.fromkeys(tasks))
    tasks.sort(key=lambda t: t[0] != "hyperopt TPE")  # the slowest first
    done = 0
    with multiprocessing.get_context("spawn").Pool(workers) as pool:
        for task, regret, seconds in pool.imap_unordered(job, tasks):
            results[key(task)] = {"regret": regret, "seconds": seconds}
            done += 1
            if done % 20 == 0 or done == len(tasks):
                RESULTS.parent.mkdir(exist_ok=True)
                RESULTS.write_text(json.dumps(results, indent=0, sort_keys=True))
                print(f"{done}/{len(tasks)} runs", file=sys.stderr, flush=True)
    return results


def median_regret(results, optimiser, fid, dim, budget, seeds):
    values = [results.get(key((optimiser, fid, dim, budget, s))) for s in range(1, seeds + 1)]
    values = [v["regret"] for v in values if v is not None]
    return statistics.median(values) if values else math.nan


def fmt(x):
    return f"{x:.2e}" if x != 0 and (abs(x) < 1e-2 or abs(x) >= 1e3) else f"{x:.3f}"


def at_or_below(a, b):
    """a's median at or below b's, with values this close to the optimum counted as equal."""
    return a <= b * (1 + 1e-9) or a < 1e-8


def report(results, setting, seeds):
    dim, budget, ours, peers = SETTINGS[setting]
    columns = ours + peers
    print(f"\n### bbob {dim}-D, {budget} evaluations, median regret over {seeds} seeds\n")
    print("| f | function | " + " | ".join(columns) + " |")
    print("|---|---|" + "---|" * len(columns))
    medians = {}
    for fid in FUNCTIONS:
        row = [median_regret(results, o, fid, dim, budget, seeds) for o in columns]
        medians[fid] = dict(zip(columns, row, strict=True))
        print(f"| {fid} | {NAMES[fid - 1]} | " + " | ".join(fmt(x) for x in row) + " |")
    print()
    for optimiser in ours:
        for peer in peers:
            wins = sum(at_or_below(medians[f][optimiser], medians[f][peer]) for f in FUNCTIONS)
            print(f"- {optimiser} at or below {peer} on {wins} of {len(FUNCTIONS)} functions")
    if "tarvex Auto" in ours:
        # AutoSampler variants added with --also are not among the samplers it is measured against.
        within = sum(
            medians[f]["tarvex Auto"] <= 2 * min(medians[f][o] for o in ours if not o.startswith("tarvex Auto")) + 1e-8
            for f in FUNCTIONS
        )
        every = sum(all(at_or_below(medians[f]["tarvex Auto"], medians[f][p]) for p in peers) for f in FUNCTIONS)
        print(f"- tarvex Auto within 2x of the best tarvex sampler on {within} of {len(FUNCTIONS)} functions")
        print(f"- tarvex Auto at or below every peer on {every} of {len(FUNCTIONS)} functions")
    counts = {
        o: sum(key((o, f, dim, budget, s)) in results for f in FUNCTIONS for s in range(1, seeds + 1)) for o in columns
    }
    if len(set(counts.values())) > 1:
        print("- seeds per function: " + ", ".join(f"{o} {n // len(FUNCTIONS)}" for o, n in counts.items()))
    for optimiser in columns:
        times = [
            results[key((optimiser, f, dim, budget, s))]["seconds"]
            for f in FUNCTIONS
            for s in range(1, seeds + 1)
            if key((optimiser, f, dim, budget, s)) in results
        ]
        if times:
            print(f"- {optimiser}: {statistics.median(times):.2f} s per run (median)")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("settings", nargs="+", choices=sorted(SETTINGS))
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--rerun", nargs="*", default=[], help="optimisers to run again (after a change)")
    parser.add_argument("--report-only", action="store_true")
    parser.add_argument("--also", nargs="*", default=[], help="more tarvex samplers, with options, to compare")
    parser.add_argument(
        "--ours-only", action="store_true", help="run the tarvex samplers alone (peers keep the seeds they have)"
    )
    args = parser.parse_args()
    for setting in args.settings:
        SETTINGS[setting][2].extend(args.also)
    results = (
        load() if args.report_only else run(args.settings, args.seeds, args.workers, set(args.rerun), args.ours_only)
    )
    for setting in args.settings:
        report(results, setting, args.seeds)


if __name__ == "__main__":
    main()
