"""TarvexSearchCV against real scikit-learn estimators and pipelines."""

import copy
import pickle

import numpy as np
import pytest
from sklearn.base import clone
from sklearn.datasets import load_iris
from sklearn.linear_model import LogisticRegression, SGDClassifier
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler
from sklearn.svm import SVC

import tarvex as tv
from tarvex.integration import TarvexSearchCV

X, Y = load_iris(return_X_y=True)
Complete = tv.TrialState.Complete


def test_a_pipeline_search_fits_scores_and_refits():
    pipe = make_pipeline(StandardScaler(), SVC())
    search = TarvexSearchCV(
        pipe,
        {"svc__C": tv.FloatDist(1e-2, 1e2, log=True), "svc__kernel": ["linear", "rbf"]},
        n_trials=8,
        cv=3,
        random_state=0,
    ).fit(X, Y)
    assert len(search.cv_results_["params"]) == 8
    assert set(search.best_params_) == {"svc__C", "svc__kernel"}
    assert 1e-2 <= search.best_params_["svc__C"] <= 1e2
    assert search.best_score_ == pytest.approx(np.max(search.cv_results_["mean_test_score"]))
    assert search.study_.best_value == pytest.approx(search.best_score_)
    assert [t.state for t in search.study_.trials] == [Complete] * 8
    assert search.score(X, Y) > 0.9 and search.predict(X[:3]).shape == (3,)
    # The same seed makes the same search.
    again = clone(search).fit(X, Y)
    assert again.cv_results_["params"] == search.cv_results_["params"]


def test_several_metrics_optimise_the_one_refit_names():
    search = TarvexSearchCV(
        LogisticRegression(max_iter=500),
        {"C": tv.FloatDist(1e-3, 10, log=True)},
        n_trials=5,
        cv=3,
        scoring={"acc": "accuracy", "ll": "neg_log_loss"},
        refit="ll",
        random_state=1,
    ).fit(X, Y)
    values = [t.value for t in search.study_.trials]
    assert values == pytest.approx(list(search.cv_results_["mean_test_ll"]))
    assert search.best_score_ == pytest.approx(max(values))


def test_failing_candidates_fail_their_trials_and_bad_arguments_are_named():
    search = TarvexSearchCV(
        LogisticRegression(),
        {"C": tv.FloatDist(-1.0, 1.0)},  # C <= 0 fails to fit
        n_trials=12,
        cv=2,
        random_state=2,
    )
    search.fit(X, Y)
    states = [t.state for t in search.study_.trials]
    assert tv.TrialState.Failed in states and Complete in states and len(states) == 12
    # scikit-learn keeps a candidate whose every fit failed out of cv_results_.
    assert len(search.cv_results_["params"]) == states.count(Complete)
    assert all(p["C"] > 0 for p in search.cv_results_["params"])
    with pytest.raises(TypeError, match=r"param_distributions\['C'\] must be a tv.FloatDist"):
        TarvexSearchCV(LogisticRegression(), {"C": 3.0}).fit(X, Y)
    with pytest.raises(ValueError, match="n_trials must be an int of at least 1"):
        TarvexSearchCV(LogisticRegression(), {"C": [1.0]}, n_trials=0).fit(X, Y)
    with pytest.raises(ValueError, match="not both"):
        TarvexSearchCV(
            LogisticRegression(), {"C": [1.0]}, study=tv.create_study(direction="maximize"), sampler=tv.RandomSampler()
        ).fit(X, Y)


def test_partial_fit_candidates_are_pruned_by_their_epochs():
    search = TarvexSearchCV(
        SGDClassifier(random_state=0),
        {"alpha": tv.FloatDist(1e-6, 10.0, log=True)},
        n_trials=16,
        cv=3,
        pruner=tv.MedianPruner(n_startup_trials=3),
        max_iter=5,
        random_state=3,
    ).fit(X, Y)
    trials = search.study_.trials
    pruned = [t for t in trials if t.state == tv.TrialState.Pruned]
    assert pruned and len(search.cv_results_["params"]) == len(trials) - len(pruned)
    assert all(t.intermediate_values for t in trials)
    assert max(len(t.intermediate_values) for t in pruned) < 5


def test_a_given_study_is_used_and_a_search_copies_and_pickles(tmp_path):
    url = f"sqlite:///{tmp_path}/s.db"
    study = tv.create_study(direction="maximize", storage=url, study_name="cv", sampler=tv.TPESampler(seed=4))
    search = TarvexSearchCV(LogisticRegression(max_iter=300), {"C": tv.FloatDist(0.01, 10)}, n_trials=4, study=study)
    search.fit(X, Y)
    assert len(tv.load_study(study_name="cv", storage=url).trials) == 4
    restored = pickle.loads(pickle.dumps(search))
    assert restored.best_params_ == search.best_params_ and len(restored.study_.trials) == 4
    copy.deepcopy(search).fit(X, Y)  # a copy of the stored study is that same stored study
    assert len(tv.load_study(study_name="cv", storage=url).trials) == 8


def test_passes_the_estimator_checks_that_apply_to_a_meta_estimator():
    from sklearn.utils.estimator_checks import check_estimator

    search = TarvexSearchCV(LogisticRegression(), {"C": tv.FloatDist(0.1, 10.0)}, n_trials=2, cv=2, random_state=0)
    failed = [
        (r["check_name"], str(r["exception"]))
        for r in check_estimator(search, on_fail=None, expected_failed_checks=EXPECTED_FAILURES)
        if r["status"] == "failed"
    ]
    assert failed == []


# Checks that do not apply to a search estimator, as for scikit-learn's own searches.
EXPECTED_FAILURES: dict[str, str] = {}


def test_pruning_epochs_score_the_metric_the_study_maximises():
    search = TarvexSearchCV(
        SGDClassifier(loss="log_loss", random_state=0),
        {"alpha": tv.FloatDist(1e-6, 1.0, log=True)},
        n_trials=4,
        cv=3,
        scoring={"acc": "accuracy", "ll": "neg_log_loss"},
        refit="ll",
        pruner=tv.MedianPruner(n_startup_trials=2),
        max_iter=3,
        random_state=5,
    ).fit(X, Y)
    reports = [v for t in search.study_.trials for _, v in t.intermediate_values]
    assert reports and all(v <= 0 for v in reports)  # negated log loss, not accuracy


class _DivergesOnSecondEpoch(SGDClassifier):
    """Training by epochs breaks after the first one, as a diverging candidate's can."""

    def partial_fit(self, X, y, classes=None, sample_weight=None):
        if getattr(self, "epochs_", 0) >= 1:
            raise ValueError("Input contains NaN.")
        self.epochs_ = getattr(self, "epochs_", 0) + 1
        return super().partial_fit(X, y, classes=classes)


def test_a_candidate_failing_in_its_epochs_is_scored_by_its_full_fit_or_raises_as_asked():
    def search(**kwargs):
        return TarvexSearchCV(
            _DivergesOnSecondEpoch(random_state=0),
            {"alpha": tv.FloatDist(1e-4, 1.0, log=True)},
            n_trials=3,
            cv=3,
            pruner=tv.MedianPruner(n_startup_trials=5),
            max_iter=3,
            random_state=0,
            **kwargs,
        ).fit(X, Y)

    study = search().study_
    assert [t.state for t in study.trials] == [Complete] * 3  # the full fit does not train by epochs
    assert all(len(t.intermediate_values) == 1 for t in study.trials)
    with pytest.raises(ValueError, match="Input contains NaN"):
        search(error_score="raise")
