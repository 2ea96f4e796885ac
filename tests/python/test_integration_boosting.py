"""The LightGBM and XGBoost pruning callbacks, with the real libraries."""

import copy

import lightgbm as lgb
import pytest
import xgboost as xgb
from sklearn.datasets import load_breast_cancer

import tarvex as tv
from tarvex.integration import LightGBMCallback, XGBoostCallback

X, Y = load_breast_cancer(return_X_y=True)
TRAIN, VALID = slice(0, 400), slice(400, None)
S = tv.TrialState


def lgb_sets():
    train = lgb.Dataset(X[TRAIN], Y[TRAIN], free_raw_data=False)
    return train, lgb.Dataset(X[VALID], Y[VALID], reference=train, free_raw_data=False)


def boosting_study(objective, direction):
    """Trials whose learning rate the objective reads; the first two are good, the rest hopeless."""
    study = tv.create_study(direction=direction, pruner=tv.MedianPruner(n_startup_trials=2, n_warmup_steps=3))
    for rate in (0.3, 0.3, 1e-6, 1e-6):
        study.enqueue_trial({"rate": rate})
    study.optimize(lambda trial: objective(trial, trial.suggest_float("rate", 1e-6, 1.0, log=True)), n_trials=4)
    return study


@pytest.mark.parametrize("metric,direction", [("binary_logloss", "minimize"), ("auc", "maximize")])
def test_lightgbm_train_prunes_hopeless_runs_either_direction(metric, direction):
    def objective(trial, rate):
        train, valid = lgb_sets()
        params = {"objective": "binary", "metric": metric, "learning_rate": rate, "verbose": -1, "seed": 0}
        booster = lgb.train(
            params,
            train,
            30,
            valid_sets=[train, valid],
            valid_names=["training", "valid"],
            callbacks=[LightGBMCallback(trial, metric)],
        )
        return booster.best_score["valid"][metric]

    trials = boosting_study(objective, direction).trials
    assert [t.state for t in trials] == [S.Complete, S.Complete, S.Pruned, S.Pruned]
    assert len(trials[0].intermediate_values) == 30 and len(trials[2].intermediate_values) < 30
    # The validation set's metric, not the training set's, as LightGBM logs it.
    assert trials[0].intermediate_values[-1][1] == pytest.approx(trials[0].value)


@pytest.mark.filterwarnings("ignore:The argument 'eval_set' is deprecated")  # its replacement is new in 4.7
def test_lightgbm_with_early_stopping_cv_and_the_sklearn_wrapper():
    def objective(trial, rate):
        train, valid = lgb_sets()
        params = {"objective": "binary", "metric": "binary_logloss", "learning_rate": rate, "verbose": -1}
        booster = lgb.train(
            params,
            train,
            200,
            valid_sets=[valid],
            valid_names=["holdout"],
            callbacks=[lgb.early_stopping(5, verbose=False), LightGBMCallback(trial, "binary_logloss", "holdout")],
        )
        return booster.best_score["holdout"]["binary_logloss"]

    trials = boosting_study(objective, "minimize").trials
    assert trials[0].state == S.Complete and len(trials[0].intermediate_values) < 200  # stopped early
    assert trials[2].state == S.Pruned

    study = tv.create_study(direction="minimize")
    in_cv, in_wrapper = study.ask(), study.ask()
    lgb.cv(
        {"objective": "binary", "metric": "binary_logloss", "verbose": -1},
        lgb_sets()[0],
        5,
        nfold=3,
        callbacks=[LightGBMCallback(in_cv, "binary_logloss")],
    )
    model = lgb.LGBMClassifier(n_estimators=5, verbose=-1)
    model.fit(
        X[TRAIN], Y[TRAIN], eval_set=[(X[VALID], Y[VALID])], callbacks=[LightGBMCallback(in_wrapper, "binary_logloss")]
    )
    for trial in (in_cv, in_wrapper):
        study.tell(trial, 0.1)
    assert [[step for step, _ in t.intermediate_values] for t in study.trials] == [list(range(5))] * 2


def test_xgboost_train_and_classifier_prune_and_stop_early():
    def objective(trial, rate):
        dtrain, dvalid = xgb.DMatrix(X[TRAIN], Y[TRAIN]), xgb.DMatrix(X[VALID], Y[VALID])
        params = {"objective": "binary:logistic", "eval_metric": "logloss", "eta": rate, "seed": 0}
        log = {}
        xgb.train(
            params,
            dtrain,
            30,
            evals=[(dtrain, "train"), (dvalid, "valid")],
            evals_result=log,
            callbacks=[XGBoostCallback(trial, "valid-logloss")],
            verbose_eval=False,
        )
        return log["valid"]["logloss"][-1]

    trials = boosting_study(objective, "minimize").trials
    assert [t.state for t in trials] == [S.Complete, S.Complete, S.Pruned, S.Pruned]
    assert trials[0].intermediate_values[-1][1] == pytest.approx(trials[0].value)

    def classifier(trial, rate):
        model = xgb.XGBClassifier(
            n_estimators=200,
            learning_rate=rate,
            eval_metric="auc",
            early_stopping_rounds=5,
            callbacks=[XGBoostCallback(trial, "auc")],  # the last evaluation set's
        )
        model.fit(X[TRAIN], Y[TRAIN], eval_set=[(X[TRAIN], Y[TRAIN]), (X[VALID], Y[VALID])], verbose=False)
        return model.best_score

    trials = boosting_study(classifier, "maximize").trials
    assert trials[0].state == S.Complete and len(trials[0].intermediate_values) < 200
    assert trials[0].value == pytest.approx(max(v for _, v in trials[0].intermediate_values))
    assert trials[2].state == S.Pruned

    # xgb.cv logs each round's mean and spread over the folds: the mean is reported.
    study = tv.create_study(direction="minimize")
    trial = study.ask()
    params = {"objective": "binary:logistic", "eval_metric": "logloss"}
    cv = xgb.cv(params, xgb.DMatrix(X, Y), 4, nfold=3, callbacks=[XGBoostCallback(trial, "test-logloss")])
    study.tell(trial, 0.1)
    assert [v for _, v in study.trials[0].intermediate_values] == pytest.approx(list(cv["test-logloss-mean"]))


def test_mistakes_are_named_before_any_pruning():
    study = tv.create_study(direction="minimize")
    trial = study.ask()
    train, valid = lgb_sets()
    params = {"objective": "binary", "metric": "auc", "verbose": -1}
    with pytest.raises(ValueError, match="'auc' is better when higher, but the study minimises.*'maximize'"):
        lgb.train(params, train, 2, valid_sets=[valid], callbacks=[LightGBMCallback(trial, "auc")])
    with pytest.raises(ValueError, match="no metric 'l2' on any validation set; evaluated: valid_0 auc"):
        lgb.train(params, train, 2, valid_sets=[valid], callbacks=[LightGBMCallback(trial, "l2")])
    with pytest.raises(ValueError, match="no metric 'auc' on any validation set; evaluated: training auc"):
        lgb.train(params, train, 2, valid_sets=[train], callbacks=[LightGBMCallback(trial, "auc")])
    dtrain = xgb.DMatrix(X[TRAIN], Y[TRAIN])
    with pytest.raises(ValueError, match="no metric 'valid-error' among those evaluated: train-logloss"):
        xgb.train(
            {"objective": "binary:logistic", "eval_metric": "logloss"},
            dtrain,
            2,
            evals=[(dtrain, "train")],
            callbacks=[XGBoostCallback(trial, "valid-error")],
            verbose_eval=False,
        )
    with pytest.raises(TypeError, match="metric must be"):
        XGBoostCallback(trial, None)
    callback = XGBoostCallback(trial, "auc")
    assert copy.deepcopy(callback) is callback  # a copied model still reports to the running trial
