"""Slices: the value against each parameter on its own."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._space import Axis, Target, axes, target_of

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def slices(
    study: StudyView,
    params: Iterable[str] | None,
    target: Callable[[FrozenTrial], float] | None,
    target_name: str | None,
    where: str,
) -> tuple[Target, list[Axis], dict[str, list[tuple[Any, float, int]]]]:
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


def coordinate(axis: Axis, value: Any) -> float:
    """Where a value is drawn: the value itself on a numeric (log-scaled or not) axis, the index of
    the choice on a categorical one."""
    return axis.position(value) if axis.categorical else float(value)
