"""Samplers and pruners that pickle and copy as their constructor call: the compiled object
behind them cannot be pickled, and what makes one is its arguments. A copy starts afresh: it
proposes what a new sampler of those arguments would, and a seed of None draws a new seed."""

from __future__ import annotations

import functools
from typing import Any, TypeVar

T = TypeVar("T", bound=type)


def replayable(cls: T) -> T:
    """cls, whose instances remember their constructor's arguments and pickle as a call with them."""
    init = cls.__init__  # type: ignore[misc]

    @functools.wraps(init)
    def __init__(self: Any, *args: Any, **kwargs: Any) -> None:
        init(self, *args, **kwargs)
        self._replay = (args, kwargs)

    def __reduce__(self: Any) -> tuple[Any, ...]:
        args, kwargs = self._replay
        return _rebuild, (type(self), args, kwargs)

    cls.__init__ = __init__  # type: ignore[misc]
    cls.__reduce__ = __reduce__  # type: ignore[method-assign, assignment]
    return cls


def _rebuild(cls: type, args: tuple[Any, ...], kwargs: dict[str, Any]) -> Any:
    return cls(*args, **kwargs)
