"""A LightGBM callback that reports a validation metric to a trial and prunes it."""

from __future__ import annotations

from typing import Any

from ._pruning import check_direction, report_or_prune

# The names LightGBM gives the training data among the evaluated sets (lgb.train, the
# scikit-learn wrappers, lgb.cv with eval_train_metric).
_TRAINING = ("training", "train")


class LightGBMCallback:
    """Pass it in callbacks= to lgb.train, lgb.cv or the scikit-learn wrappers' fit: after each
    boosting iteration it reports metric (a LightGBM metric name such as "binary_logloss" or
    "auc") on the validation set valid_name (None: the first one that is not the training data)
    and raises TrialPruned when the trial's pruner stops it. The metric's direction must be the
    study's: "auc" in a study that maximises, "binary_logloss" in one that minimises."""

    # LightGBM runs callbacks by order: this one before early stopping (30) ends the training.
    order = 25
    before_iteration = False

    def __init__(self, trial: Any, metric: str, valid_name: str | None = None) -> None:
        if not isinstance(metric, str) or not metric:
            raise TypeError(f"LightGBMCallback: metric must be a metric name such as 'auc', got {metric!r}")
        if valid_name is not None and not isinstance(valid_name, str):
            raise TypeError(f"LightGBMCallback: valid_name must be a validation set's name or None, got {valid_name!r}")
        self.trial = trial
        self.metric = metric
        self.valid_name = valid_name

    def __call__(self, env: Any) -> None:
        for data_name, eval_name, value, higher_is_better, *_ in env.evaluation_result_list:
            if eval_name != self.metric:
                continue
            if data_name == self.valid_name or (self.valid_name is None and data_name not in _TRAINING):
                check_direction(self.trial, "LightGBMCallback", self.metric, bool(higher_is_better))
                report_or_prune(self.trial, value, env.iteration)
                return
        seen = ", ".join(f"{entry[0]} {entry[1]}" for entry in env.evaluation_result_list) or "none"
        where = "any validation set" if self.valid_name is None else f"validation set {self.valid_name!r}"
        raise ValueError(
            f"LightGBMCallback: no metric {self.metric!r} on {where}; evaluated: {seen} "
            "(give a validation set and the metric in params, and valid_name when there are several)"
        )

    def __deepcopy__(self, memo: dict[int, Any]) -> LightGBMCallback:
        return self  # copies of a model's settings still report to the one running trial
