"""Samplers and pruners that pickle and copy as their constructor call and, for a sampler, the
state it carries (its random generators): the compiled object behind them cannot be pickled.
A copy goes on exactly as the original would from there, seed=None or not."""

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
        state = self.saved_state() if hasattr(self, "saved_state") else b""
        return _rebuild, (type(self), args, kwargs, state)

    cls.__init__ = __init__  # type: ignore[misc]
    cls.__reduce__ = __reduce__  # type: ignore[method-assign, assignment]
    return cls


def _rebuild(cls: type, args: tuple[Any, ...], kwargs: dict[str, Any], state: bytes = b"") -> Any:
    made = cls(*args, **kwargs)
    if state:
        made.restore_state(state)
    return made
