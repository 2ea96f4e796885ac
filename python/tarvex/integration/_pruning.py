"""What the boosting callbacks share: report a metric each iteration and stop a hopeless trial."""

from __future__ import annotations

from typing import Any

import _tarvex


def check_direction(trial: Any, who: str, metric: str, higher_is_better: bool) -> None:
    """A metric better when higher must be maximised by the study, and one better when lower
    minimised: otherwise the pruner would stop the best runs."""
    directions = getattr(trial, "_directions", None)
    if not directions or len(directions) != 1:
        return  # a trial of no study of this package; several objectives are refused by report
    maximize = directions[0] == _tarvex.StudyDirection.Maximize
    if maximize != higher_is_better:
        better, wanted = ("higher", "maximize") if higher_is_better else ("lower", "minimize")
        raise ValueError(
            f"{who}: metric {metric!r} is better when {better}, but the study "
            f"{'maximises' if maximize else 'minimises'}; create it with direction={wanted!r}"
        )


def report_or_prune(trial: Any, value: float, step: int) -> None:
    """Reports value at step; raises TrialPruned when the pruner stops the trial there."""
    trial.report(float(value), step)
    if trial.should_prune():
        raise _tarvex.TrialPruned(f"Trial was pruned at iteration {step}.")
