"""Parameter distributions as values: what a suggest call asks for, given ahead of the trial
(a search estimator's parameter distributions, Trial.suggest). Their fields are the core's
distribution records'; the bounds, steps and choices are checked where they are used, by the
suggest call, with its messages."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from numbers import Integral, Real
from typing import Any, TypeAlias


def _number(value: Any, what: str, integral: bool = False) -> None:
    kind = Integral if integral else Real
    if isinstance(value, bool) or not isinstance(value, kind):
        raise TypeError(f"{what} must be {'an int' if integral else 'a number'}, got {value!r}")


@dataclass(frozen=True)
class FloatDist:
    """Floats in [low, high]: uniform, on a log scale (log=True, low > 0), or on the grid low,
    low + step, ... (step)."""

    low: float
    high: float
    log: bool = False
    step: float | None = None

    def __post_init__(self) -> None:
        _number(self.low, "FloatDist: low")
        _number(self.high, "FloatDist: high")
        if self.step is not None:
            _number(self.step, "FloatDist: step")
        if type(self.log) is not bool:
            raise TypeError(f"FloatDist: log must be True or False, got {self.log!r}")


@dataclass(frozen=True)
class IntDist:
    """Ints in [low, high] on the grid low, low + step, ..., or on a log scale (log=True, low > 0, step 1)."""

    low: int
    high: int
    log: bool = False
    step: int = 1

    def __post_init__(self) -> None:
        for field in ("low", "high", "step"):
            _number(getattr(self, field), f"IntDist: {field}", integral=True)
        if type(self.log) is not bool:
            raise TypeError(f"IntDist: log must be True or False, got {self.log!r}")


@dataclass(frozen=True)
class CategoricalDist:
    """One of choices (None, bool, int, float and str values, mixed as needed)."""

    choices: tuple[Any, ...]

    def __init__(self, choices: Sequence[Any]) -> None:
        if isinstance(choices, (str, bytes)) or not isinstance(choices, Sequence) or not choices:
            raise TypeError(f"CategoricalDist: choices must be a non-empty list or tuple, got {choices!r}")
        object.__setattr__(self, "choices", tuple(choices))


ParamDist: TypeAlias = FloatDist | IntDist | CategoricalDist
