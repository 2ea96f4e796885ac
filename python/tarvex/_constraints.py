"""Constraints: what a study's constraints function makes of a trial, checked."""

from __future__ import annotations

from collections.abc import Callable, Sequence
from numbers import Real
from typing import Any

ConstraintsFunc = Callable[[Any], Sequence[float]]


def check_constraints(constraints: Any) -> None:
    if constraints is not None and not callable(constraints):
        raise TypeError(
            f"constraints must be a function of the trial returning a sequence of floats, or None, got {constraints!r}"
        )


def constraint_values(result: Any) -> list[float]:
    """The values a constraints function returned, as floats; TypeError for anything but a
    sequence of real numbers (a NaN stands for a violation)."""
    try:
        items = list(result)
    except TypeError:
        items = None
    if items is None or isinstance(result, (str, bytes)) or not all(_real(v) for v in items):
        raise TypeError(f"constraints must return a sequence of real numbers, got {result!r}")
    return [float(v) for v in items]


def _real(v: Any) -> bool:
    if isinstance(v, bool):
        return False
    if isinstance(v, Real):
        return True
    # numpy scalars are not registered as numbers.Real in every version
    return hasattr(v, "dtype") and getattr(v.dtype, "kind", "") in "fiu" and getattr(v, "ndim", 1) == 0


def with_constraints(objective: Callable[[Any], Any], constraints: ConstraintsFunc | None) -> Callable[[Any], Any]:
    """The objective that also computes the trial's constraints once it returns; an error there
    counts as the objective's."""
    if constraints is None:
        return objective

    def constrained(trial: Any) -> Any:
        result = objective(trial)
        trial.constraints = constraint_values(constraints(trial))
        return result

    return constrained
