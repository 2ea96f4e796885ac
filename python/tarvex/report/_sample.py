"""What the report's charts draw of a large study: a representative subset of its trials, the
best ones and an even random share of the rest, so that a chart of 100,000 trials stays as quick
to draw and to open as one of a thousand, and says that it shows a subset."""

from __future__ import annotations

import math
import random
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

import _tarvex

from .._plotdata.pareto import nondominated

if TYPE_CHECKING:
    from .._trial import FrozenTrial

TrialState = _tarvex.TrialState


class TrialsView:
    """A study as the charts read it: its directions and the trials to draw."""

    def __init__(
        self,
        directions: Sequence[Any],
        trials: Sequence[FrozenTrial],
        study_name: str = "",
        table: dict[str, list[Any]] | None = None,
        objective_names: Sequence[str] | None = None,
        limits: Mapping[str, int] | None = None,
    ) -> None:
        self.directions = list(directions)
        # The most each chart draws (see _charts.LIMITS), where this view draws less.
        self.limits = dict(limits or {})
        self.objective_names = None if objective_names is None else list(objective_names)
        self.trials = list(trials)
        self.study_name = study_name
        self.table = table  # the study's columns (Study.table), where the report read them
        self._best: list[FrozenTrial] | None = None

    def best(self) -> list[FrozenTrial]:
        """The feasible completed trials with finite values, best first (a single-objective
        study), or the Pareto front (a multi-objective one); worked out once."""
        if self._best is None:
            signs = [-1.0 if d == _tarvex.StudyDirection.Maximize else 1.0 for d in self.directions]
            finite = []
            for t in self.trials:
                if t.state == TrialState.Complete and t.feasible:
                    values = t.values
                    if len(values) == len(signs) and all(math.isfinite(v) for v in values):
                        finite.append((t, values))
            if len(signs) == 1:
                finite.sort(key=lambda item: signs[0] * item[1][0])
                self._best = [t for t, _ in finite]
            else:
                by_number = {t.number: t for t, _ in finite}
                self._best = [by_number[n] for n, _ in nondominated([(t.number, v) for t, v in finite], signs)]
        return self._best


def representative(view: TrialsView, limit: int, seed: int = 0) -> list[FrozenTrial]:
    """At most limit of the view's trials, in trial order: all of them when they are few;
    otherwise the best (a single-objective study's best tenth of the limit, a multi-objective
    study's Pareto front up to half of it) and a random sample of the others, the same for the
    same trials and seed."""
    trials = view.trials
    if len(trials) <= limit:
        return list(trials)
    best = view.best()[: limit // 10 if len(view.directions) == 1 else limit // 2]
    chosen = {t.number for t in best}
    rest = [t for t in trials if t.number not in chosen]
    picked = best + random.Random(seed).sample(rest, limit - len(best))
    return sorted(picked, key=lambda t: t.number)


def shown_note(
    shown: int, total: int, what: str = "trials", how: str = "the best and a random sample of the others"
) -> str:
    """What a chart says when it draws a subset; empty when it draws everything."""
    if shown >= total:
        return ""
    return f"{shown:,} of {total:,} {what} shown: {how}"
