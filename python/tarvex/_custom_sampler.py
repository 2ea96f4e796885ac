"""Samplers written in Python: subclass tv.CustomSampler."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from functools import cached_property
from typing import Any

import _tarvex

from ._trial import FrozenTrial
from ._values import decode_params, decode_text, encode_choice, encode_param


@dataclass(frozen=True)
class Distribution:
    """What a suggest call asked for: kind ("float", "int" or "categorical") with low, high, log
    and step (None for a continuous float), or the choices of a categorical parameter."""

    kind: str
    low: float | int | None = None
    high: float | int | None = None
    log: bool = False
    step: float | int | None = None
    choices: tuple[Any, ...] = ()


def _distribution(core: Mapping[str, Any]) -> Distribution:
    if core["kind"] == "categorical":
        return Distribution("categorical", choices=tuple(decode_text(c) for c in core["choices"]))
    return Distribution(core["kind"], core["low"], core["high"], core["log"], core["step"])


class History:
    """A study's trials as a sampler sees them when it proposes: read it during the call."""

    def __init__(self, core: Any) -> None:
        self._core = core

    @property
    def directions(self) -> list[_tarvex.StudyDirection]:
        return list(self._core.directions)

    @cached_property
    def trials(self) -> list[FrozenTrial]:
        """The study's stored trials, ascending number: finished ones, and running ones that a
        database shared by processes keeps."""
        return [FrozenTrial(t) for t in self._core.trials]

    @cached_property
    def pending(self) -> list[dict[str, Any]]:
        """The configurations of the study's other running trials (of every process sharing a
        database): propose so that concurrent trials do not all go to the same place."""
        return [decode_params(p) for p in self._core.pending]

    @staticmethod
    def distribution(trial: FrozenTrial, name: str) -> Distribution:
        """The distribution trial asked for name with (KeyError if it asked for none)."""
        return _distribution(trial.distributions[name])


class CustomSampler:
    """Base class of a sampler written in Python; pass an instance as create_study's sampler.

    When a trial first asks for a value, propose(history, trial) may return a whole configuration
    (a dict) from the study's history; the trial's suggest calls take those values. Every name
    outside the proposal, or whose proposed value the call's distribution cannot produce, goes to
    sample(trial, name, distribution). after_trial(trial) is told of every finished trial before
    it is stored. A study's propose and sample calls come one at a time, from whichever thread
    runs the trial; after_trial may come meanwhile from another, and a sampler shared by studies
    serves them at once: state those calls share needs a lock of its own.

    A proposed value of a categorical parameter is one of its choices, recognised by the
    parameter's distribution in the history's trials."""

    def propose(self, history: History, trial: FrozenTrial) -> Mapping[str, Any] | None:
        """A configuration for trial, or None (the default) to sample each name on its own."""
        return None

    def sample(self, trial: FrozenTrial, name: str, distribution: Distribution) -> Any:
        """The value of one parameter: a number within the bounds (on the grid of a stepped one) or
        one of the choices."""
        raise NotImplementedError(f"{type(self).__name__} must define sample(trial, name, distribution)")

    def after_trial(self, trial: FrozenTrial) -> None:
        """Told of each finished trial (Complete, Pruned or Failed); by default nothing."""

    @cached_property
    def _core(self) -> _tarvex.ISampler:
        return _Bridge(self)

    def __getstate__(self) -> dict[str, Any]:
        state = self.__dict__.copy()
        state.pop("_core", None)  # the compiled bridge, made again when first needed
        return state


class _Bridge(_tarvex.ISampler):
    """The core's view of a CustomSampler: the core's calls in, the package's types out."""

    def __init__(self, sampler: CustomSampler) -> None:
        super().__init__()
        self._sampler = sampler

    def propose(self, core_history: Any, core_trial: _tarvex.Trial) -> dict[str, Any] | None:
        history = History(core_history)
        proposal = self._sampler.propose(history, FrozenTrial(core_trial))
        if proposal is None:
            return None
        if not isinstance(proposal, Mapping):
            raise TypeError(f"propose must return a dict of parameter values or None, not {type(proposal).__name__}")
        categorical = _categorical_names(history.trials)
        out = {}
        for name, value in proposal.items():
            where = f"propose: parameter {name!r}"
            out[name] = encode_choice(value, where) if name in categorical else encode_param(value, where)
        return out

    def sample_independent(self, core_trial: _tarvex.Trial, name: str, core_dist: Mapping[str, Any]) -> Any:
        dist = _distribution(core_dist)
        value = self._sampler.sample(FrozenTrial(core_trial), name, dist)
        where = f"sample({name!r})"
        return encode_choice(value, where) if dist.kind == "categorical" else encode_param(value, where)

    def after_trial(self, core_trial: _tarvex.Trial) -> None:
        self._sampler.after_trial(FrozenTrial(core_trial))


def _categorical_names(trials: Sequence[FrozenTrial]) -> set[str]:
    return {name for t in trials for name, d in t.distributions.items() if d["kind"] == "categorical"}


def core_sampler(sampler: Any) -> _tarvex.ISampler:
    """What the core runs for a package sampler."""
    if isinstance(sampler, CustomSampler):
        return sampler._core
    if not isinstance(sampler, _tarvex.ISampler):
        raise TypeError(
            f"sampler must be a tarvex sampler such as tv.RandomSampler() or a tv.CustomSampler, got {sampler!r}"
        )
    return sampler


def core_independent(sampler: Any) -> _tarvex.ISampler | None:
    """What the core runs for a sampler's independent_sampler argument (None stays None)."""
    if sampler is None:
        return None
    try:
        return core_sampler(sampler)
    except TypeError:
        raise TypeError(f"independent_sampler must be a sampler or None, not {type(sampler).__name__}") from None
