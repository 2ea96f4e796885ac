"""Looking at a study: plots saved as images, parameter importances, an HTML report, and the
tarvex command on the stored study. Needs the extras: pip install 'tarvex[all]'.

Afterwards, from a shell in the same directory:
    tarvex studies --storage sqlite:///analysis.db
    tarvex trials --storage sqlite:///analysis.db --study mlp --format csv
    tarvex report --storage sqlite:///analysis.db --study mlp --out mlp.html"""

import math

import matplotlib

matplotlib.use("Agg")  # images to files, no window

import tarvex as tv  # noqa: E402
from tarvex import visualization as vis  # noqa: E402
from tarvex.importance import param_importances  # noqa: E402


def objective(trial):
    """A stand-in for training a network: the loss falls over epochs, fastest near lr = 3e-3."""
    lr = trial.suggest_float("lr", 1e-5, 1.0, log=True)
    width = trial.suggest_int("width", 16, 512, log=True)
    activation = trial.suggest_categorical("activation", ["relu", "gelu", "tanh"])
    dropout = trial.suggest_float("dropout", 0.0, 0.5)
    floor = 0.1 * (math.log10(lr) + 2.5) ** 2 + {"relu": 0.05, "gelu": 0.0, "tanh": 0.2}[activation]
    floor += 0.02 * abs(math.log2(width / 128)) + 0.01 * dropout
    loss = 1.0
    for epoch in range(10):
        loss = floor + (1.0 - floor) * math.exp(-0.4 * (epoch + 1))
        trial.report(loss, epoch)
        if trial.should_prune():
            raise tv.TrialPruned()
    return loss


study = tv.create_study(
    storage="sqlite:///analysis.db",
    study_name="mlp",
    load_if_exists=True,
    sampler=tv.GPSampler(seed=3),
    pruner=tv.MedianPruner(n_startup_trials=5),
)
study.optimize(objective, n_trials=40)
print(f"best loss {study.best_value:.4f} with {study.best_params}")

for name, shares in param_importances(study).items():
    print(f"  importance of {name:<10} {shares:.2f}")

vis.plot_optimization_history(study).figure.savefig("history.png")
vis.plot_intermediate_values(study).figure.savefig("curves.png")
vis.plot_contour(study, params=["lr", "width"]).savefig("contour.png")
study.report("mlp.html")
print("wrote history.png, curves.png, contour.png and mlp.html")
