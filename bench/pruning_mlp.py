"""Pruning an iterative model: an MLP trained epoch by epoch (partial_fit) on load_digits, the
validation accuracy reported after each epoch. A study with MedianPruner gets as many epochs in
total as 30 unpruned trials of 20 epochs; its best completed accuracy is set against the unpruned
study's, per sampler, median over seeds.

    .venv-bench/bin/python bench/pruning_mlp.py [--seeds 5]
"""

from __future__ import annotations

import argparse
import functools
import logging
import statistics
import warnings

import numpy as np
from sklearn.datasets import load_digits
from sklearn.exceptions import ConvergenceWarning
from sklearn.model_selection import train_test_split
from sklearn.neural_network import MLPClassifier

import tarvex as tv

EPOCHS = 20
UNPRUNED_TRIALS = 30


@functools.cache
def split():
    X, y = load_digits(return_X_y=True)
    return train_test_split(X / 16.0, y, test_size=0.3, random_state=0)


def make_objective(budget):
    X_train, X_val, y_train, y_val = split()
    classes = np.unique(y_train)

    def objective(trial):
        model = MLPClassifier(
            hidden_layer_sizes=(trial.suggest_int("hidden", 8, 256, log=True),),
            learning_rate_init=trial.suggest_float("lr", 1e-5, 1e-1, log=True),
            alpha=trial.suggest_float("alpha", 1e-6, 1e-1, log=True),
            batch_size=trial.suggest_int("batch", 16, 256, log=True),
            random_state=trial.number,
        )
        accuracy = 0.0
        for epoch in range(EPOCHS):
            if budget[0] <= 0:
                raise tv.TrialPruned()  # the epoch budget is spent
            budget[0] -= 1
            model.partial_fit(X_train, y_train, classes=classes)
            accuracy = model.score(X_val, y_val)
            trial.report(accuracy, epoch)
            if trial.should_prune():
                raise tv.TrialPruned()
        return accuracy

    return objective


def run(make_sampler, seed, pruned):
    budget = [EPOCHS * UNPRUNED_TRIALS]
    pruner = tv.MedianPruner(n_startup_trials=5, n_warmup_steps=3) if pruned else None
    study = tv.create_study(direction="maximize", sampler=make_sampler(seed), pruner=pruner)
    objective = make_objective(budget)
    while budget[0] > 0:
        study.optimize(objective, n_trials=1)
    complete = [t for t in study.trials if t.state == tv.TrialState.Complete]
    return max(t.value for t in complete), len(study.trials)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seeds", type=int, default=5)
    args = parser.parse_args()
    logging.getLogger("tarvex").setLevel(logging.WARNING)
    warnings.filterwarnings("ignore", category=ConvergenceWarning)
    samplers = {"GPSampler": lambda s: tv.GPSampler(seed=s), "TPESampler": lambda s: tv.TPESampler(seed=s)}
    print(f"MLP on load_digits, {EPOCHS} epochs a trial, {EPOCHS * UNPRUNED_TRIALS} epochs a study, {args.seeds} seeds")
    for name, make in samplers.items():
        plain = [run(make, seed, False) for seed in range(1, args.seeds + 1)]
        pruned = [run(make, seed, True) for seed in range(1, args.seeds + 1)]
        print(
            f"{name:11s} unpruned median best {statistics.median(a for a, _ in plain):.4f} ({UNPRUNED_TRIALS} trials)"
            f"  pruned median best {statistics.median(a for a, _ in pruned):.4f}"
            f" ({statistics.median(n for _, n in pruned):.0f} trials)"
            f"  per seed {[round(a, 4) for a, _ in plain]} vs {[round(a, 4) for a, _ in pruned]}"
        )


if __name__ == "__main__":
    main()
