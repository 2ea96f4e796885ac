"""tarvex next to scikit-optimize and hyperopt on this machine, in one run: optimisation quality
on test problems with known optima, loop overhead, and the time to propose a point.

Writes docs/benchmarks.md and docs/img/*.png. Run through bench/run_peers.sh, which makes the
virtual environment with the peers."""

import argparse
import datetime
import math
import multiprocessing
import os
import platform
import statistics
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import peer_problems as pp  # noqa: E402
from python_overhead import bare_loop, module_loop, package_loop  # noqa: E402
from python_overhead import objective as trivial

BUDGETS = (50, 100)
FLOOR = 1e-8  # log-scale plots need a positive regret


def quality_job(job):
    optimiser, problem_index, seed, budget = job
    problem = pp.PROBLEMS[problem_index]
    start = time.perf_counter()
    values = pp.run(optimiser, problem, budget, seed)
    best = np.minimum.accumulate(np.asarray(values, dtype=float))
    return optimiser, problem_index, seed, best - problem.optimum, time.perf_counter() - start


def run_quality(seeds, budget, workers):
    jobs = [(o, p, s, budget) for o in pp.OPTIMISERS for p in range(len(pp.PROBLEMS)) for s in range(1, seeds + 1)]
    # Seeds start at 1: tarvex's seed 0 means "draw one from the random device".
    # Slowest optimiser first so the pool does not end on one long job.
    jobs.sort(key=lambda j: j[0] != "skopt gp_minimize")
    traces, seconds = {}, {}
    with multiprocessing.get_context("spawn").Pool(workers) as pool:
        for optimiser, problem, _seed, regret, elapsed in pool.imap_unordered(quality_job, jobs):
            traces.setdefault((optimiser, problem), []).append(regret)
            seconds[optimiser] = seconds.get(optimiser, 0.0) + elapsed
    return traces, seconds


def quartiles(xs):
    q1, q2, q3 = np.percentile(xs, [25, 50, 75])
    return q1, q2, q3


def fmt(x):
    return f"{x:.2e}" if x != 0 and (abs(x) < 1e-2 or abs(x) >= 1e3) else f"{x:.3f}"


def quality_table(traces, budget):
    header = "| Problem | " + " | ".join(pp.OPTIMISERS) + " |"
    lines = [header, "|" + "---|" * (len(pp.OPTIMISERS) + 1)]
    wins = dict.fromkeys(pp.OPTIMISERS, 0)
    for p, problem in enumerate(pp.PROBLEMS):
        stats = {o: quartiles([t[budget - 1] for t in traces[(o, p)]]) for o in pp.OPTIMISERS}
        best = min(s[1] for s in stats.values())
        cells = []
        for o in pp.OPTIMISERS:
            q1, q2, q3 = stats[o]
            cell = f"{fmt(q2)} [{fmt(q1)}, {fmt(q3)}]"
            if q2 == best:
                wins[o] += 1
                cell = f"**{cell}**"
            cells.append(cell)
        lines.append(f"| {problem.name} | " + " | ".join(cells) + " |")
    lines.append("| **wins** | " + " | ".join(str(wins[o]) for o in pp.OPTIMISERS) + " |")
    return "\n".join(lines), wins


def plot(traces, out_dir, budget):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    out_dir.mkdir(parents=True, exist_ok=True)
    names = []
    for p, problem in enumerate(pp.PROBLEMS):
        fig, ax = plt.subplots(figsize=(6, 4))
        for o in pp.OPTIMISERS:
            median = np.median(np.maximum(np.vstack(traces[(o, p)]), FLOOR), axis=0)
            ax.plot(np.arange(1, budget + 1), median, label=o)
        ax.set_yscale("log")
        ax.set_xlabel("evaluations")
        ax.set_ylabel("median best-so-far regret")
        ax.set_title(problem.name)
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
        fig.tight_layout()
        name = "convergence_" + "".join(c if c.isalnum() else "_" for c in problem.name.lower()).strip("_") + ".png"
        fig.savefig(out_dir / name, dpi=90)
        plt.close(fig)
        names.append((problem.name, name))
    return names


def per_trial_us(run, n, repeats=3):
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        run(n)
        best = min(best, (time.perf_counter() - start) * 1e6 / n)
    return best


def loop_overhead():
    from hyperopt import Trials, fmin, hp, rand

    def hyperopt_loop(n):
        fmin(
            lambda p: trivial(_Fixed(p["x"])),
            {"x": hp.uniform("x", -10.0, 10.0)},
            algo=rand.suggest,
            max_evals=n,
            trials=Trials(),
            rstate=np.random.default_rng(1),
            show_progressbar=False,
        )

    return {
        "tarvex RandomSampler (package)": per_trial_us(package_loop, 20_000),
        "_tarvex RandomSampler (compiled module)": per_trial_us(module_loop, 20_000),
        "hyperopt rand.suggest": per_trial_us(hyperopt_loop, 1_000),
        "bare Python loop": per_trial_us(bare_loop, 20_000),
    }


class _Fixed:
    """hyperopt proposes before it calls: a trial that hands back the proposed value."""

    def __init__(self, x):
        self.x = x

    def suggest_float(self, name, low, high):
        return self.x


def hartmann6_point(rng):
    x = rng.random(6)
    return x, pp.hartmann(x, pp.HARTMANN6_A, pp.HARTMANN6_P)


def propose_tarvex(n_obs, repeats):
    import _tarvex as tv

    def objective(trial):
        return pp.hartmann([trial.suggest_float(f"x{i}", 0.0, 1.0) for i in range(6)], pp.HARTMANN6_A, pp.HARTMANN6_P)

    rng = np.random.default_rng(n_obs)
    study = tv.Study(tv.StudyDirection.Minimize, tv.GPSampler(seed=1, **pp.BETTER_GP_DEFAULTS))
    study.optimize(objective, n_trials=1)  # a sampled trial records the search space
    for _ in range(n_obs - 1):
        x, y = hartmann6_point(rng)
        study.add_trial({f"x{i}": float(v) for i, v in enumerate(x)}, [y])
    times = []
    for _ in range(repeats):  # each call fits on one more observation and proposes one point
        start = time.perf_counter()
        study.optimize(objective, n_trials=1)
        times.append(time.perf_counter() - start)
    return statistics.median(times) * 1e3


def propose_skopt(n_obs, repeats):
    from skopt import Optimizer
    from skopt.utils import cook_estimator

    # The optimiser gp_minimize builds with its defaults.
    space = [(0.0, 1.0)] * 6
    rng = np.random.default_rng(n_obs)
    times = []
    for r in range(repeats):
        opt = Optimizer(
            space,
            cook_estimator("GP", space=space, random_state=r, noise="gaussian"),
            n_initial_points=10,
            acq_func="gp_hedge",
            acq_optimizer="lbfgs",
            random_state=r,
            acq_optimizer_kwargs={"n_points": 10000, "n_restarts_optimizer": 5, "n_jobs": 1},
            acq_func_kwargs={"xi": 0.01, "kappa": 1.96},
        )
        points = [hartmann6_point(rng) for _ in range(n_obs)]
        opt.tell([list(x) for x, _ in points[:-1]], [y for _, y in points[:-1]])
        x, y = points[-1]
        start = time.perf_counter()  # telling fits the model and optimises the acquisition
        opt.tell(list(x), y)
        opt.ask()
        times.append(time.perf_counter() - start)
    return statistics.median(times) * 1e3


def render(args, traces, seconds, overhead, propose, plots, elapsed):
    today = datetime.date.today().isoformat()
    cpu = platform.processor() or platform.machine()
    out = [
        "# Benchmarks",
        "",
        f"Measured on {today} on this project's build machine: {os.cpu_count()} cores ({cpu}), "
        f"Python {platform.python_version()}, one run of `bash bench/run_peers.sh` ({elapsed / 60:.1f} min). "
        "Peers: scikit-optimize, hyperopt (versions pinned in `bench/requirements-bench.txt`).",
        "",
        "## Optimisation quality",
        "",
        f"Simple regret (best value found minus the known optimum; lower is better), median and "
        f"[25th, 75th percentile] over {args.seeds} seeds, each optimiser with its defaults. "
        f"The {BUDGETS[0]}-evaluation figures are the first {BUDGETS[0]} evaluations of the "
        f"{BUDGETS[-1]}-evaluation runs: none of these optimisers changes its behaviour with the budget, "
        "so a shorter run with the same seed makes the same evaluations. Best median in bold; "
        '"wins" counts the problems where an optimiser has the best median.',
        "",
        '"tarvex GPSampler" runs with the defaults the public package gives it (improvement margin xi = 0, '
        'noise variance 1e-6); "module defaults" is `_tarvex.GPSampler()` as the compiled module defines it '
        "(xi = 0.003, noise variance 1e-4).",
        "",
        "The mixed problem tunes a stand-in for a network: learning rate on a log scale in [1e-5, 1], "
        "integer depth 1..8, activation from {relu, tanh, sigmoid}, dropout in [0, 0.6]; see `training_loss` "
        "in `bench/peer_problems.py`.",
        "",
    ]
    for budget in BUDGETS:
        table, _ = quality_table(traces, budget)
        out += [f"### {budget} evaluations", "", table, ""]
    out += [
        "Wall time per optimisation run, mean over all problems and seeds "
        f"({args.workers} runs in parallel, one thread each):",
        "",
    ]
    runs = len(pp.PROBLEMS) * args.seeds
    out += [f"- {o}: {seconds[o] / runs:.2f} s" for o in pp.OPTIMISERS]
    out += [
        "",
        "### Convergence",
        "",
        f"Median best-so-far regret against evaluations, log scale (regret floored at {FLOOR:g}).",
        "",
    ]
    out += [f"![{name}](img/{file})" for name, file in plots]
    out += [
        "",
        "## Overhead",
        "",
        "### Loop overhead per trial, trivial objective",
        "",
        "| Loop | µs per trial | ratio to bare loop |",
        "|---|---|---|",
    ]
    bare = overhead["bare Python loop"]
    out += [f"| {k} | {v:.2f} | {v / bare:.1f}× |" for k, v in overhead.items()]
    out += [
        "",
        "The bare loop: a minimal trial whose `suggest_float` draws a uniform number and records it in a "
        "dict, the same objective, and the (params, value) pair appended to a list (`bench/python_overhead.py`). "
        "Best of three runs of 20,000 trials (1,000 for hyperopt).",
        "",
        "### Time to propose one point, 6-D (Hartmann-6 observations)",
        "",
        "| Observations | tarvex GPSampler (ms) | skopt gp_minimize's optimiser (ms) | skopt / tarvex |",
        "|---|---|---|---|",
    ]
    for n, (t, s) in propose.items():
        out.append(f"| {n} | {t:.1f} | {s:.1f} | {s / t:.1f}× |")
    out += [
        "",
        "tarvex: one trial of a study holding the observations (model fit and acquisition search). "
        "scikit-optimize: `Optimizer.tell` of the last observation then `ask`, with the settings "
        "`gp_minimize` uses by default (fitting and acquisition search happen in `tell`). Median of "
        f"{args.repeats} proposals.",
        "",
    ]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seeds", type=int, default=10)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent.parent / "docs")
    args = parser.parse_args()

    start = time.perf_counter()
    traces, seconds = run_quality(args.seeds, BUDGETS[-1], args.workers)
    plots = plot(traces, args.out / "img", BUDGETS[-1])
    overhead = loop_overhead()
    propose = {n: (propose_tarvex(n, args.repeats), propose_skopt(n, args.repeats)) for n in (50, 100, 200)}
    report = render(args, traces, seconds, overhead, propose, plots, time.perf_counter() - start)
    path = args.out / "benchmarks.md"
    path.write_text(report + kept_sections(path, report))
    print(report)


def kept_sections(path, report):
    """The sections of the existing page this run does not write (other benchmarks' figures)."""
    if not path.exists():
        return ""
    ours = {line for line in report.splitlines() if line.startswith("## ")}
    kept, keep = [], False
    for line in path.read_text().splitlines():
        if line.startswith("## "):
            keep = line not in ours
        if keep:
            kept.append(line)
    return "\n" + "\n".join(kept) + "\n" if kept else ""


if __name__ == "__main__":
    main()
