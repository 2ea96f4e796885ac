"""Slice plots: the value against each parameter on its own."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._space import Axis, axes, target_of
from ._common import dropped, grid_shape, literal, note, pyplot

if TYPE_CHECKING:
    from .._study import Study
    from .._trial import FrozenTrial


def slices(
    study: Study,
    params: Iterable[str] | None,
    target: Callable[[FrozenTrial], float] | None,
    target_name: str | None,
    where: str,
):
    """Per parameter: its axis, and the (value of the parameter, objective value, trial number)
    of the completed trials that have it."""
    chosen = target_of(study, target, target_name, where)
    space = axes(chosen.trials, params, where)
    if not space:
        raise ValueError(f"{where}: the completed trials have no parameters")
    points = {
        a.name: [(t.params[a.name], v, t.number) for t, v in zip(chosen.trials, chosen.values) if a.name in t.params]
        for a in space
    }
    return chosen, space, points


def place(ax: Any, axis: Axis, which: str) -> None:
    """Scales and labels one plot axis (which is "x" or "y") for a parameter."""
    set_label = ax.set_xlabel if which == "x" else ax.set_ylabel
    if axis.categorical:
        set_ticks = ax.set_xticks if which == "x" else ax.set_yticks
        set_ticks(range(len(axis.choices)), [literal(axis.label(c)) for c in axis.choices])
    elif axis.log:
        (ax.set_xscale if which == "x" else ax.set_yscale)("log")
    set_label(literal(axis.name))


def coordinate(axis: Axis, value: Any) -> float:
    """Where a value is drawn: the value itself on a numeric (log-scaled or not) axis, the index of
    the choice on a categorical one."""
    return axis.position(value) if axis.categorical else float(value)


def plot_slice(
    study: Study,
    params: Iterable[str] | None = None,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
) -> Any:
    """One panel per parameter (all, or params): each completed trial's value against the
    parameter's value, coloured by trial number. Returns a Figure."""
    where = "plot_slice"
    plt = pyplot(where)
    chosen, space, points = slices(study, params, target, target_name, where)
    rows, columns = grid_shape(len(space))
    fig, panels = plt.subplots(rows, columns, figsize=(3.6 * columns, 3.2 * rows), squeeze=False, sharey=True)
    flat = panels.ravel()
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
    for row in panels:
        row[0].set_ylabel(literal(chosen.name))
    fig.colorbar(scatter, ax=list(flat[: len(space)]), label="Trial")
    fig.suptitle("Slice plot")
    if chosen.n_dropped:
        note(flat[0], dropped(chosen.n_dropped))
    return fig
