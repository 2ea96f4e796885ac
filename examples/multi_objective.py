"""A multi-objective study: a model's error against its size. No configuration is best at both,
so the result is the Pareto front: the trials that no other trial beats on both counts."""

import math

import tarvex as tv


def objective(trial):
    width = trial.suggest_int("width", 4, 512, log=True)
    depth = trial.suggest_int("depth", 1, 6)
    dropout = trial.suggest_float("dropout", 0.0, 0.5)
    parameters = depth * width * width
    error = 1.0 / math.log2(parameters + 2) + (dropout - 0.2) ** 2
    return error, parameters


study = tv.create_study(directions=["minimize", "minimize"], sampler=tv.RandomSampler(seed=4))
study.optimize(objective, n_trials=300)
front = sorted(study.best_trials, key=lambda t: t.values[1])
print(f"best trials: {len(front)} on the Pareto front of {len(study.trials)}")
for trial in front[:: max(1, len(front) // 6)]:
    error, size = trial.values
    print(f"  error {error:.4f} with {size:>9.0f} parameters: {trial.params}")
