"""A model choice on load_digits: SVC, random forest or logistic regression, then that model's own
parameters; 3-fold cross-validated accuracy, 40 trials. For each sampler and seed: whether the
best branch's optimum was reached (within 0.003 of the best accuracy a dense grid of that branch
finds), how many of trials 20-39 went to that branch, and how many configurations were evaluated
more than once. hyperopt's TPE runs the same space through its own API.

    .venv-bench/bin/python bench/model_choice.py [--seeds 5] [--budget 40]
"""

from __future__ import annotations

import argparse
import functools
import logging
import math
import statistics

import numpy as np
from sklearn.datasets import load_digits
from sklearn.ensemble import RandomForestClassifier
from sklearn.linear_model import LogisticRegression
from sklearn.model_selection import cross_val_score
from sklearn.svm import SVC

import tarvex as tv

TOLERANCE = 0.003


@functools.cache
def data():
    return load_digits(return_X_y=True)


@functools.cache
def accuracy(model: str, params: tuple) -> float:
    p = dict(params)
    if model == "svc":
        estimator = SVC(C=p["svc_c"], gamma=p["svc_gamma"])
    elif model == "forest":
        estimator = RandomForestClassifier(
            n_estimators=p["rf_trees"], max_depth=p["rf_depth"], random_state=0, n_jobs=1
        )
    else:
        estimator = LogisticRegression(C=p["lr_c"], max_iter=300)
    X, y = data()
    return float(cross_val_score(estimator, X / 16.0, y, cv=3).mean())


def best_branch_optimum() -> float:
    """The best accuracy of the SVC branch over a dense log grid (the best branch on these data)."""
    return max(
        accuracy("svc", (("svc_c", c), ("svc_gamma", g)))
        for c in np.logspace(-2, 3, 11)
        for g in np.logspace(-4, 0, 13)
    )


def tarvex_run(sampler, budget):
    runs = []

    def objective(trial):
        model = trial.suggest_categorical("model", ["svc", "forest", "logistic"])
        if model == "svc":
            p = {
                "svc_c": trial.suggest_float("svc_c", 1e-2, 1e3, log=True),
                "svc_gamma": trial.suggest_float("svc_gamma", 1e-4, 1.0, log=True),
            }
        elif model == "forest":
            p = {
                "rf_trees": trial.suggest_int("rf_trees", 10, 200, log=True),
                "rf_depth": trial.suggest_int("rf_depth", 2, 20),
            }
        else:
            p = {"lr_c": trial.suggest_float("lr_c", 1e-3, 1e2, log=True)}
        key = tuple(sorted(p.items()))
        runs.append((model, key))
        return accuracy(model, key)

    study = tv.create_study(direction="maximize", sampler=sampler)
    study.optimize(objective, n_trials=budget)
    return runs, study.best_value


def hyperopt_run(seed, budget):
    from hyperopt import Trials, fmin, hp, tpe

    space = hp.choice(
        "model",
        [
            {
                "model": "svc",
                "svc_c": hp.loguniform("svc_c", math.log(1e-2), math.log(1e3)),
                "svc_gamma": hp.loguniform("svc_gamma", math.log(1e-4), 0.0),
            },
            {
                "model": "forest",
                "rf_trees": hp.qloguniform("rf_trees", math.log(10), math.log(200), 1),
                "rf_depth": hp.quniform("rf_depth", 2, 20, 1),
            },
            {"model": "logistic", "lr_c": hp.loguniform("lr_c", math.log(1e-3), math.log(1e2))},
        ],
    )
    runs, best = [], [0.0]

    def objective(p):
        p = dict(p)
        model = p.pop("model")
        if model == "forest":
            p = {"rf_trees": int(p["rf_trees"]), "rf_depth": int(p["rf_depth"])}
        key = tuple(sorted(p.items()))
        runs.append((model, key))
        value = accuracy(model, key)
        best[0] = max(best[0], value)
        return -value

    fmin(
        objective,
        space,
        algo=tpe.suggest,
        max_evals=budget,
        trials=Trials(),
        rstate=np.random.default_rng(seed),
        show_progressbar=False,
    )
    return runs, best[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--budget", type=int, default=40)
    args = parser.parse_args()
    logging.getLogger("tarvex").setLevel(logging.WARNING)
    logging.getLogger("hyperopt").setLevel(logging.WARNING)
    optimum = best_branch_optimum()
    samplers = {
        "GPSampler": lambda s: tv.GPSampler(seed=s),
        "TPESampler": lambda s: tv.TPESampler(seed=s),
        "AutoSampler": lambda s: tv.AutoSampler(seed=s),
        "RandomSampler": lambda s: tv.RandomSampler(seed=s),
    }
    print(
        f"load_digits model choice, {args.budget} trials, {args.seeds} seeds; best SVC accuracy on a grid {optimum:.4f}"
    )
    rows = {
        name: [tarvex_run(make(seed), args.budget) for seed in range(1, args.seeds + 1)]
        for name, make in samplers.items()
    }
    rows["hyperopt TPE"] = [hyperopt_run(seed, args.budget) for seed in range(1, args.seeds + 1)]
    for name, results in rows.items():
        reached = sum(best >= optimum - TOLERANCE for _, best in results)
        later = [sum(m == "svc" for m, _ in runs[20:40]) for runs, _ in results]
        repeats = [len(runs) - len(set(runs)) for runs, _ in results]
        print(
            f"{name:14s} reached {reached}/{len(results)}  median best {statistics.median(b for _, b in results):.4f}"
            f"  trials 20-39 in SVC {later}  repeats {repeats}"
        )


if __name__ == "__main__":
    main()
