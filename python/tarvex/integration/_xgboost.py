"""An XGBoost callback that reports an evaluation metric to a trial and prunes it."""

from __future__ import annotations

from typing import Any

import xgboost

from ._pruning import check_direction, report_or_prune

# The metrics XGBoost's own early stopping maximises.
_HIGHER_IS_BETTER = ("auc", "aucpr", "pre", "map", "ndcg")


class XGBoostCallback(xgboost.callback.TrainingCallback):
    """Pass it in callbacks= to xgb.train, xgb.cv or the scikit-learn wrappers: after each
    boosting round it reports metric and raises TrialPruned when the trial's pruner stops it.
    metric is "<evaluation set>-<metric>" as XGBoost names them ("valid-logloss",
    "validation_0-auc"), or a bare metric name for the last evaluation set (the one early
    stopping watches). The metric's direction must be the study's ("auc" is maximised)."""

    def __init__(self, trial: Any, metric: str) -> None:
        if not isinstance(metric, str) or not metric:
            raise TypeError(f"XGBoostCallback: metric must be a name such as 'valid-logloss', got {metric!r}")
        super().__init__()
        self.trial = trial
        self.metric = metric

    def after_iteration(self, model: Any, epoch: int, evals_log: dict[str, dict[str, list[Any]]]) -> bool:
        data, name = self._find(evals_log)
        value = evals_log[data][name][-1]
        if isinstance(value, tuple):  # xgb.cv logs (mean, standard deviation)
            value = value[0]
        check_direction(self.trial, "XGBoostCallback", name, name.startswith(_HIGHER_IS_BETTER))
        report_or_prune(self.trial, value, epoch)
        return False

    def _find(self, evals_log: dict[str, dict[str, list[Any]]]) -> tuple[str, str]:
        data, _, name = self.metric.partition("-")
        if name and name in evals_log.get(data, {}):
            return data, name
        if evals_log and self.metric in evals_log[list(evals_log)[-1]]:
            return list(evals_log)[-1], self.metric
        seen = ", ".join(f"{d}-{m}" for d, metrics in evals_log.items() for m in metrics) or "none"
        raise ValueError(
            f"XGBoostCallback: no metric {self.metric!r} among those evaluated: {seen} "
            "(give evals= or eval_set= and the metric in eval_metric)"
        )

    def __deepcopy__(self, memo: dict[int, Any]) -> XGBoostCallback:
        return self  # the scikit-learn wrappers copy their settings; the trial stays the one running
