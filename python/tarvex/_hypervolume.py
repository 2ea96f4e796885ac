"""The hypervolume of a set of objective vectors: the measure fronts are compared by."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import _tarvex

from ._directions import parse_direction


def hypervolume(points: Any, reference: Sequence[float], *, directions: Sequence[Any] | None = None) -> float:
    """The volume that points (one objective vector each, a list of lists or an (n, d) array)
    dominate up to reference, exactly: every objective minimised unless directions says which
    are maximised ("minimize"/"maximize" or tv.StudyDirection, one per objective). Points that
    are not better than the reference in every objective add nothing. Two and three objectives
    take O(n log n); more slice the last objective and recurse (While et al. 2006).

    >>> tv.hypervolume([[1, 3], [2, 2], [3, 1]], [4, 4])
    6.0
    """
    rows = points.tolist() if hasattr(points, "tolist") else [list(p) for p in points]
    ref = reference.tolist() if hasattr(reference, "tolist") else list(reference)
    if directions is not None:
        flip = [parse_direction(d) == _tarvex.StudyDirection.Maximize for d in directions]
        if len(flip) != len(ref):
            raise ValueError(f"hypervolume: {len(flip)} directions for a reference of {len(ref)} objectives")
        rows = [[-v if f else v for v, f in zip(row, flip)] for row in rows]
        ref = [-v if f else v for v, f in zip(ref, flip)]
    try:
        return float(_tarvex.hypervolume(rows, ref))
    except TypeError:
        raise TypeError("hypervolume: points must be rows of numbers and reference a sequence of numbers") from None
