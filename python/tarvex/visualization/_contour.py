"""Contour plots: the value over pairs of parameters, interpolated between trials only."""

from __future__ import annotations

import itertools
import math
from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._space import Axis
from ._common import VALUE_MAP, dropped, literal, note, pyplot
from ._slice import place, slices

if TYPE_CHECKING:
    from .._study import Study
    from .._trial import FrozenTrial


def pair_points(chosen, x: Axis, y: Axis) -> list[tuple[Any, Any, float]]:
    """(x value, y value, objective value) of the trials that have both parameters."""
    return [
        (t.params[x.name], t.params[y.name], v)
        for t, v in zip(chosen.trials, chosen.values)
        if x.name in t.params and y.name in t.params
    ]


def triangulate(xs: list[float], ys: list[float], zs: list[float], x_log: bool, y_log: bool) -> Any:
    """The trials' triangulation, in exponent space for log-scaled axes, and the value at each of
    its points: contours interpolate inside the trials' hull only. Trials at one point (integers
    and steps repeat) count as one, at their mean value; a triangulation of repeated points would
    be degenerate and slow. None for fewer than three distinct points or points on one line."""
    from matplotlib.tri import Triangulation

    merged: dict[tuple[float, float], list[float]] = {}
    for x, y, z in zip(xs, ys, zs):
        merged.setdefault((x, y), []).append(z)
    if len(merged) < 3:
        return None
    points = list(merged)
    tx = [math.log10(x) if x_log else x for x, _ in points]
    ty = [math.log10(y) if y_log else y for _, y in points]
    try:
        triangles = Triangulation(tx, ty)
    except (RuntimeError, ValueError):  # all points on one line
        return None
    return triangles, points, [sum(v) / len(v) for v in merged.values()]


def _draw_pair(ax: Any, chosen, x: Axis, y: Axis, levels: list[float]) -> Any:
    from matplotlib.tri import Triangulation

    from ._slice import coordinate

    points = pair_points(chosen, x, y)
    xs = [coordinate(x, p) for p, _, _ in points]
    ys = [coordinate(y, q) for _, q, _ in points]
    zs = [v for _, _, v in points]
    filled = None
    if x.categorical or y.categorical:
        # Between two choices there is nothing to interpolate: such pairs show the trials alone.
        coloured = ax.scatter(
            xs,
            ys,
            c=zs,
            cmap=VALUE_MAP,
            vmin=levels[0] if levels else None,
            vmax=levels[-1] if levels else None,
            s=22,
            edgecolors="0.3",
            linewidths=0.4,
            zorder=3,
        )
        place(ax, x, "x")
        place(ax, y, "y")
        return coloured if levels else None
    found = triangulate(xs, ys, zs, x.log, y.log) if len(levels) > 1 else None
    if found is not None:
        triangles, points, values = found
        # The same triangles, drawn on the plot's axes.
        grid = Triangulation([p for p, _ in points], [q for _, q in points], triangles.triangles)
        filled = ax.tricontourf(grid, values, levels=levels, cmap=VALUE_MAP, alpha=0.85)
    if filled is None:
        note(ax, "too few trials spread over this pair for contours")
    ax.scatter(xs, ys, c="black", s=8, zorder=3)
    place(ax, x, "x")
    place(ax, y, "y")
    return filled


def plot_contour(
    study: Study,
    params: Iterable[str] | None = None,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
) -> Any:
    """The value over each pair of parameters (all, or params): filled contours interpolated
    between the completed trials (never outside them), the trials as dots. A pair with a
    categorical parameter shows the trials alone, coloured by value. Two parameters give one
    panel, more give a grid of every pair. Returns a Figure."""
    where = "plot_contour"
    plt = pyplot(where)
    chosen, space, _ = slices(study, params, target, target_name, where)
    if len(space) < 2:
        raise ValueError(
            f"{where}: a contour needs two parameters; the trials have {len(space)}: {', '.join(a.name for a in space)}"
        )
    lo, hi = min(chosen.values), max(chosen.values)
    levels = [lo + (hi - lo) * k / 12 for k in range(13)] if hi > lo else []
    pairs = [(space[0], space[1])] if len(space) == 2 else list(itertools.permutations(space, 2))
    n = 1 if len(space) == 2 else len(space)
    fig, panels = plt.subplots(n, n, figsize=(max(5.2, 3.0 * n), max(4.2, 2.8 * n)), squeeze=False)
    filled = None
    for x, y in pairs:
        ax = panels[0][0] if n == 1 else panels[space.index(y)][space.index(x)]
        drawn = _draw_pair(ax, chosen, x, y, levels)
        filled = drawn if drawn is not None else filled
    if n > 1:
        for i, axis in enumerate(space):
            panels[i][i].axis("off")
            panels[i][i].text(0.5, 0.5, literal(axis.name), ha="center", va="center", transform=panels[i][i].transAxes)
    if filled is not None:
        fig.colorbar(filled, ax=panels.ravel().tolist(), label=literal(chosen.name))
    else:
        note(panels[0][0], f"all values are {lo:.6g}" if hi == lo else "no contours")
    fig.suptitle("Contour plot")
    if chosen.n_dropped:
        note(panels[-1][-1] if n > 1 else panels[0][0], dropped(chosen.n_dropped))
    return fig
