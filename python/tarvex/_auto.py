"""The sampler that chooses a sampler."""

from __future__ import annotations

import _tarvex

from ._replay import replayable
from ._samplers import core_seed


@replayable
class AutoSampler(_tarvex.AutoSampler):
    """Picks for each trial the sampler that suits the study as it stands, so a study needs no
    choice up front: ``GPSampler`` while a flat study is small (fewer than ``max_gp_trials``
    finished trials, or ``max_gp_trials_multi_objective`` with several objectives, which it
    searches by expected hypervolume improvement), then for one objective ``CMAESSampler`` where
    every parameter is numeric (starting at the best trial so far) and ``TPESampler`` otherwise,
    and for several objectives ``NSGA2Sampler`` (its first population the best of the GP's
    trials); ``TPESampler`` from the start for conditional spaces (trials that use different
    parameters). Each trial records the choice in ``trial.system_attrs["auto_sampler"]``, and the
    log at INFO level names it.

    Args:
        max_gp_trials: the study size up to which a flat space goes to the GP.
        max_gp_trials_multi_objective: the same for a study of several objectives.
        seed: makes the run repeatable in a serial run; None takes a fresh seed.
    """

    def __init__(
        self, *, max_gp_trials: int = 100, max_gp_trials_multi_objective: int = 200, seed: int | None = None
    ) -> None:
        for name, value in (
            ("max_gp_trials", max_gp_trials),
            ("max_gp_trials_multi_objective", max_gp_trials_multi_objective),
        ):
            if type(value) is not int or value < 0:
                raise ValueError(f"{name} must be an int of at least 0, got {value!r}")
        super().__init__(
            max_gp_trials=max_gp_trials,
            max_gp_trials_multi_objective=max_gp_trials_multi_objective,
            seed=core_seed(seed),
        )
        self._seed = seed

    def __repr__(self) -> str:
        return (
            f"AutoSampler(max_gp_trials={self.max_gp_trials!r}, "
            f"max_gp_trials_multi_objective={self.max_gp_trials_multi_objective!r}, seed={self._seed!r})"
        )
