"""The optimisation history: each trial's value and the best so far."""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING

import _tarvex

from .._space import Target, target_of

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


@dataclass(frozen=True)
class HistorySeries:
    name: str
    numbers: list[int]
    values: list[float]
    best: list[float]  # the best value up to and including each trial
    n_dropped: int


def history_series(
    study: StudyView, target: Callable[[FrozenTrial], float] | None, target_name: str | None, where: str
) -> list[HistorySeries]:
    """One series per objective (or one for target), best so far by each objective's direction."""
    if target is not None or len(study.directions) == 1:
        return [_series(target_of(study, target, target_name, where))]
    given = getattr(study, "objective_names", None) if target_name is None else None
    names = [
        f"{given[i] if given else (target_name or 'Objective') + f' {i}'} ({d.name.lower()})"
        for i, d in enumerate(study.directions)
    ]
    out = []
    for i, direction in enumerate(study.directions):
        chosen = target_of(study, _objective(i), names[i], where)
        out.append(_series(chosen, direction == _tarvex.StudyDirection.Minimize))
    return out


def _series(chosen: Target, minimize: bool | None = None) -> HistorySeries:
    minimize = chosen.minimize if minimize is None else minimize
    best, running = [], None
    for v in chosen.values:
        running = v if running is None else (min(running, v) if minimize else max(running, v))
        best.append(running)
    return HistorySeries(chosen.name, [t.number for t in chosen.trials], chosen.values, best, chosen.n_dropped)


def _objective(i: int) -> Callable[[FrozenTrial], float]:
    def value(trial: FrozenTrial) -> float:
        return float(trial.values[i])

    return value
