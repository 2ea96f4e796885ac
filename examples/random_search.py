"""Random search on a shifted sphere whose minimum, 0, lies at x = 1.5, y = -2, n = 3."""

import tarvex as tv


def objective(trial):
    x = trial.suggest_float("x", -5.0, 5.0)
    y = trial.suggest_float("y", -5.0, 5.0)
    n = trial.suggest_int("n", 0, 10)
    return (x - 1.5) ** 2 + (y + 2.0) ** 2 + (n - 3) ** 2


study = tv.create_study(direction="minimize", sampler=tv.RandomSampler(seed=42))
study.optimize(objective, n_trials=2000)
best = study.best_trial
print(f"trials: {len(study.trials)}")
print(f"best trial {best.number}: value {best.value:.6f}")
for name, optimum in (("x", 1.5), ("y", -2), ("n", 3)):
    print(f"  {name} = {best.params[name]} (optimum {optimum})")
