"""Pruners: rules that stop unpromising trials early from their reported values. In a
single-objective study they judge by its direction; in a multi-objective one smaller reports
count as better."""

from __future__ import annotations

import _tarvex

from ._replay import replayable

_MEDIAN = _tarvex.MedianPrunerOptions()
_HYPERBAND = _tarvex.HyperbandPrunerOptions()


def _int(name: str, value: object) -> int:
    """Ranges are checked by the core; types here, where an int of any kind arrives."""
    if type(value) is not int:
        raise ValueError(f"{name} must be an int, got {value!r}")
    return value


def _number(name: str, value: object) -> float:
    if type(value) is bool or not isinstance(value, (int, float)):
        raise ValueError(f"{name} must be a number, got {value!r}")
    return float(value)


@replayable
class MedianPruner(_tarvex.MedianPruner):
    """Prunes a trial whose latest report is worse than the given percentile of the completed
    trials' reports at the same step (each completed trial's latest report at or before it).

    Args:
        n_startup_trials: no pruning until this many trials have completed.
        n_warmup_steps: no pruning of a trial whose latest report is at an earlier step.
        percentile: 0 to 100; 50 compares with the median.
    """

    def __init__(
        self,
        n_startup_trials: int = _MEDIAN.n_startup_trials,
        n_warmup_steps: int = _MEDIAN.n_warmup_steps,
        percentile: float = _MEDIAN.percentile,
    ) -> None:
        self.options = _tarvex.MedianPrunerOptions(
            n_startup_trials=_int("n_startup_trials", n_startup_trials),
            n_warmup_steps=_int("n_warmup_steps", n_warmup_steps),
            percentile=_number("percentile", percentile),
        )
        super().__init__(self.options)

    def __repr__(self) -> str:
        o = self.options
        return (
            f"MedianPruner(n_startup_trials={o.n_startup_trials}, n_warmup_steps={o.n_warmup_steps}, "
            f"percentile={o.percentile})"
        )


@replayable
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
        self,
        min_resource: int = _HYPERBAND.min_resource,
        max_resource: int = _HYPERBAND.max_resource,
        reduction_factor: float = _HYPERBAND.reduction_factor,
        bootstrap_count: int = _HYPERBAND.bootstrap_count,
    ) -> None:
        self.options = _tarvex.HyperbandPrunerOptions(
            min_resource=_int("min_resource", min_resource),
            max_resource=_int("max_resource", max_resource),
            reduction_factor=_number("reduction_factor", reduction_factor),
            bootstrap_count=_int("bootstrap_count", bootstrap_count),
        )
        super().__init__(self.options)

    def __repr__(self) -> str:
        o = self.options
        return (
            f"HyperbandPruner(min_resource={o.min_resource}, max_resource={o.max_resource}, "
            f"reduction_factor={o.reduction_factor}, bootstrap_count={o.bootstrap_count})"
        )
