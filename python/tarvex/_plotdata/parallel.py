"""Parallel coordinates: one column per parameter, one line per trial."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from .._space import Axis, axes, target_of
from .common import dropped

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


@dataclass(frozen=True)
class Column:
    name: str
    ticks: list[float]  # positions in [0, 1]
    labels: list[str]


@dataclass(frozen=True)
class Coordinates:
    columns: list[Column]  # the objective first, then the parameters
    lines: list[list[float]]  # per trial, its position in [0, 1] on every column
    values: list[float]
    numbers: list[int]
    value_name: str
    notes: list[str]


def coordinates(
    study: StudyView,
    params: Iterable[str] | None,
    target: Callable[[FrozenTrial], float] | None,
    target_name: str | None,
    where: str,
) -> Coordinates:
    chosen = target_of(study, target, target_name, where)
    space = axes(chosen.trials, params, where)
    rows = [(t, v) for t, v in zip(chosen.trials, chosen.values) if all(a.name in t.params for a in space)]
    notes = [dropped(chosen.n_dropped)] if chosen.n_dropped else []
    if len(rows) < len(chosen.trials):
        notes.append(f"{len(chosen.trials) - len(rows)} trial(s) without all of these parameters not shown")
    if not rows:
        raise ValueError(f"{where}: no completed trial has all of the parameters {', '.join(a.name for a in space)}")
    values = [v for _, v in rows]
    value_axis = Axis(chosen.name, "float", min(values), max(values))
    columns = [_column(value_axis, values)] + [_column(a, [t.params[a.name] for t, _ in rows]) for a in space]
    lines = [[_scaled(value_axis, v)] + [_scaled(a, t.params[a.name]) for a in space] for t, v in rows]
    return Coordinates(columns, lines, values, [t.number for t, _ in rows], chosen.name, notes)


def _scaled(axis: Axis, value: Any) -> float:
    lo, hi = _extent(axis)
    return 0.5 if hi == lo else (axis.position(value) - lo) / (hi - lo)


def _extent(axis: Axis) -> tuple[float, float]:
    if axis.categorical:
        return 0.0, float(len(axis.choices) - 1)
    return axis.position(axis.low), axis.position(axis.high)


def _column(axis: Axis, values: list[Any]) -> Column:
    if axis.categorical:
        return Column(axis.name, [_scaled(axis, c) for c in axis.choices], [axis.label(c) for c in axis.choices])
    lo, hi = _extent(axis)
    positions = [lo] if hi == lo else [lo + (hi - lo) * k / 4 for k in range(5)]
    ticks = [10**p if axis.log else p for p in positions]
    if axis.kind == "int":
        ticks = sorted({round(t) for t in ticks})
    return Column(axis.name, [_scaled(axis, t) for t in ticks], [f"{t:.3g}" for t in ticks])
