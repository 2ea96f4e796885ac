"""The NSGA-II sampler."""

from __future__ import annotations

from typing import Any

import _tarvex

from ._constraints import ConstraintsFunc, check_constraints
from ._custom_sampler import CustomSampler, core_independent
from ._replay import replayable
from ._samplers import core_seed

_SELECTIONS = ("hypervolume", "crowding", "reference_points")


@replayable
class NSGA2Sampler(_tarvex.NSGA2Sampler):
    """NSGA-II, the genetic algorithm for several objectives (one works too) and constraints, for
    budgets of a thousand trials and more at microseconds per trial. The first
    ``population_size`` completed trials come from ``independent_sampler``; then every
    ``population_size`` completed trials join the population and the best ``population_size``
    of the union survive: feasible trials by non-dominated fronts and crowding distance, then
    infeasible ones by total violation (constraints given to tv.create_study). Children are bred
    in pairs from binary tournaments: simulated binary crossover and polynomial mutation for
    numbers, uniform crossover and random choices for categoricals. The population is derived
    from the stored trials, so processes sharing a database study continue one search.

    Args:
        population_size: trials per generation.
        mutation_prob: the chance that a child's parameter mutates; None for 1 / the number of
            parameters.
        crossover_prob: the chance that two parents are crossed rather than copied.
        swapping_prob: for each parameter of crossed parents, the chance it is crossed.
        crossover_eta, mutation_eta: how close children stay to their parents (larger: closer).
        selection: how the best front that does not fit into the population whole is cut:
            ``"hypervolume"`` drops the member adding the least hypervolume, one at a time (with
            two and three objectives; NSGA-III's niching beyond), ``"crowding"`` by crowding
            distance (the classic NSGA-II), ``"reference_points"`` by NSGA-III's niching around
            structured reference directions, for four objectives and more.
        reference_divisions: divisions of each objective's axis for NSGA-III's directions; None
            to choose by the number of objectives and the population size.
        independent_sampler: draws the first generation and parameters outside the population's
            shared space; None for random search.
        seed: makes the proposals repeatable in a serial run; None takes a fresh seed.
        constraints: the study's constraints, as tv.create_study(constraints=...) takes them, for a
            study made with this sampler and none of its own.
    """

    def __init__(
        self,
        *,
        population_size: int = 50,
        mutation_prob: float | None = None,
        crossover_prob: float = 0.9,
        swapping_prob: float = 0.5,
        crossover_eta: float = 15.0,
        mutation_eta: float = 20.0,
        selection: str = "hypervolume",
        reference_divisions: int | None = None,
        independent_sampler: _tarvex.ISampler | CustomSampler | None = None,
        seed: int | None = None,
        constraints: ConstraintsFunc | None = None,
    ) -> None:
        if selection not in _SELECTIONS:
            raise ValueError(f"selection must be one of {', '.join(map(repr, _SELECTIONS))}, got {selection!r}")
        if type(population_size) is not int or population_size < 2:
            raise ValueError(f"population_size must be an int of at least 2, got {population_size!r}")
        if reference_divisions is not None and (type(reference_divisions) is not int or reference_divisions < 1):
            raise ValueError(f"reference_divisions must be None or an int of at least 1, got {reference_divisions!r}")
        super().__init__(
            population_size=population_size,
            mutation_prob=None if mutation_prob is None else float(mutation_prob),
            crossover_prob=float(crossover_prob),
            swapping_prob=float(swapping_prob),
            crossover_eta=float(crossover_eta),
            mutation_eta=float(mutation_eta),
            selection=selection,
            reference_divisions=reference_divisions or 0,
            independent_sampler=core_independent(independent_sampler),
            seed=core_seed(seed),
        )
        check_constraints(constraints)
        self.constraints = constraints
        self._independent = independent_sampler  # a CustomSampler lives as long as this sampler
        self._shown = {"population_size": population_size, "selection": selection, "seed": seed}

    def progress(self, study: Any) -> _tarvex.NSGA2Progress:
        """Where the search of ``study`` stands (generation, population); read it between runs."""
        return super().progress(getattr(study, "_core", study))

    def __repr__(self) -> str:
        return "NSGA2Sampler(" + ", ".join(f"{k}={v!r}" for k, v in self._shown.items()) + ")"
