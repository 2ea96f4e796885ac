"""The Pareto front of a study with two or three objectives."""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING

import _tarvex

from .._records import objective_labels
from .._space import completed

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


@dataclass(frozen=True)
class Front:
    names: list[str]
    front: list[tuple[int, list[float]]]  # (trial number, values), sorted by the first value
    dominated: list[tuple[int, list[float]]]
    n_dropped: int
    infeasible: list[tuple[int, list[float]]]  # trials that violate their constraints: never on the front


def pareto(
    study: StudyView,
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
    violating = {t.number for t in trials if not t.feasible}
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
            _label(study, i) + (f" ({study.directions[i].name.lower()})" if targets is None else "")
            for i in range(len(signs))
        ]
    )
    if len(names) != len(signs):
        raise ValueError(f"{where}: target_names must name the {len(signs)} objectives, got {len(names)}")
    finite = [(n, p) for n, p in points if all(math.isfinite(v) for v in p)]
    if not finite:
        raise ValueError(f"{where}: none of the {len(points)} completed trials has finite values")
    feasible = [(n, p) for n, p in finite if n not in violating]
    front = nondominated(feasible, signs)
    on_front = {number for number, _ in front}
    dominated = [(n, p) for n, p in feasible if n not in on_front]
    infeasible = [(n, p) for n, p in finite if n in violating]
    return Front(names, sorted(front, key=lambda item: item[1][0]), dominated, len(points) - len(finite), infeasible)


def _label(study: StudyView, i: int) -> str:
    names = objective_labels(study)
    return names[i] if names[i] != str(i) else f"Objective {i}"


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


def _dominates(a: Sequence[float], b: Sequence[float], signs: Sequence[float]) -> bool:
    no_worse = all(s * x <= s * y for x, y, s in zip(a, b, signs))
    return no_worse and any(s * x < s * y for x, y, s in zip(a, b, signs))
