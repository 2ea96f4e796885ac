"""The Pareto front of a study with two or three objectives."""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import _tarvex

from .._space import completed
from ._common import dropped, literal, note, pyplot

if TYPE_CHECKING:
    from .._study import Study
    from .._trial import FrozenTrial


@dataclass(frozen=True)
class Front:
    names: list[str]
    front: list[tuple[int, list[float]]]  # (trial number, values), sorted by the first value
    dominated: list[tuple[int, list[float]]]
    n_dropped: int


def pareto(
    study: Study,
    targets: Callable[[FrozenTrial], Sequence[float]] | None,
    target_names: Sequence[str] | None,
    where: str,
) -> Front:
    if targets is None and len(study.directions) not in (2, 3):
        raise ValueError(
            f"{where}: the study has {len(study.directions)} objective(s); a Pareto front is "
            "drawn for 2 or 3 (pass targets=lambda t: (..., ...) to choose them)"
        )
    trials = completed(study, where)
    if targets is None:
        signs = [1.0 if d == _tarvex.StudyDirection.Minimize else -1.0 for d in study.directions]
        points = [(t.number, list(t.values)) for t in trials]
    else:
        points = [(t.number, [float(v) for v in targets(t)]) for t in trials]
        signs = [1.0] * len(points[0][1])  # derived targets are minimised
        if len(signs) not in (2, 3) or any(len(p) != len(signs) for _, p in points):
            raise ValueError(f"{where}: targets must give 2 or 3 values for every trial")
    names = (
        list(target_names)
        if target_names is not None
        else [
            f"Objective {i}" + (f" ({d.name.lower()})" if targets is None else "")
            for i, d in enumerate(study.directions if targets is None else [None] * len(signs))
        ]
    )
    if len(names) != len(signs):
        raise ValueError(f"{where}: target_names must name the {len(signs)} objectives, got {len(names)}")
    finite = [(n, p) for n, p in points if all(math.isfinite(v) for v in p)]
    if not finite:
        raise ValueError(f"{where}: none of the {len(points)} completed trials has finite values")
    front = nondominated(finite, signs)
    on_front = {number for number, _ in front}
    dominated = [(n, p) for n, p in finite if n not in on_front]
    return Front(names, sorted(front, key=lambda item: item[1][0]), dominated, len(points) - len(finite))


def nondominated(points: Sequence[tuple[int, list[float]]], signs: Sequence[float]) -> list[tuple[int, list[float]]]:
    """The points no other point dominates (equal points do not dominate each other). In
    lexicographic order of the signed values a point can be dominated only by one before it, and
    then by one already on the front: a sweep compares each point with the front alone."""
    order = sorted(points, key=lambda item: [s * v for s, v in zip(signs, item[1])])
    front: list[tuple[int, list[float]]] = []
    for number, p in order:
        if not any(_dominates(q, p, signs) for _, q in front):
            front.append((number, p))
    return front


def _dominates(a: list[float], b: list[float], signs: list[float]) -> bool:
    no_worse = all(s * x <= s * y for x, y, s in zip(a, b, signs))
    return no_worse and any(s * x < s * y for x, y, s in zip(a, b, signs))


def plot_pareto_front(
    study: Study,
    *,
    targets: Callable[[FrozenTrial], Sequence[float]] | None = None,
    target_names: Sequence[str] | None = None,
) -> Any:
    """The completed trials in objective space: the Pareto front (no other trial is at least as good
    in every objective and better in one) in colour and joined, dominated trials in grey. Two or
    three objectives, or targets giving 2 or 3 values to minimise. Returns an Axes (3-D for three)."""
    where = "plot_pareto_front"
    plt = pyplot(where)
    data = pareto(study, targets, target_names, where)
    three = len(data.names) == 3
    fig = plt.figure(figsize=(6.4, 4.8))
    ax = fig.add_subplot(projection="3d" if three else None)
    for points, style in (
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
