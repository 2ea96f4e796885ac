"""Contours: the value over pairs of parameters."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

from .._space import Axis, Target


def pair_points(chosen: Target, x: Axis, y: Axis) -> list[tuple[Any, Any, float]]:
    """(x value, y value, objective value) of the trials that have both parameters."""
    return [
        (t.params[x.name], t.params[y.name], v)
        for t, v in zip(chosen.trials, chosen.values)
        if x.name in t.params and y.name in t.params
    ]


@dataclass(frozen=True)
class MergedPoints:
    """Distinct trial positions of a pair, each with the mean value of the trials there."""

    points: list[tuple[float, float]]  # on the plot's axes
    tx: list[float]  # in exponent space for log-scaled axes, where contours are interpolated
    ty: list[float]
    values: list[float]


def merge_points(xs: list[float], ys: list[float], zs: list[float], x_log: bool, y_log: bool) -> MergedPoints | None:
    """Trials at one point (integers and steps repeat) count as one, at their mean value: a
    triangulation of repeated points would be degenerate and slow. None for fewer than three
    distinct points. Contours interpolate inside the trials' hull only."""
    merged: dict[tuple[float, float], list[float]] = {}
    for x, y, z in zip(xs, ys, zs):
        merged.setdefault((x, y), []).append(z)
    if len(merged) < 3:
        return None
    points = list(merged)
    tx = [math.log10(x) if x_log else x for x, _ in points]
    ty = [math.log10(y) if y_log else y for _, y in points]
    return MergedPoints(points, tx, ty, [sum(v) / len(v) for v in merged.values()])


def grid_values(
    merged: MergedPoints, x_log: bool, y_log: bool, size: int = 60
) -> tuple[list[float], list[float], list[list[float | None]]] | None:
    """The values linearly interpolated on a size x size grid over the trials' box, None outside
    their hull; None when SciPy, which triangulates, is missing or the points are on one line."""
    try:
        import numpy as np
        from scipy.interpolate import LinearNDInterpolator
        from scipy.spatial import Delaunay
    except ImportError:
        return None
    tx, ty = np.asarray(merged.tx, float), np.asarray(merged.ty, float)
    try:
        triangles = Delaunay(np.column_stack([tx, ty]))
    except (RuntimeError, ValueError):  # all points on one line
        return None
    interpolate = LinearNDInterpolator(triangles, np.asarray(merged.values, float))
    gx = np.linspace(tx.min(), tx.max(), size)
    gy = np.linspace(ty.min(), ty.max(), size)
    z = interpolate(*np.meshgrid(gx, gy))
    rows = [[None if math.isnan(v) else float(v) for v in row] for row in z]
    return (10**gx if x_log else gx).tolist(), (10**gy if y_log else gy).tolist(), rows
