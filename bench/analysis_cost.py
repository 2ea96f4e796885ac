"""What looking at a study costs: parameter importances, every plot and the HTML report for a study
of 1,000 trials with five parameters of every kind (best of 3 runs each)."""

import math
import tempfile
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import tarvex as tv  # noqa: E402
from tarvex import visualization as vis  # noqa: E402
from tarvex.importance import param_importances  # noqa: E402


def objective(trial):
    lr = trial.suggest_float("lr", 1e-5, 1.0, log=True)
    x = trial.suggest_float("x", -1.0, 1.0)
    width = trial.suggest_int("width", 16, 512, log=True)
    depth = trial.suggest_int("depth", 1, 8)
    act = trial.suggest_categorical("act", ["relu", "gelu", "tanh"])
    for step in range(5):
        trial.report(x * x + 1.0 / (step + 1), step)
    return (math.log10(lr) + 3) ** 2 + x * x + abs(math.log2(width / 128)) / 4 + depth / 8 + (act == "tanh")


def best_of(action, runs=3):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
        plt.close("all")
    return min(times)


def main():
    study = tv.create_study(sampler=tv.RandomSampler(seed=1))
    study.optimize(objective, n_trials=1000)
    param_importances(study)  # imports scikit-learn once, outside the timing
    print(f"param_importances, 1000 trials x 5 parameters: {best_of(lambda: param_importances(study)):.2f} s")
    for plot in (
        vis.plot_optimization_history,
        vis.plot_intermediate_values,
        vis.plot_parallel_coordinate,
        vis.plot_slice,
        vis.plot_contour,
        vis.plot_param_importances,
        vis.plot_timeline,
    ):
        print(f"{plot.__name__}: {best_of(lambda: plot(study)):.2f} s")
    with tempfile.TemporaryDirectory() as scratch:
        path = Path(scratch, "report.html")
        print(f"report: {best_of(lambda: study.report(str(path))):.2f} s, {path.stat().st_size / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
