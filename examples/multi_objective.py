"""A multi-objective study with a constraint: a model's error against its size, within a latency
budget. No configuration is best at both, so the result is the Pareto front of the feasible
trials: those that meet the budget and that no other such trial beats on both counts."""

import math

import tarvex as tv


def objective(trial):
    width = trial.suggest_int("width", 4, 512, log=True)
    depth = trial.suggest_int("depth", 1, 6)
    dropout = trial.suggest_float("dropout", 0.0, 0.5)
    parameters = depth * width * width
    error = 1.0 / math.log2(parameters + 2) + (dropout - 0.2) ** 2
    trial.set_user_attr("latency_ms", 0.5 + depth * width / 40)
    return error, parameters


study = tv.create_study(
    directions=["minimize", "minimize"],
    objective_names=["error", "parameters"],
    sampler=tv.NSGA2Sampler(population_size=30, seed=4),
    constraints=lambda trial: [trial.user_attrs["latency_ms"] - 20],  # at most 20 ms
)
study.optimize(objective, n_trials=600)
front = sorted(study.best_trials, key=lambda t: t.values[1])
feasible = sum(t.feasible for t in study.trials)
print(f"best trials: {len(front)} on the Pareto front; {feasible} of {len(study.trials)} trials within 20 ms")
for trial in front[:: max(1, len(front) // 6)]:
    error, size = trial.values
    print(f"  error {error:.4f} with {size:>9.0f} parameters, {trial.user_attrs['latency_ms']:.1f} ms: {trial.params}")
largest = max(t.values[1] for t in front)
volume = tv.hypervolume([t.values for t in front], [1.0, largest])
print(f"hypervolume of the front (error up to 1, up to {largest:.0f} parameters): {volume:.0f}")
