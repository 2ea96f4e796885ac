"""Pruners: rules that stop unpromising trials early from their reported values. In a
single-objective study they judge by its direction; in a multi-objective one smaller reports
count as better."""

from __future__ import annotations

import math

import _tarvex


def _count(name: str, value: int, lowest: int) -> int:
    if type(value) is not int or value < lowest:
        raise ValueError(f"{name} must be an int of at least {lowest}, got {value!r}")
    return value


class MedianPruner(_tarvex.MedianPruner):
    """Prunes a trial whose latest report is worse than the given percentile of the completed
    trials' reports at the same step (each completed trial's latest report at or before it).

    Args:
        n_startup_trials: no pruning until this many trials have completed.
        n_warmup_steps: no pruning of a trial whose latest report is at an earlier step.
        percentile: 0 to 100; 50 compares with the median.
    """

    def __init__(self, n_startup_trials: int = 5, n_warmup_steps: int = 0, percentile: float = 50.0) -> None:
        _count("n_startup_trials", n_startup_trials, 0)
        _count("n_warmup_steps", n_warmup_steps, 0)
        if not (isinstance(percentile, (int, float)) and 0 <= percentile <= 100):
            raise ValueError(f"percentile must be a number from 0 to 100, got {percentile!r}")
        super().__init__(n_startup_trials, n_warmup_steps, float(percentile))
        self._shown = (n_startup_trials, n_warmup_steps, percentile)

    def __repr__(self) -> str:
        return "MedianPruner(n_startup_trials={}, n_warmup_steps={}, percentile={})".format(*self._shown)


class HyperbandPruner(_tarvex.HyperbandPruner):
    """Successive halving: trials are judged only at the rungs min_resource * reduction_factor^k up
    to max_resource (steps 1, 3, 9, 27, 81 by default), where a trial survives if it is among the
    best 1 / reduction_factor of the other trials that reported at that step.

    Args:
        min_resource: the first rung, at least 1.
        max_resource: the last rung, at least min_resource.
        reduction_factor: growth between rungs and the inverse of the share kept; above 1.
        bootstrap_count: no pruning at a rung until this many other trials reached it.
    """

    def __init__(
        self, min_resource: int = 1, max_resource: int = 81, reduction_factor: float = 3.0, bootstrap_count: int = 0
    ) -> None:
        _count("min_resource", min_resource, 1)
        _count("max_resource", max_resource, 1)
        _count("bootstrap_count", bootstrap_count, 0)
        if min_resource > max_resource:
            raise ValueError(
                f"min_resource must be at most max_resource, got min_resource={min_resource} and "
                f"max_resource={max_resource}"
            )
        if not (
            isinstance(reduction_factor, (int, float)) and reduction_factor > 1 and math.isfinite(reduction_factor)
        ):
            raise ValueError(f"reduction_factor must be a finite number above 1, got {reduction_factor!r}")
        super().__init__(min_resource, max_resource, float(reduction_factor), bootstrap_count)
        self._shown = (min_resource, max_resource, reduction_factor, bootstrap_count)

    def __repr__(self) -> str:
        return "HyperbandPruner(min_resource={}, max_resource={}, reduction_factor={}, bootstrap_count={})".format(
            *self._shown
        )
