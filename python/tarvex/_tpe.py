"""The tree-structured Parzen estimator sampler."""

from __future__ import annotations

from collections.abc import Callable
from typing import SupportsInt

import _tarvex

from ._constraints import ConstraintsFunc, check_constraints
from ._replay import replayable
from ._samplers import core_seed

_TPE = _tarvex.TPESamplerConfig()  # the defaults


def _counted(gamma: Callable[[int], int]) -> Callable[[SupportsInt], int]:
    """gamma as the core calls it, its answer taken as a count (a fraction rounded down)."""

    def count(n: SupportsInt) -> int:
        good = gamma(int(n))
        try:
            return int(good)
        except (TypeError, ValueError, OverflowError):
            raise ValueError(f"gamma({int(n)}) returned {good!r}; it must return a number of trials") from None

    return count


@replayable
class TPESampler(_tarvex.TPESampler):
    """Tree-structured Parzen estimators: the sampler for conditional spaces (a model choice, then
    that model's own parameters), for budgets of hundreds to thousands of trials, and for spaces
    of dozens of parameters, at about a millisecond per trial. After ``n_startup_trials`` random
    trials, the finished trials are split into the good ones (``gamma(n)`` of ``n``) and the
    others; each trial gets the candidate, drawn from the good trials' density, where that density
    is largest against the others'. Parameters that trials use together share one density, so
    each branch of a conditional space has its own. Pruned trials count by their last report,
    failed ones as the worst; with several objectives, trials rank by non-dominated front.

    Args:
        n_startup_trials: finished trials drawn at random before the model is used.
        n_ei_candidates: candidates drawn per trial; more converge faster and explore less.
        multivariate: one joint density per group of parameters; False: one per parameter.
        prior_weight: weight of the uniform prior in each density, against 1 per trial.
        constant_liar: running trials count as the worst, which keeps parallel workers apart.
        gamma: how many of n trials are good; by default ``min(ceil(0.1 * n), 25)``.
        seed: makes the proposals repeatable in a serial run; None takes a fresh seed from the system.
        constraints: the study's constraints, as tv.create_study(constraints=...) takes them, for a
            study made with this sampler and none of its own.
    """

    def __init__(
        self,
        *,
        n_startup_trials: int = _TPE.n_startup_trials,
        n_ei_candidates: int = _TPE.n_ei_candidates,
        multivariate: bool = _TPE.multivariate,
        prior_weight: float = _TPE.prior_weight,
        constant_liar: bool = _TPE.constant_liar,
        gamma: Callable[[int], int] | None = None,
        seed: int | None = None,
        constraints: ConstraintsFunc | None = None,
    ) -> None:
        for name, value, least in (("n_startup_trials", n_startup_trials, 0), ("n_ei_candidates", n_ei_candidates, 1)):
            if type(value) is not int or value < least:
                raise ValueError(f"{name} must be an int of at least {least}, got {value!r}")
        if gamma is not None and not callable(gamma):
            raise TypeError(f"gamma must be None or a function of the number of trials, not {type(gamma).__name__}")
        super().__init__(
            n_startup_trials=n_startup_trials,
            n_ei_candidates=n_ei_candidates,
            multivariate=bool(multivariate),
            prior_weight=float(prior_weight),
            constant_liar=bool(constant_liar),
            gamma=None if gamma is None else _counted(gamma),
            seed=core_seed(seed),
        )
        check_constraints(constraints)
        self.constraints = constraints
        self._seed = seed

    def __repr__(self) -> str:
        c = self.config
        shown = {
            "n_startup_trials": c.n_startup_trials,
            "n_ei_candidates": c.n_ei_candidates,
            "multivariate": c.multivariate,
            "seed": self._seed,
        }
        return "TPESampler(" + ", ".join(f"{k}={v!r}" for k, v in shown.items()) + ")"
