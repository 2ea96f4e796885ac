"""The search space as a study's trials used it: one axis per parameter, and each trial's position
on it. Plots and importances share these positions, so a log-scaled parameter is spread evenly by
its exponent and a categorical one by its choices everywhere."""

from __future__ import annotations

import math
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import _tarvex

from ._records import counts_text
from ._values import decode_text

if TYPE_CHECKING:
    from ._trial import FrozenTrial
    from ._types import StudyView

TrialState = _tarvex.TrialState


@dataclass(frozen=True)
class Axis:
    """One parameter: its kind ("float", "int", "categorical"), its bounds, and for a categorical
    parameter its choices in the order positions 0, 1, ... stand for."""

    name: str
    kind: str
    low: float
    high: float
    log: bool = False
    choices: tuple[Any, ...] = ()

    @property
    def categorical(self) -> bool:
        return self.kind == "categorical"

    def position(self, value: Any) -> float:
        """Where value lies on this axis: log10 of it on a log scale, its index among the choices."""
        if self.categorical:
            return float(_index(self.choices, value))
        return math.log10(value) if self.log else float(value)

    def bounds(self) -> tuple[float, float]:
        """The axis' extent in positions; an int's or a choice's cell is centred on its value."""
        if self.categorical:
            return -0.5, len(self.choices) - 0.5
        if self.log:
            return math.log10(self.low), math.log10(self.high)
        if self.kind == "int":
            return self.low - 0.5, self.high + 0.5
        return self.low, self.high

    def label(self, value: Any) -> str:
        return _shown(value)


def axes(trials: Sequence[FrozenTrial], params: Iterable[str] | None, where: str) -> list[Axis]:
    """One axis per parameter the trials used, by name (or per name in params, in that order, each
    of which some trial must have used). Bounds cover the newest distribution and every value seen."""
    seen: dict[str, list[tuple[Any, dict[str, Any] | None]]] = {}
    for trial in trials:
        dists = trial.distributions
        for name, value in trial.params.items():
            seen.setdefault(name, []).append((value, dists.get(name)))
    if params is None:
        names = sorted(seen)
    else:
        if isinstance(params, str):
            raise TypeError(f"{where}: params must be a list of parameter names, not a str")
        names = list(params)
        unknown = [n for n in names if n not in seen]
        if unknown:
            raise ValueError(
                f"{where}: no trial has the parameter(s) {', '.join(map(repr, unknown))}; "
                f"the trials have {', '.join(map(repr, seen)) or 'no parameters'}"
            )
    return [_axis(name, seen[name]) for name in names]


def _axis(name: str, uses: list[tuple[Any, dict[str, Any] | None]]) -> Axis:
    values = [v for v, _ in uses]
    newest = next((d for _, d in reversed(uses) if d is not None), None)
    categorical = (newest is not None and newest["kind"] == "categorical") or any(
        type(v) not in (int, float) for v in values
    )
    if categorical:
        choices: list[Any] = [decode_text(c) for c in newest["choices"]] if newest and "choices" in newest else []
        for v in values:
            if not _contains(choices, v):
                choices.append(v)
        return Axis(name, "categorical", 0.0, float(len(choices) - 1), choices=tuple(choices))
    kind = newest["kind"] if newest else ("int" if all(type(v) is int for v in values) else "float")
    low = min(values + ([newest["low"]] if newest else []))
    high = max(values + ([newest["high"]] if newest else []))
    log = bool(newest and newest["log"]) and low > 0
    return Axis(name, kind, float(low), float(high), log)


def _contains(choices: list[Any], value: Any) -> bool:
    return any(type(c) is type(value) and c == value for c in choices)


def _index(choices: Sequence[Any], value: Any) -> int:
    # 1 and True and 1.0 are different choices; compare type as well as value.
    for i, c in enumerate(choices):
        if type(c) is type(value) and c == value:
            return i
    raise ValueError(f"{value!r} is not among the choices {choices!r}")


def _shown(value: Any) -> str:
    return "None" if value is None else str(value)


@dataclass(frozen=True)
class Target:
    """The values a plot or an importance is about: trials with a finite target value, and how
    many completed trials were left out because theirs was NaN or infinite."""

    trials: list[FrozenTrial]
    values: list[float]
    name: str
    minimize: bool
    n_dropped: int


def target_of(
    study: StudyView, target: Callable[[FrozenTrial], float] | None, target_name: str | None, where: str
) -> Target:
    """The completed trials and their value (a single-objective study's value, or target(trial))."""
    multi = len(study.directions) > 1
    if target is None and multi:
        raise ValueError(
            f"{where}: the study has {len(study.directions)} objectives; pass "
            "target=lambda t: t.values[i] (and target_name=) to choose what to show"
        )
    if target is not None and not callable(target):
        raise TypeError(f"{where}: target must be a function of a trial, got {target!r}")
    trials = completed(study, where)
    values = [float(target(t)) if target is not None else t.values[0] for t in trials]
    kept = [(t, v) for t, v in zip(trials, values) if math.isfinite(v)]
    if not kept:
        raise ValueError(f"{where}: none of the {len(trials)} completed trials has a finite value to show")
    minimize = target is not None or study.directions[0] == _tarvex.StudyDirection.Minimize
    name = target_name if target_name is not None else ("Objective value" if target is None else "Target")
    return Target([t for t, _ in kept], [v for _, v in kept], name, minimize, len(trials) - len(kept))


def completed(study: StudyView, where: str) -> list[FrozenTrial]:
    trials = study.trials
    done = [t for t in trials if t.state == TrialState.Complete]
    if not done:
        states = counts_text(trials)
        raise ValueError(f"{where}: the study has no completed trials" + (f" ({states})" if states else ""))
    return done
