"""Trials: the running one an objective receives, and the finished ones a study reports."""

from __future__ import annotations

import datetime
from collections.abc import Sequence
from typing import Any

import _tarvex

from ._distributions import CategoricalDist, FloatDist, IntDist, ParamDist
from ._values import decode_attrs, decode_params, decode_text, encode_attr, encode_choice

TrialState = _tarvex.TrialState
# The compiled trial's own operations, called directly on the package's trials.
_suggest_float = _tarvex.Trial.suggest_float_kw
_suggest_int = _tarvex.Trial.suggest_int_kw
_suggest_categorical = _tarvex.Trial.suggest_categorical_kw
_params = _tarvex.Trial.params
_user_attrs = _tarvex.Trial.user_attrs


class Trial(_tarvex.Trial):
    """The running trial an objective receives: it asks for parameter values, may report
    intermediate values (report) and ask whether to stop (should_prune), and may keep user
    attributes.

    A parameter asked for a second time returns the value it got the first time; asking for it
    as another kind or with other bounds in the same trial raises ValueError."""

    # The directions of the trial's study, for integrations that check what they report; None
    # in a trial that no study of this package made.
    _directions: tuple[_tarvex.StudyDirection, ...] | None = None

    # The package's suggest calls take step and log by keyword, where the compiled trial's take
    # them by position: the signatures differ on purpose.
    def suggest_float(  # type: ignore[override]
        self, name: str, low: float, high: float, *, step: float | None = None, log: bool = False
    ) -> float:
        """A float in [low, high]: uniform, on a log scale (log=True, low > 0), or on the grid
        low, low + step, ... (step). Bounds and step are checked, with ValueError naming them."""
        return _suggest_float(self, name, low, high, step, log)

    def suggest_int(  # type: ignore[override]
        self, name: str, low: int, high: int, *, step: int = 1, log: bool = False
    ) -> int:
        """An int in [low, high] on the grid low, low + step, ..., or on a log scale (log=True,
        low > 0, step 1)."""
        return _suggest_int(self, name, low, high, step, log)

    def suggest_categorical(self, name: str, choices: Sequence[Any]) -> Any:
        """One of choices, which may mix None, bool, int, float and str (numpy scalars count as
        the values they hold); the chosen object comes back with its own type, here and in every
        record of the trial."""
        if isinstance(choices, (str, bytes)) or not isinstance(choices, Sequence):
            raise TypeError(
                f"suggest_categorical({name!r}): choices must be a list or tuple, not {type(choices).__name__}"
            )
        where = f"suggest_categorical({name!r})"
        return decode_text(_suggest_categorical(self, name, [encode_choice(c, where) for c in choices]))

    def suggest(self, name: str, distribution: ParamDist) -> Any:
        """The value of name from a distribution given as a value (tv.FloatDist, tv.IntDist or
        tv.CategoricalDist): the same as the suggest_* call it stands for."""
        if isinstance(distribution, FloatDist):
            d = distribution
            return self.suggest_float(name, d.low, d.high, step=d.step, log=d.log)
        if isinstance(distribution, IntDist):
            return self.suggest_int(
                name, distribution.low, distribution.high, step=distribution.step, log=distribution.log
            )
        if isinstance(distribution, CategoricalDist):
            return self.suggest_categorical(name, distribution.choices)
        raise TypeError(
            f"suggest({name!r}): distribution must be a tv.FloatDist, tv.IntDist or tv.CategoricalDist, "
            f"got {distribution!r}"
        )

    def set_user_attr(self, key: str, value: Any) -> None:
        """Keeps any JSON-serialisable value with the trial."""
        super().set_user_attr(key, encode_attr(key, value))

    def get_user_attr(self, key: str) -> Any:
        return decode_text(super().get_user_attr(key))

    @property
    def user_attrs(self) -> dict[str, Any]:
        return decode_attrs(_user_attrs.__get__(self))

    @property
    def params(self) -> dict[str, Any]:
        """The values suggested so far."""
        return decode_params(_params.__get__(self))

    def __repr__(self) -> str:
        return f"<tarvex.Trial {self.number} running, params {self.params}>"


class FrozenTrial:
    """A trial as its study keeps it: finished, or with a database storage possibly still running
    in some process (state Running, with the parameters suggested so far)."""

    __slots__ = ("_core",)

    def __init__(self, core: _tarvex.Trial) -> None:
        self._core = core

    number = property(lambda self: self._core.number, doc="The trial's number, unique in its study.")
    state = property(lambda self: self._core.state, doc="Running, Complete, Pruned or Failed.")
    values = property(lambda self: self._core.values, doc="One value per direction; empty unless Complete.")
    intermediate_values = property(
        lambda self: self._core.intermediate_values, doc="The (step, value) reports, in report order."
    )
    distributions = property(
        lambda self: self._core.distributions,
        doc="Each parameter's distribution: kind ('float', 'int', 'categorical') and "
        "low, high, log, step or choices; empty for trials added with add_trial.",
    )
    datetime_start = property(lambda self: self._core.datetime_start)
    fail_reason = property(
        lambda self: self._core.fail_reason,
        doc="Why a Failed trial failed (exception type and message); None for the others.",
    )
    constraints = property(
        lambda self: self._core.constraints,
        doc="The values the study's constraints gave the trial (feasible when each is <= 0); empty without them.",
    )
    feasible = property(
        lambda self: self._core.feasible, doc="Whether every constraint value is <= 0 (True without constraints)."
    )
    system_attrs = property(
        lambda self: self._core.system_attrs,
        doc="What tarvex noted about the trial: presumed_lost for one declared lost (its "
        "heartbeat stopped) whose process finished it after all.",
    )

    @property
    def value(self) -> float | None:
        """The single value; None for a trial without one. Multi-objective trials have values."""
        values = self._core.values
        if len(values) > 1:
            raise RuntimeError("value is for single-objective trials; use values")
        return values[0] if values else None

    @property
    def params(self) -> dict[str, Any]:
        return decode_params(self._core.params)

    @property
    def user_attrs(self) -> dict[str, Any]:
        return decode_attrs(self._core.user_attrs)

    @property
    def datetime_complete(self) -> datetime.datetime | None:
        return self._core.datetime_complete if self._core.state != TrialState.Running else None

    @property
    def duration(self) -> datetime.timedelta | None:
        end = self.datetime_complete
        return None if end is None else end - self._core.datetime_start

    def __eq__(self, other: object) -> bool:
        """Equal when every field is (NaN equal to NaN): a copy, a pickled trial read back."""
        if not isinstance(other, FrozenTrial):
            return NotImplemented
        return _fields(self) == _fields(other)

    __hash__ = None  # type: ignore[assignment]

    def __getstate__(self) -> _tarvex.Trial:
        return self._core

    def __setstate__(self, core: _tarvex.Trial) -> None:
        self._core = core

    def __repr__(self) -> str:
        shown = self._core.values if len(self._core.values) != 1 else self._core.values[0]
        return f"<tarvex.FrozenTrial {self.number} {self.state.name} value={shown} params={self.params}>"


def _fields(trial: FrozenTrial) -> tuple[Any, ...]:
    core = trial._core
    # repr tells NaN, -0.0 and the like apart where == would not.
    return (
        core.number,
        core.state,
        repr(core.values),
        repr(list(core.params.items())),
        repr(core.intermediate_values),
        core.distributions,
        core.user_attrs,
        core.system_attrs,
        core.datetime_start,
        trial.datetime_complete,
        core.fail_reason,
        repr(core.constraints),
    )
