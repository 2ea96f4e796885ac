"""The sampler that chooses a sampler."""

from __future__ import annotations

import _tarvex

from ._replay import replayable
from ._samplers import core_seed


@replayable
class AutoSampler(_tarvex.AutoSampler):
    """Picks for each trial the sampler that suits the study as it stands, so a study needs no
    choice up front: ``GPSampler`` while a flat study is small (fewer than ``max_gp_trials``
    finished trials; with several objectives, by expected hypervolume improvement), then for one
    objective ``CMAESSampler`` where every parameter is numeric (starting from the best tenth of
    the trials so far) and ``TPESampler`` otherwise, and for several objectives ``NSGA2Sampler``
    (its first population the best of the GP's trials); ``TPESampler`` from the start for
    conditional spaces (trials that use different parameters). Each trial records the choice in
    ``trial.system_attrs["auto_sampler"]``, and the log at INFO level names it.

    Args:
        max_gp_trials: the study size up to which a flat space goes to the GP.
        seed: makes the run repeatable in a serial run; None takes a fresh seed.
    """

    def __init__(self, *, max_gp_trials: int = 200, seed: int | None = None) -> None:
        if type(max_gp_trials) is not int or max_gp_trials < 0:
            raise ValueError(f"max_gp_trials must be an int of at least 0, got {max_gp_trials!r}")
        super().__init__(max_gp_trials=max_gp_trials, seed=core_seed(seed))
        self._seed = seed

    def __repr__(self) -> str:
        return f"AutoSampler(max_gp_trials={self.max_gp_trials!r}, seed={self._seed!r})"
