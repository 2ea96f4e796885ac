"""An iterative training loop that reports its validation loss every epoch and stops when the
pruner says so: scikit-learn's SGDClassifier, one partial_fit per epoch, on the digits data set.
Runs the same search with no pruner and with successive halving, and counts the epochs saved."""

import numpy as np
from sklearn.datasets import load_digits
from sklearn.linear_model import SGDClassifier
from sklearn.model_selection import train_test_split

import tarvex as tv

EPOCHS = 27
X, y = load_digits(return_X_y=True)
X_train, X_valid, y_train, y_valid = train_test_split(X / 16.0, y, test_size=0.3, random_state=0)
CLASSES = np.unique(y)


def make_objective(epochs_run):
    def objective(trial):
        model = SGDClassifier(
            alpha=trial.suggest_float("alpha", 1e-6, 1e-1, log=True),
            eta0=trial.suggest_float("eta0", 1e-4, 1.0, log=True),
            learning_rate=trial.suggest_categorical("schedule", ["constant", "invscaling", "adaptive"]),
            random_state=0,
        )
        accuracy = 0.0
        for epoch in range(1, EPOCHS + 1):
            model.partial_fit(X_train, y_train, classes=CLASSES)
            accuracy = model.score(X_valid, y_valid)
            epochs_run.append(epoch)
            trial.report(accuracy, epoch)
            if trial.should_prune():
                raise tv.TrialPruned()
        return accuracy

    return objective


for name, pruner in (("no pruning", None), ("HyperbandPruner", tv.HyperbandPruner(max_resource=EPOCHS))):
    epochs_run = []
    study = tv.create_study(direction="maximize", sampler=tv.RandomSampler(seed=3), pruner=pruner)
    study.optimize(make_objective(epochs_run), n_trials=30)
    pruned = len(study.get_trials(states=tv.TrialState.Pruned))
    print(
        f"{name:>16}: best accuracy {study.best_value:.3f}, {pruned} of 30 trials pruned, "
        f"{len(epochs_run)} of {30 * EPOCHS} epochs run"
    )
