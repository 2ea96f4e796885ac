"""Optimisation history: every trial's value and the best value so far."""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Any

from .._plotdata.history import history_series
from ._common import dropped, given_axes, literal, note, pyplot

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def plot_optimization_history(
    study: StudyView,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
    ax: Any = None,
) -> Any:
    """Each completed trial's value against its number, with the best value so far.

    A multi-objective study gets one panel per objective (a Figure); otherwise an Axes. With
    target, the value is target(trial) and the best so far is its minimum. Given ax (an Axes, or
    one per objective), it draws there and returns ax."""
    where = "plot_optimization_history"
    plt = pyplot(where)
    series = history_series(study, target, target_name, where)
    drawn_on = given_axes(ax, len(series), where)
    if drawn_on is None:
        fig, grid = plt.subplots(1, len(series), figsize=(6.4 * len(series), 4.2), squeeze=False)
        drawn_on = list(grid[0])
    for ax, s in zip(drawn_on, series):
        ax.scatter(s.numbers, s.values, s=14, color="#1f77b4", label=literal(s.name), zorder=2)
        ax.step(s.numbers, s.best, where="post", color="#d62728", label="Best so far", zorder=3)
        ax.set_xlabel("Trial")
        ax.set_ylabel(literal(s.name))
        ax.set_title("Optimization history")
        ax.legend(loc="best", fontsize=8)
        if s.n_dropped:
            note(ax, dropped(s.n_dropped))
    return drawn_on[0] if len(series) == 1 else drawn_on[0].figure
