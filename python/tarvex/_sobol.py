"""The quasi-random sampler."""

from __future__ import annotations

import _tarvex

from ._replay import replayable
from ._samplers import core_seed


@replayable
class SobolSampler(_tarvex.SobolSampler):
    """Scrambled Sobol points: spreads trials over the space more evenly than random search, with
    no model and microseconds per trial. Choose it for an even first look at a space, for a batch
    of parallel trials decided up front, or for the startup of a study another sampler continues.
    Trial n takes point n of the sequence, one dimension per parameter name; integers, steps and
    choices are cut into equal parts, so a study numbered from 0 covers each value equally in any
    prefix of 2**m trials that the number of values divides. The history is not read.

    Args:
        seed: the scramble; None takes a fresh one from the system.
        scramble: False gives the plain sequence (whose first point is the space's lower corner).
    """

    def __init__(self, seed: int | None = None, *, scramble: bool = True) -> None:
        super().__init__(core_seed(seed), bool(scramble))
        self._seed = seed
        self._scramble = bool(scramble)

    def __repr__(self) -> str:
        return f"SobolSampler(seed={self._seed!r}, scramble={self._scramble!r})"
