"""The hypervolume of a multi-objective study's feasible trials, trial by trial."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING

import _tarvex

from .._hypervolume import hypervolume
from .._space import completed

if TYPE_CHECKING:
    from .._types import StudyView


@dataclass(frozen=True)
class HypervolumeSeries:
    numbers: list[int]  # the feasible completed trials with finite values, in order
    hypervolume: list[float]  # of the trials up to and including each


def hypervolume_series(study: StudyView, reference_point: Sequence[float], where: str) -> HypervolumeSeries:
    if len(study.directions) < 2:
        raise ValueError(f"{where}: the study has one objective; a hypervolume needs two or more")
    reference = [float(r) for r in reference_point]
    if len(reference) != len(study.directions):
        raise ValueError(
            f"{where}: reference_point has {len(reference)} values but the study has {len(study.directions)} objectives"
        )
    signs = [-1.0 if d == _tarvex.StudyDirection.Maximize else 1.0 for d in study.directions]
    ref = [s * r for s, r in zip(signs, reference)]
    numbers: list[int] = []
    volumes: list[float] = []
    front: list[list[float]] = []  # the non-dominated points so far, minimised
    volume = 0.0
    for t in completed(study, where):
        if not t.feasible or not all(math.isfinite(v) for v in t.values):
            continue
        p = [s * v for s, v in zip(signs, t.values)]
        if not any(all(a <= b for a, b in zip(q, p)) for q in front):  # else the volume stays
            front = [q for q in front if not all(a <= b for a, b in zip(p, q))] + [p]
            volume = hypervolume(front, ref)
        numbers.append(t.number)
        volumes.append(volume)
    if not numbers:
        raise ValueError(f"{where}: no feasible completed trial has finite values")
    return HypervolumeSeries(numbers, volumes)


def default_reference(study: StudyView) -> list[float]:
    """A reference point for a study's own hypervolume: a tenth of each objective's range beyond
    its worst value among the feasible completed trials (every completed trial while none is
    feasible)."""
    done = [
        t for t in study.trials if t.state == _tarvex.TrialState.Complete and len(t.values) == len(study.directions)
    ]
    chosen = [t for t in done if t.feasible] or done
    rows = [t.values for t in chosen if all(math.isfinite(v) for v in t.values)]
    if not rows:
        raise ValueError("no completed trial has finite values")
    reference = []
    for k, d in enumerate(study.directions):
        values = [r[k] for r in rows]
        margin = 0.1 * (max(values) - min(values)) or 1.0
        maximize = d == _tarvex.StudyDirection.Maximize
        reference.append(min(values) - margin if maximize else max(values) + margin)
    return reference
