"""A scikit-learn search estimator: cross-validated search over parameter distributions, each
candidate proposed by a tarvex study."""

from __future__ import annotations

import time
from collections.abc import Mapping
from numbers import Integral
from typing import Any

import numpy as np
from joblib import effective_n_jobs
from sklearn.base import clone, is_classifier
from sklearn.metrics import check_scoring
from sklearn.model_selection import check_cv
from sklearn.model_selection._search import BaseSearchCV
from sklearn.utils import check_random_state

from .._create import create_study
from .._distributions import CategoricalDist, FloatDist, IntDist
from .._study import Study
from .._tpe import TPESampler
from .._trial import TrialState


class TarvexSearchCV(BaseSearchCV):  # type: ignore[misc]
    """Cross-validated search in which a tarvex study proposes each candidate.

    A drop-in for scikit-learn's RandomizedSearchCV: it fits, scores and refits as every
    scikit-learn search does (cv_results_, best_estimator_, best_params_, best_score_, predict,
    score, multimetric scoring with refit="name"), and keeps the study (study_) for plots,
    reports and storage.

    Args:
        estimator: the estimator or pipeline to tune.
        param_distributions: {name: distribution}, names as set_params takes them
            ("clf__C"), each a tv.FloatDist, tv.IntDist or tv.CategoricalDist (or a list, taken as
            the choices of a categorical).
        n_trials: candidates to evaluate.
        cv, scoring, refit, n_jobs, verbose, pre_dispatch, error_score, return_train_score: as for
            scikit-learn's searches. With several metrics the study maximises the one refit
            names, or the first when refit does not name one.
        sampler: the study's sampler; tv.TPESampler seeded by random_state when None.
        pruner: a tarvex pruner; with one, and an estimator that has partial_fit, each candidate
            first trains max_iter epochs by partial_fit on every fold, reporting the folds' mean
            score after each, and stops early when the pruner says so (a pruned trial, absent
            from cv_results_). A candidate that survives is then cross-validated like any other.
        max_iter: epochs of partial_fit for pruning.
        study: a tv.Study to run in (a maximising single-objective one, in a database to
            share or keep it); a new in-memory study when None.
        timeout: seconds after which no candidate starts.
        random_state: seeds the default sampler.

    After fit, n_iter_ is the number of candidates the fit tried (pruned ones included).
    """

    def __init__(
        self,
        estimator: Any,
        param_distributions: Mapping[str, Any],
        *,
        n_trials: int = 10,
        cv: Any = None,
        scoring: Any = None,
        refit: Any = True,
        n_jobs: int | None = None,
        verbose: int = 0,
        pre_dispatch: Any = "2*n_jobs",
        error_score: Any = np.nan,
        return_train_score: bool = False,
        sampler: Any = None,
        pruner: Any = None,
        max_iter: int = 10,
        study: Study | None = None,
        timeout: float | None = None,
        random_state: Any = None,
    ) -> None:
        super().__init__(
            estimator=estimator,
            scoring=scoring,
            n_jobs=n_jobs,
            refit=refit,
            cv=cv,
            verbose=verbose,
            pre_dispatch=pre_dispatch,
            error_score=error_score,
            return_train_score=return_train_score,
        )
        self.param_distributions = param_distributions
        self.n_trials = n_trials
        self.sampler = sampler
        self.pruner = pruner
        self.max_iter = max_iter
        self.study = study
        self.timeout = timeout
        self.random_state = random_state

    def fit(self, X: Any, y: Any = None, **params: Any) -> TarvexSearchCV:
        self._X, self._y = X, y  # for the pruning epochs; dropped once fitted
        try:
            super().fit(X, y, **params)
        finally:
            del self._X, self._y
        return self

    def _run_search(self, evaluate_candidates: Any) -> None:
        distributions = _checked_distributions(self.param_distributions)
        if isinstance(self.n_trials, bool) or not isinstance(self.n_trials, Integral) or self.n_trials < 1:
            raise ValueError(f"n_trials must be an int of at least 1, got {self.n_trials!r}")
        if self.timeout is not None and not (isinstance(self.timeout, (int, float)) and self.timeout >= 0):
            raise ValueError(f"timeout must be None or a number of seconds of at least 0, got {self.timeout!r}")
        study = self._study()
        self.study_ = study
        key = f"mean_test_{self._metric()}"
        pruning = self.pruner is not None and hasattr(self.estimator, "partial_fit")
        splits, scorer = self._epoch_folds() if pruning else ([], None)
        # n_jobs candidates at once keep the workers busy; the sampler sees the others as running.
        batch = 1 if pruning else max(1, effective_n_jobs(self.n_jobs))
        deadline = None if self.timeout is None else time.monotonic() + self.timeout
        asked = scored = 0
        every_fit_failed: ValueError | None = None
        while asked < self.n_trials and (deadline is None or time.monotonic() < deadline):
            trials, candidates = [], []
            for _ in range(min(batch, self.n_trials - asked)):
                trial = study.ask()
                asked += 1
                params = {name: trial.suggest(name, dist) for name, dist in distributions.items()}
                if pruning and self._pruned(trial, params, splits, scorer):
                    study.tell(trial, state=TrialState.Pruned)
                    continue
                trials.append(trial)
                candidates.append(params)
            if not candidates:
                continue
            try:
                results = evaluate_candidates(candidates)
            except BaseException as error:
                for trial in trials:  # the trials do not stay running
                    study.tell(trial, state=TrialState.Failed)
                # Every fit of these candidates failed: scikit-learn keeps them out of cv_results_
                # and raises; the search goes on unless error_score="raise" asked to stop.
                if isinstance(error, ValueError) and "fits failed" in str(error) and self.error_score != "raise":
                    every_fit_failed = error
                    continue
                raise
            scored += len(candidates)
            for trial, score in zip(trials, results[key][-len(candidates) :]):
                if np.isfinite(score):
                    study.tell(trial, float(score))
                else:
                    study.tell(trial, state=TrialState.Failed)
        self.n_iter_ = asked
        if every_fit_failed is not None and scored == 0:
            raise every_fit_failed  # as scikit-learn's searches do when no fit succeeds

    def _study(self) -> Study:
        if self.study is not None:
            if self.sampler is not None or self.pruner is not None:
                raise ValueError("give a sampler and a pruner to the study, or pass no study; not both")
            if len(self.study.directions) != 1 or self.study.direction.name != "Maximize":
                raise ValueError("study must be a single-objective study that maximises (scores: higher is better)")
            return self.study
        sampler = self.sampler
        if sampler is None:
            seed = 0 if self.random_state is None else int(check_random_state(self.random_state).randint(1, 2**31))
            sampler = TPESampler(seed=seed)
        return create_study(direction="maximize", sampler=sampler, pruner=self.pruner)

    def _metric(self) -> str:
        """The cv_results_ metric the study maximises."""
        if callable(self.scoring) or self.scoring is None or isinstance(self.scoring, str):
            return "score"
        if isinstance(self.refit, str):
            return self.refit
        return next(iter(self.scoring)) if isinstance(self.scoring, Mapping) else str(list(self.scoring)[0])

    def _metric_scoring(self) -> Any:
        """The scoring of the one metric the study maximises, as check_scoring takes it."""
        if self.scoring is None or callable(self.scoring) or isinstance(self.scoring, str):
            return self.scoring
        metric = self._metric()
        return self.scoring[metric] if isinstance(self.scoring, Mapping) else metric

    def _epoch_folds(self) -> tuple[list[tuple[Any, Any]], Any]:
        """The folds and the scorer of the study's metric that the pruning epochs use, once per fit."""
        if isinstance(self.max_iter, bool) or not isinstance(self.max_iter, Integral) or self.max_iter < 1:
            raise ValueError(f"max_iter must be an int of at least 1, got {self.max_iter!r}")
        cv = check_cv(self.cv, self._y, classifier=is_classifier(self.estimator))
        return list(cv.split(self._X, self._y)), check_scoring(self.estimator, scoring=self._metric_scoring())

    def _pruned(self, trial: Any, params: dict[str, Any], splits: list[tuple[Any, Any]], scorer: Any) -> bool:
        """Trains the candidate by partial_fit, max_iter epochs on every fold, reporting the mean
        score after each epoch; whether the pruner stopped it."""
        X, y = self._X, self._y
        folds = [(train, test, clone(self.estimator).set_params(**params)) for train, test in splits]
        extra = {"classes": np.unique(y)} if is_classifier(self.estimator) else {}
        for epoch in range(self.max_iter):
            scores = []
            try:
                for train, test, model in folds:
                    model.partial_fit(_rows(X, train), _rows(y, train), **extra)
                    scores.append(scorer(model, _rows(X, test), _rows(y, test)))
            except Exception:
                # A candidate that diverges (NaN probabilities, say) is no reason to end the
                # search: the full fit that follows scores it with error_score, as scikit-learn does.
                if self.error_score == "raise":
                    raise
                return False
            score = float(np.mean(scores))
            if not np.isfinite(score):
                return False
            trial.report(score, epoch)
            if trial.should_prune():
                return True
        return False


def _rows(data: Any, index: Any) -> Any:
    return data.iloc[index] if hasattr(data, "iloc") else data[index]


def _checked_distributions(distributions: Any) -> dict[str, Any]:
    if not isinstance(distributions, Mapping) or not distributions:
        raise TypeError(
            "param_distributions must be a non-empty dict {name: tv.FloatDist, tv.IntDist, tv.CategoricalDist or a "
            f"list of choices}}, got {distributions!r}"
        )
    out: dict[str, Any] = {}
    for name, dist in distributions.items():
        if isinstance(dist, (list, tuple)):
            dist = CategoricalDist(dist)
        if not isinstance(dist, (FloatDist, IntDist, CategoricalDist)):
            raise TypeError(
                f"param_distributions[{name!r}] must be a tv.FloatDist, tv.IntDist, tv.CategoricalDist or a list "
                f"of choices, got {dist!r}"
            )
        out[name] = dist
    return out
