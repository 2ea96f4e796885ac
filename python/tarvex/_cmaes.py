"""The CMA-ES sampler."""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping
from typing import TYPE_CHECKING, Any

import _tarvex

from ._constraints import ConstraintsFunc, check_constraints
from ._custom_sampler import CustomSampler, core_independent
from ._replay import replayable
from ._samplers import core_seed

if TYPE_CHECKING:
    from ._study import Study
    from ._trial import FrozenTrial

_RESTARTS = (None, "ipop", "bipop")
_BOUNDS = ("mirror", "resample")


def _good_configurations(source: Study | Iterable[Mapping[str, Any]]) -> list[dict[str, Any]]:
    """The warm start's configurations: of a study, its best tenth of completed trials (at least
    one); otherwise the given parameter dicts as they are."""
    from ._study import Study

    if not isinstance(source, Study):
        configs = [dict(c) for c in source]
        for c in configs:
            for name, value in c.items():
                if type(value) not in (int, float):
                    raise TypeError(f"warm_start: parameter {name!r} must be an int or a float, got {value!r}")
        return configs
    if len(source.directions) != 1:
        raise ValueError("warm_start: the study must have a single objective")
    done = [t for t in source.get_trials(_tarvex.TrialState.Complete) if t.value is not None and math.isfinite(t.value)]
    maximize = source.direction == _tarvex.StudyDirection.Maximize

    def worse(t: FrozenTrial) -> float:
        value = float(t.value)  # type: ignore[arg-type]  # completed with a finite value
        return -value if maximize else value

    done.sort(key=worse)
    best = done[: max(1, math.ceil(0.1 * len(done)))]
    return [{k: v for k, v in t.params.items() if type(v) in (int, float)} for t in best]


@replayable
class CMAESSampler(_tarvex.CMAESSampler):
    """CMA-ES, the evolution strategy that learns the shape of the space: the sampler for
    continuous and integer spaces at budgets of hundreds of trials and more (where a GP is too
    slow and TPE too coarse), for ill-conditioned and rotated problems, and for cheap objectives,
    at microseconds per trial. Each trial gets one candidate of the current generation; every
    ``popsize`` finished trials move the mean, the step and the covariance. Categorical
    parameters, and parameters not every trial uses, come from ``independent_sampler``. Single
    objective only.

    Args:
        x0: the starting point by name; missing names start at the middle of their range.
        sigma0: the starting step as a fraction of each range (on its log scale where it has one).
        n_startup_trials: trials drawn by ``independent_sampler`` before the search starts; the
            search space is the numeric parameters those trials share.
        popsize: candidates per generation; None for 4 + floor(3 ln n) with n parameters.
        restart_strategy: None (keep refining after a stall), ``"ipop"`` (restart with twice the
            population) or ``"bipop"`` (alternate large populations with small, short-stepped ones).
        inc_popsize: the factor by which a restart grows the population.
        with_margin: keep integers and stepped floats from freezing at one value too early.
        separable: a diagonal covariance, for a hundred parameters and more.
        bounds: ``"resample"`` draws a candidate outside the bounds again (up to ten times, then
            reflects it); ``"mirror"`` reflects it at the bound it crossed at once.
        surrogate: rank each generation by a linear-quadratic model of the recent trials' values
            and evaluate only its most promising candidates, as many as it takes for the model's
            order to agree with the values (lq-CMA-ES). Far fewer trials on smooth problems, at
            or below nevergrad's CMA and the ``cmaes`` package on 19 and 20 of the 24 bbob
            functions against 13 and 14 without it; it costs a least-squares fit per trial
            (about 40 µs at 10 parameters, a third of a millisecond at 20). False for the plain search, at
            about 10 µs per trial, for objectives that take microseconds.
        tol_fun: the search has stalled (and restarts, under a restart strategy) once the best
            values of its recent generations differ by less than ``tol_fun`` times their magnitude
            (at least 1). The default refines a basin to its last digits; a looser one (1e-5, as
            ``AutoSampler`` uses) gives the rest of the budget to other basins sooner, for
            multi-modal objectives, at the cost of precision in the first.
        warm_start: an earlier, similar study (its best tenth of trials) or a list of good
            configurations: the search starts at their mean, with their spread.
        independent_sampler: draws what the search does not; None for random search.
        seed: makes the candidates repeatable in a serial run; None takes a fresh seed.
        constraints: the study's constraints, as tv.create_study(constraints=...) takes them, for a
            study made with this sampler and none of its own.
    """

    def __init__(
        self,
        *,
        x0: Mapping[str, float] | None = None,
        sigma0: float = 0.2,
        n_startup_trials: int = 1,
        popsize: int | None = None,
        restart_strategy: str | None = "ipop",
        inc_popsize: int = 2,
        with_margin: bool = True,
        separable: bool = False,
        bounds: str = "resample",
        surrogate: bool = True,
        tol_fun: float = 1e-12,
        warm_start: Study | Iterable[Mapping[str, Any]] | None = None,
        independent_sampler: _tarvex.ISampler | CustomSampler | None = None,
        seed: int | None = None,
        constraints: ConstraintsFunc | None = None,
    ) -> None:
        if restart_strategy not in _RESTARTS:
            raise ValueError(f"restart_strategy must be None, 'ipop' or 'bipop', got {restart_strategy!r}")
        if bounds not in _BOUNDS:
            raise ValueError(f"bounds must be 'mirror' or 'resample', got {bounds!r}")
        for name, value, least in (
            ("n_startup_trials", n_startup_trials, 0),
            ("inc_popsize", inc_popsize, 1),
            ("popsize", 2 if popsize is None else popsize, 2),
        ):
            if type(value) is not int or value < least:
                raise ValueError(f"{name} must be an int of at least {least}, got {value!r}")
        super().__init__(
            x0=dict(x0 or {}),
            sigma0=float(sigma0),
            n_startup_trials=n_startup_trials,
            popsize=popsize or 0,
            restart_strategy=restart_strategy,
            inc_popsize=inc_popsize,
            with_margin=bool(with_margin),
            separable=bool(separable),
            bounds=bounds,
            warm_start=[] if warm_start is None else _good_configurations(warm_start),
            independent_sampler=core_independent(independent_sampler),
            seed=core_seed(seed),
            surrogate=bool(surrogate),
            tol_fun=float(tol_fun),
        )
        check_constraints(constraints)
        self.constraints = constraints
        self._independent = independent_sampler  # a CustomSampler lives as long as this sampler
        self._shown = {"sigma0": sigma0, "popsize": popsize, "restart_strategy": restart_strategy, "seed": seed}

    def progress(self, study: Any) -> _tarvex.CMAESProgress:
        """Where the search of ``study`` stands (generation, popsize, sigma, restarts); read it
        between runs."""
        return super().progress(getattr(study, "_core", study))

    def __repr__(self) -> str:
        return "CMAESSampler(" + ", ".join(f"{k}={v!r}" for k, v in self._shown.items()) + ")"
