"""Tuning a scikit-learn model by cross-validation: a gradient-boosted classifier on the breast
cancer data set, with GPSampler over a log-scaled learning rate, integer depths and a categorical
loss, and a table of the trials."""

from sklearn.datasets import load_breast_cancer
from sklearn.ensemble import HistGradientBoostingClassifier
from sklearn.model_selection import cross_val_score

import tarvex as tv

X, y = load_breast_cancer(return_X_y=True)


def objective(trial):
    model = HistGradientBoostingClassifier(
        learning_rate=trial.suggest_float("learning_rate", 1e-3, 1.0, log=True),
        max_depth=trial.suggest_int("max_depth", 2, 8),
        max_leaf_nodes=trial.suggest_int("max_leaf_nodes", 4, 64, log=True),
        l2_regularization=trial.suggest_float("l2_regularization", 0.0, 1.0),
        max_iter=50,
        random_state=0,
    )
    return cross_val_score(model, X, y, cv=3, scoring="accuracy").mean()


study = tv.create_study(direction="maximize", sampler=tv.GPSampler(seed=2))
study.optimize(objective, n_trials=20)
print(f"best cross-validated accuracy {study.best_value:.4f} with {study.best_params}")
print(study.to_dataframe()[["number", "value", "params_learning_rate", "params_max_depth"]].tail(5).to_string())
