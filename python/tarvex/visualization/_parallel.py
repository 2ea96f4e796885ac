"""Parallel coordinates: one vertical axis per parameter, one line per trial, coloured by value."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._plotdata.parallel import coordinates
from ._common import VALUE_MAP, given_axes, literal, note, pyplot

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def plot_parallel_coordinate(
    study: StudyView,
    params: Iterable[str] | None = None,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
    ax: Any = None,
) -> Any:
    """The objective and each parameter (all, or params) as a vertical axis; each completed trial a
    line across them, coloured by its value. Log-scaled parameters are spread by exponent and
    categorical ones by choice. Returns the Axes it drew on (ax, when given)."""
    where = "plot_parallel_coordinate"
    plt = pyplot(where)
    from matplotlib.collections import LineCollection

    data = coordinates(study, params, target, target_name, where)
    if given_axes(ax, 1, where) is None:
        _, ax = plt.subplots(figsize=(max(6.4, 1.6 * len(data.columns)), 4.6))
    xs = list(range(len(data.columns)))
    segments = [list(zip(xs, line)) for line in data.lines]
    lines = LineCollection(segments, cmap=VALUE_MAP, lw=1.2, alpha=0.8)
    lines.set_array(data.values)
    ax.add_collection(lines)
    for x, column in zip(xs, data.columns):
        ax.axvline(x, color="0.3", lw=0.8)
        for tick, label in zip(column.ticks, column.labels):
            ax.text(x + 0.03, tick, literal(label), fontsize=7, va="center", color="0.25")
    ax.set_xlim(-0.2, len(xs) - 0.6)
    ax.set_ylim(-0.05, 1.05)
    ax.set_xticks(xs, [literal(c.name) for c in data.columns], rotation=20 if len(xs) > 5 else 0)
    ax.set_yticks([])
    ax.set_title("Parallel coordinates")
    ax.figure.colorbar(lines, ax=ax, label=literal(data.value_name))
    if data.notes:
        note(ax, "; ".join(data.notes))
    return ax
