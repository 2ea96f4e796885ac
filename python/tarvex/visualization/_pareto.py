"""The Pareto front of a study with two or three objectives."""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING, Any

from .._plotdata.pareto import pareto
from ._common import dropped, given_axes, literal, note, pyplot

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def plot_pareto_front(
    study: StudyView,
    *,
    targets: Callable[[FrozenTrial], Sequence[float]] | None = None,
    target_names: Sequence[str] | None = None,
    ax: Any = None,
) -> Any:
    """The completed trials in objective space: the Pareto front (no other feasible trial is at
    least as good in every objective and better in one) in colour and joined, dominated trials in
    grey, trials that violate their constraints as blue crosses. Two or
    three objectives, or targets giving 2 or 3 values to minimise. Returns the Axes it drew on (3-D
    for three; ax, when given, which must then be 3-D)."""
    where = "plot_pareto_front"
    plt = pyplot(where)
    data = pareto(study, targets, target_names, where)
    three = len(data.names) == 3
    if given_axes(ax, 1, where) is None:
        ax = plt.figure(figsize=(6.4, 4.8)).add_subplot(projection="3d" if three else None)
    for points, style in (
        (data.infeasible, {"color": "#1f77b4", "marker": "x", "label": "Infeasible", "s": 14}),
        (data.dominated, {"color": "0.7", "label": "Dominated", "s": 14}),
        (data.front, {"color": "#d62728", "label": "Pareto front", "s": 22}),
    ):
        if points:
            coords = list(zip(*(p for _, p in points)))
            ax.scatter(*coords, **style)
    if not three and len(data.front) > 1:
        ax.plot(*zip(*(p for _, p in data.front)), color="#d62728", lw=0.8, alpha=0.6)
    ax.set_xlabel(literal(data.names[0]))
    ax.set_ylabel(literal(data.names[1]))
    if three:
        ax.set_zlabel(literal(data.names[2]))
    ax.set_title("Pareto front")
    ax.legend(loc="best", fontsize=8)
    if data.n_dropped and not three:
        note(ax, dropped(data.n_dropped))
    return ax
