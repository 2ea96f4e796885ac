"""Bayesian optimisation of the Branin function (three global minima, value 0.397887) with
GPSampler, next to random search at the same budget."""

import math

import tarvex as tv

OPTIMUM = 0.397887357729738


def branin(trial):
    x = trial.suggest_float("x", -5.0, 10.0)
    y = trial.suggest_float("y", 0.0, 15.0)
    b, c, t = 5.1 / (4 * math.pi**2), 5 / math.pi, 1 / (8 * math.pi)
    return (y - b * x * x + c * x - 6) ** 2 + 10 * (1 - t) * math.cos(x) + 10


for sampler in (tv.GPSampler(seed=1), tv.RandomSampler(seed=1)):
    study = tv.create_study(sampler=sampler)
    study.optimize(branin, n_trials=40)
    best = study.best_trial
    print(
        f"{type(sampler).__name__:>13}: best value {best.value:.5f} at x = {best.params['x']:.4f}, "
        f"y = {best.params['y']:.4f} (known optimum {OPTIMUM:.5f})"
    )
