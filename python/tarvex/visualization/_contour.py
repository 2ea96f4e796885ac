"""Contour plots: the value over pairs of parameters, interpolated between trials only."""

from __future__ import annotations

import itertools
from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._plotdata.contour import merge_points, pair_points
from .._plotdata.slices import coordinate, slices
from .._space import Axis, Target
from ._common import VALUE_MAP, dropped, given_axes, literal, note, pyplot
from ._slice import place

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def _draw_pair(ax: Any, chosen: Target, x: Axis, y: Axis, levels: list[float]) -> Any:
    from matplotlib.tri import Triangulation

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
    merged = merge_points(xs, ys, zs, x.log, y.log) if len(levels) > 1 else None
    triangles = None
    if merged is not None:
        try:
            triangles = Triangulation(merged.tx, merged.ty)
        except (RuntimeError, ValueError):  # all points on one line
            pass
    if merged is not None and triangles is not None:
        # The same triangles, drawn on the plot's axes.
        grid = Triangulation([p for p, _ in merged.points], [q for _, q in merged.points], triangles.triangles)
        filled = ax.tricontourf(grid, merged.values, levels=levels, cmap=VALUE_MAP, alpha=0.85)
    if filled is None:
        note(ax, "too few trials spread over this pair for contours")
    ax.scatter(xs, ys, c="black", s=8, zorder=3)
    place(ax, x, "x")
    place(ax, y, "y")
    return filled


def plot_contour(
    study: StudyView,
    params: Iterable[str] | None = None,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
    ax: Any = None,
) -> Any:
    """The value over each pair of parameters (all, or params): filled contours interpolated
    between the completed trials (never outside them), the trials as dots. A pair with a
    categorical parameter shows the trials alone, coloured by value. Two parameters give one
    panel, more give a grid of every pair. Returns the Figure it drew on; given ax (one Axes for
    two parameters, n x n for n), it draws there."""
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
    given = given_axes(ax, n * n, where)
    if given is None:
        fig, grid = plt.subplots(n, n, figsize=(max(5.2, 3.0 * n), max(4.2, 2.8 * n)), squeeze=False)
        panels = [list(row) for row in grid]
    else:
        fig = given[0].figure
        panels = [given[i * n : (i + 1) * n] for i in range(n)]
    filled = None
    for x, y in pairs:
        panel = panels[0][0] if n == 1 else panels[space.index(y)][space.index(x)]
        drawn = _draw_pair(panel, chosen, x, y, levels)
        filled = drawn if drawn is not None else filled
    if n > 1:
        for i, axis in enumerate(space):
            panels[i][i].axis("off")
            panels[i][i].text(0.5, 0.5, literal(axis.name), ha="center", va="center", transform=panels[i][i].transAxes)
    if filled is not None:
        fig.colorbar(filled, ax=[a for row in panels for a in row], label=literal(chosen.name))
    else:
        note(panels[0][0], f"all values are {lo:.6g}" if hi == lo else "no contours")
    fig.suptitle("Contour plot")
    if chosen.n_dropped:
        note(panels[-1][-1] if n > 1 else panels[0][0], dropped(chosen.n_dropped))
    return fig
