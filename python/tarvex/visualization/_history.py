"""Optimisation history: every trial's value and the best value so far."""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import _tarvex

from .._space import Target, target_of
from ._common import dropped, literal, note, pyplot

if TYPE_CHECKING:
    from .._study import Study
    from .._trial import FrozenTrial


@dataclass(frozen=True)
class HistorySeries:
    name: str
    numbers: list[int]
    values: list[float]
    best: list[float]  # the best value up to and including each trial
    n_dropped: int


def history_series(
    study: Study, target: Callable[[FrozenTrial], float] | None, target_name: str | None, where: str
) -> list[HistorySeries]:
    """One series per objective (or one for target), best so far by each objective's direction."""
    if target is not None or len(study.directions) == 1:
        return [_series(target_of(study, target, target_name, where))]
    names = [f"{target_name or 'Objective'} {i} ({d.name.lower()})" for i, d in enumerate(study.directions)]
    out = []
    for i, direction in enumerate(study.directions):
        chosen = target_of(study, lambda t, i=i: t.values[i], names[i], where)
        out.append(_series(chosen, direction == _tarvex.StudyDirection.Minimize))
    return out


def _series(chosen: Target, minimize: bool | None = None) -> HistorySeries:
    minimize = chosen.minimize if minimize is None else minimize
    best, running = [], None
    for v in chosen.values:
        running = v if running is None else (min(running, v) if minimize else max(running, v))
        best.append(running)
    return HistorySeries(chosen.name, [t.number for t in chosen.trials], chosen.values, best, chosen.n_dropped)


def plot_optimization_history(
    study: Study, *, target: Callable[[FrozenTrial], float] | None = None, target_name: str | None = None
) -> Any:
    """Each completed trial's value against its number, with the best value so far.

    A multi-objective study gets one panel per objective (a Figure); otherwise an Axes. With
    target, the value is target(trial) and the best so far is its minimum."""
    where = "plot_optimization_history"
    plt = pyplot(where)
    series = history_series(study, target, target_name, where)
    fig, panels = plt.subplots(1, len(series), figsize=(6.4 * len(series), 4.2), squeeze=False)
    for ax, s in zip(panels[0], series):
        ax.scatter(s.numbers, s.values, s=14, color="#1f77b4", label=literal(s.name), zorder=2)
        ax.step(s.numbers, s.best, where="post", color="#d62728", label="Best so far", zorder=3)
        ax.set_xlabel("Trial")
        ax.set_ylabel(literal(s.name))
        ax.set_title("Optimization history")
        ax.legend(loc="best", fontsize=8)
        if s.n_dropped:
            note(ax, dropped(s.n_dropped))
    return panels[0][0] if len(series) == 1 else fig
