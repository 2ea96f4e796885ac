"""Slice plots: the value against each parameter on its own."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._plotdata.slices import coordinate, slices
from .._space import Axis
from ._common import dropped, given_axes, grid_shape, literal, note, pyplot

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def place(ax: Any, axis: Axis, which: str) -> None:
    """Scales and labels one plot axis (which is "x" or "y") for a parameter."""
    set_label = ax.set_xlabel if which == "x" else ax.set_ylabel
    if axis.categorical:
        set_ticks = ax.set_xticks if which == "x" else ax.set_yticks
        set_ticks(range(len(axis.choices)), [literal(axis.label(c)) for c in axis.choices])
    elif axis.log:
        (ax.set_xscale if which == "x" else ax.set_yscale)("log")
    set_label(literal(axis.name))


def plot_slice(
    study: StudyView,
    params: Iterable[str] | None = None,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
    ax: Any = None,
) -> Any:
    """One panel per parameter (all, or params): each completed trial's value against the
    parameter's value, coloured by trial number. Returns the Figure it drew on; given ax (one Axes
    per parameter), it draws there."""
    where = "plot_slice"
    plt = pyplot(where)
    chosen, space, points = slices(study, params, target, target_name, where)
    given = given_axes(ax, len(space), where)
    if given is None:
        rows, columns = grid_shape(len(space))
        fig, panels = plt.subplots(rows, columns, figsize=(3.6 * columns, 3.2 * rows), squeeze=False, sharey=True)
        flat = list(panels.ravel())
        first_column = [row[0] for row in panels]
    else:
        flat, fig = given, given[0].figure
        first_column = given
    for ax, axis in zip(flat, space):
        drawn = points[axis.name]
        scatter = ax.scatter(
            [coordinate(axis, p) for p, _, _ in drawn],
            [v for _, v, _ in drawn],
            c=[n for _, _, n in drawn],
            cmap="Blues",
            edgecolors="0.3",
            linewidths=0.4,
            s=18,
        )
        place(ax, axis, "x")
    for ax in flat[len(space) :]:
        ax.set_visible(False)
    for first in first_column:
        first.set_ylabel(literal(chosen.name))
    fig.colorbar(scatter, ax=flat[: len(space)], label="Trial")
    fig.suptitle("Slice plot")
    if chosen.n_dropped:
        note(flat[0], dropped(chosen.n_dropped))
    return fig
