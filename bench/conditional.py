"""Conditional spaces: a model choice, then that model's own parameters.

The synthetic problem has three branches; branch "c" holds the optimum (0). For each sampler and
seed it reports the best value after the budget, how many of the second half's trials went to the
best branch, and how many trials repeated a configuration already evaluated. hyperopt's TPE runs
the same problem through its own API when it is installed (the benchmark environment has it).

    python bench/conditional.py [--seeds 5] [--budget 60]
"""

from __future__ import annotations

import argparse
import math
import statistics

import tarvex as tv

OPTIMUM = 0.0


def branch_value(branch: str, p: dict) -> float:
    if branch == "a":
        return 1.0 + (p["a_x"] - 1) ** 2 / 10 + (p["a_y"] + 2) ** 2 / 10
    if branch == "b":
        return 0.5 + 0.3 * abs(p["b_n"] - 7) + (math.log10(p["b_lr"]) + 1) ** 2
    return 10 * (p["c_u"] - 0.3) ** 2 + {"p": 0.5, "q": 0.0, "r": 1.0}[p["c_k"]]


def tarvex_run(sampler: object, budget: int) -> list[tuple[str, tuple, float]]:
    runs = []

    def objective(trial: tv.Trial) -> float:
        branch = trial.suggest_categorical("branch", ["a", "b", "c"])
        if branch == "a":
            p = {"a_x": trial.suggest_float("a_x", -5, 5), "a_y": trial.suggest_float("a_y", -5, 5)}
        elif branch == "b":
            p = {"b_n": trial.suggest_int("b_n", 0, 10), "b_lr": trial.suggest_float("b_lr", 1e-3, 1, log=True)}
        else:
            p = {"c_u": trial.suggest_float("c_u", 0, 1), "c_k": trial.suggest_categorical("c_k", ["p", "q", "r"])}
        value = branch_value(branch, p)
        runs.append((branch, tuple(sorted(p.items())), value))
        return value

    study = tv.create_study(sampler=sampler)
    study.optimize(objective, n_trials=budget)
    return runs


def hyperopt_run(seed: int, budget: int) -> list[tuple[str, tuple, float]]:
    import numpy as np
    from hyperopt import Trials, fmin, hp, tpe

    space = hp.choice(
        "branch",
        [
            {"branch": "a", "a_x": hp.uniform("a_x", -5, 5), "a_y": hp.uniform("a_y", -5, 5)},
            {"branch": "b", "b_n": hp.quniform("b_n", -0.5, 10.5, 1), "b_lr": hp.loguniform("b_lr", math.log(1e-3), 0)},
            {"branch": "c", "c_u": hp.uniform("c_u", 0, 1), "c_k": hp.choice("c_k", ["p", "q", "r"])},
        ],
    )
    runs = []

    def objective(p: dict) -> float:
        p = dict(p)
        branch = p.pop("branch")
        if "b_n" in p:
            p["b_n"] = int(min(10, max(0, round(p["b_n"]))))
        value = branch_value(branch, p)
        runs.append((branch, tuple(sorted(p.items())), value))
        return value

    fmin(
        objective,
        space,
        algo=tpe.suggest,
        max_evals=budget,
        trials=Trials(),
        rstate=np.random.default_rng(seed),
        show_progressbar=False,
    )
    return runs


def summary(runs: list[tuple[str, tuple, float]]) -> tuple[float, int, int]:
    best = min(v for _, _, v in runs)
    later = sum(1 for b, _, _ in runs[len(runs) // 2 :] if b == "c")
    configs = [(b, p) for b, p, _ in runs]
    return best - OPTIMUM, later, len(configs) - len(set(configs))


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--budget", type=int, default=60)
    args = parser.parse_args()
    makers = {"GPSampler": lambda s: tv.GPSampler(seed=s), "RandomSampler": lambda s: tv.RandomSampler(seed=s)}
    for name in ("TPESampler",):
        if hasattr(tv, name):
            makers[name] = lambda s, n=name: getattr(tv, n)(seed=s)
    results: dict[str, list[tuple[float, int, int]]] = {}
    for name, make in makers.items():
        results[name] = [summary(tarvex_run(make(seed), args.budget)) for seed in range(args.seeds)]
    try:
        results["hyperopt TPE"] = [summary(hyperopt_run(seed, args.budget)) for seed in range(args.seeds)]
    except ImportError:
        pass
    print(
        f"{args.budget} trials, {args.seeds} seeds; regret of the best, trials of the second half in the best branch, repeats"
    )
    for name, rows in results.items():
        regrets = [r for r, _, _ in rows]
        solved = sum(r < 0.05 for r in regrets)
        print(
            f"{name:14s} median regret {statistics.median(regrets):.4f}  solved {solved}/{len(rows)}"
            f"  best-branch {[b for _, b, _ in rows]}  repeats {[d for _, _, d in rows]}"
        )


if __name__ == "__main__":
    main()
