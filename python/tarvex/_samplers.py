"""Samplers: where the suggest calls' values come from."""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import TypeVar

import _tarvex

from ._constraints import ConstraintsFunc, check_constraints
from ._replay import replayable

_MAX_SEED = 2**64 - 2


def core_seed(seed: int | None) -> int:
    """The core's seed for a package seed: None (a fresh seed from the system) is the core's 0,
    and every other seed moves up by one, so that 0 is a seed like the others."""
    if seed is None:
        return 0
    if type(seed) is not int:
        raise TypeError(f"seed must be None or an int, not {type(seed).__name__}")
    if not 0 <= seed <= _MAX_SEED:
        raise ValueError(f"seed must be None or an int from 0 to 2**64 - 2, got {seed}")
    return seed + 1


def reference_values(reference_point: Sequence[float] | None) -> list[float]:
    """A reference point as the core takes it: finite numbers, one per objective; [] for none."""
    if reference_point is None:
        return []
    try:
        values = [float(v) for v in reference_point]
    except (TypeError, ValueError):
        raise TypeError(f"reference_point must be None or a sequence of numbers, got {reference_point!r}") from None
    if not values or not all(math.isfinite(v) for v in values):
        raise ValueError(f"reference_point must hold one finite number per objective, got {reference_point!r}")
    return values


_E = TypeVar("_E", _tarvex.KernelType, _tarvex.AcquisitionType)
_GP = _tarvex.GPSamplerConfig()  # the package's defaults
_GP_KERNEL = _GP.kernel.name.lower()
_GP_ACQ = _GP.acq.name.lower()


def _member(enum: type[_E], value: object, what: str, names: dict[str, str]) -> _E:
    """An enumeration member from itself or from one of its names, in any case."""
    if isinstance(value, enum):
        return value
    if isinstance(value, str) and value.lower() in names:
        member: _E = getattr(enum, names[value.lower()])
        return member
    accepted = ", ".join(repr(n) for n in names)
    raise ValueError(f"{what} must be one of {accepted} (any case) or a tv.{enum.__name__}, got {value!r}")


@replayable
class RandomSampler(_tarvex.RandomSampler):
    """Draws every parameter independently and uniformly: uniform in log space for ``log=True``,
    over the grid for stepped parameters, over the choices for categorical ones. It costs
    microseconds per trial: the sampler for cheap objectives and long runs.

    Args:
        seed: makes the draws repeatable; None takes a fresh seed from the system. 0 to 2**64 - 2.
    """

    def __init__(self, seed: int | None = None) -> None:
        super().__init__(core_seed(seed))
        self._seed = seed

    def __repr__(self) -> str:
        return f"RandomSampler(seed={self._seed!r})"


@replayable
class GPSampler(_tarvex.GPSampler):
    """Bayesian optimisation with a Gaussian-process model: the sampler for expensive objectives
    (a model fit per trial costs milliseconds). Until ``n_warmup`` trials have completed it spreads
    points by a shifted Halton sequence; then every trial gets the configuration that maximises an
    acquisition function of a model fitted to all finished trials. Failed and pruned trials steer
    it away from where they ran. With constraints (tv.create_study(constraints=...)) each
    constraint gets a model of its own and the acquisition is weighed by the probability of
    feasibility, maximised alone while no trial is feasible. A multi-objective study gets one
    model per objective and the point of largest expected hypervolume improvement.

    Args:
        kernel: "matern52" (the default) or "rbf" (smoother), or a tv.KernelType.
        acq: acquisition function: "logei" (the default), "ei", "pi" or "ucb", or a tv.AcquisitionType.
        n_warmup: completed trials before the model is used.
        xi: improvement margin of EI, LogEI and PI; 0 converges closest on noise-free objectives.
        beta: exploration weight of UCB (grown with the number of observations).
        n_cand: quasi-random candidates scored per proposal before the best are refined.
        n_restarts: random restarts of the kernel hyperparameter fit.
        use_priors: priors on the kernel hyperparameters, for steadier fits on few points.
        fit_noise: also fit the observation noise; set it for noisy objectives.
        noise_var: observation noise variance of the standardised values (the start when fit_noise).
        warp_values: model values that span orders of magnitude on a log scale above their minimum
            (as on valleys and steep walls, where it finds much better points); False models them
            as they are, as the compiled module does.
        trust_region: keep the proposals of a single-objective study without constraints in a box
            around the best trial, which grows while they improve on it and shrinks while they do
            not (TuRBO; categorical parameters stay free). It converges much closer within a
            hundred trials; False searches the whole space every time, as the compiled module does.
        principal_axes: where every parameter is a float and the study holds 3 trials per
            parameter, also fit the model in coordinates turned onto the principal axes of the
            better half of the trials, and propose from it where it fits them better (a higher
            marginal likelihood): valleys and ill-conditioned bowls that lie across the parameters
            are then found in far fewer trials. False models the parameters' own coordinates
            only, as the compiled module does; each fit costs twice as much with it.
        quadratic_mean: once the study holds 4 trials per coordinate of the model (one per
            number, one per choice of a categorical) and 2 more, also fit the model with a convex
            quadratic mean (a bowl under the kernel's ripples) and propose from it where it fits
            the trials better, after a penalty for its extra terms: beyond the trials the model
            then leads down the bowl rather than back to their average. False keeps the constant
            mean, as the compiled module does; each proposal costs about 30% more with it.
        multi_objective: for several objectives, ``"ehvi"`` (expected hypervolume improvement
            over the front of the feasible trials, exact up to three objectives and estimated at
            fixed quasi-random points beyond; running trials join the front at their predicted
            values) or ``"parego"`` (a random augmented Chebyshev scalarisation per trial:
            cheaper, weaker with three objectives and more).
        reference_point: for ``"ehvi"``, one value per objective beyond which a value does not
            count (a lower bound where the objective is maximised), as the hypervolume you will
            judge the front by is bounded: proposals then improve that hypervolume. None: three
            tenths of the front's range beyond its worst values.
        seed: makes the proposals repeatable in a serial run; None takes a fresh seed from the system.
        constraints: the study's constraints, as tv.create_study(constraints=...) takes them, for a
            study made with this sampler and none of its own.
    """

    _KERNELS = {"matern52": "Matern52", "rbf": "RBF"}
    _ACQUISITIONS = {"logei": "LogEI", "ei": "EI", "pi": "PI", "ucb": "UCB"}

    def __init__(
        self,
        *,
        kernel: str | _tarvex.KernelType = _GP_KERNEL,
        acq: str | _tarvex.AcquisitionType = _GP_ACQ,
        n_warmup: int = _GP.n_warmup,
        xi: float = _GP.xi,
        beta: float = _GP.beta,
        n_cand: int = _GP.n_cand,
        n_restarts: int = _GP.n_restarts,
        use_priors: bool = _GP.use_priors,
        fit_noise: bool = _GP.fit_noise,
        noise_var: float = _GP.noise_var,
        warp_values: bool = True,
        trust_region: bool = True,
        principal_axes: bool = True,
        quadratic_mean: bool = True,
        multi_objective: str = "ehvi",
        reference_point: Sequence[float] | None = None,
        seed: int | None = None,
        constraints: ConstraintsFunc | None = None,
    ) -> None:
        kernel_type = _member(_tarvex.KernelType, kernel, "kernel", self._KERNELS)
        acq_type = _member(_tarvex.AcquisitionType, acq, "acq", self._ACQUISITIONS)
        for name, value in (("n_warmup", n_warmup), ("n_restarts", n_restarts)):
            if type(value) is not int or value < 0:
                raise ValueError(f"{name} must be an int of at least 0, got {value!r}")
        if type(n_cand) is not int or n_cand < 1:
            raise ValueError(f"n_cand must be an int of at least 1, got {n_cand!r}")
        if multi_objective not in ("ehvi", "parego"):
            raise ValueError(f"multi_objective must be 'ehvi' or 'parego', got {multi_objective!r}")
        if not noise_var > 0:
            raise ValueError(f"noise_var must be above 0, got {noise_var!r}")
        reference = reference_values(reference_point)
        super().__init__(
            kernel=kernel_type,
            acq=acq_type,
            n_warmup=n_warmup,
            xi=xi,
            beta=beta,
            n_cand=n_cand,
            n_restarts=n_restarts,
            use_priors=use_priors,
            fit_noise=fit_noise,
            noise_var=noise_var,
            seed=core_seed(seed),
            warp_values=bool(warp_values),
            trust_region=bool(trust_region),
            principal_axes=bool(principal_axes),
            quadratic_mean=bool(quadratic_mean),
            multi_objective=True,
            random_scalarisations=multi_objective == "parego",
            reference_point=reference,
        )
        check_constraints(constraints)
        self.constraints = constraints
        self._seed = seed

    def __repr__(self) -> str:
        c = self.config
        shown = {"kernel": c.kernel.name, "acq": c.acq.name, "n_warmup": c.n_warmup, "xi": c.xi, "seed": self._seed}
        return "GPSampler(" + ", ".join(f"{k}={v!r}" for k, v in shown.items()) + ")"
