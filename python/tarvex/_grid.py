"""The grid sampler."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

import _tarvex

from ._replay import replayable
from ._samplers import core_seed
from ._values import encode_choice, plain

_INT32 = range(-(2**31), 2**31)


def _core_value(value: Any, where: str) -> float | int | str:
    """A grid value as the core holds it: numbers as numbers (for suggest_float and suggest_int),
    anything else as the text of a categorical choice."""
    value = plain(value)
    if type(value) is float:
        return value
    if type(value) is int and value in _INT32:
        return value
    return encode_choice(value, where)


@replayable
class GridSampler(_tarvex.GridSampler):
    """Grid search: every combination of the values given per name, each evaluated once, in an
    order shuffled by ``seed``. Choose it for small discrete spaces that must be covered exactly,
    or to reproduce a grid search. Threads and processes sharing a database study take each point
    once; a run stops by itself when every point is taken. A suggest call for a name outside the
    grid, or one that cannot produce the grid's value (a value outside its range), fails the trial
    with ValueError. Numbers serve ``suggest_float``, ``suggest_int`` and a ``suggest_categorical``
    with the same number among its choices; other values (text, bool, None) serve
    ``suggest_categorical``.

    Args:
        grid: the values per name, for example ``{"lr": [0.1, 0.01], "kernel": ["rbf", "linear"]}``.
        seed: the order of the points; None takes a fresh one from the system.
    """

    def __init__(self, grid: Mapping[str, Sequence[Any]], seed: int | None = None) -> None:
        if not isinstance(grid, Mapping) or not grid:
            raise ValueError(f"grid must be a non-empty mapping of names to lists of values, got {grid!r}")
        core: dict[str, list[float | int | str]] = {}
        for name, values in grid.items():
            if not isinstance(name, str):
                raise TypeError(f"grid: names are str, not {type(name).__name__}")
            if isinstance(values, (str, bytes)) or not isinstance(values, Sequence) or len(values) == 0:
                raise ValueError(f"grid[{name!r}] must be a non-empty list of values, got {values!r}")
            core[name] = [_core_value(v, f"grid[{name!r}]") for v in values]
        super().__init__(core, core_seed(seed))
        self._grid = {name: list(values) for name, values in grid.items()}
        self._seed = seed

    def __repr__(self) -> str:
        return f"GridSampler({self._grid!r}, seed={self._seed!r})"
