"""What a study's summary says: its name, storage, directions, trials by state, feasibility, the
best trial or the Pareto front, and its own attributes, as (label, text) pairs that the report
and the dashboard show."""

from __future__ import annotations

import json
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any

import _tarvex

from .._records import counts_text

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from ._sample import TrialsView

TrialState = _tarvex.TrialState


def summary_items(
    view: TrialsView,
    where: str,
    user_attrs: Mapping[str, Any],
    best_trial: Callable[[], FrozenTrial],
    best_trials: Callable[[], list[FrozenTrial]],
) -> list[tuple[str, str]]:
    """The summary of the study view shows; where: its storage as shown (never a password);
    best_trial and best_trials are asked only when the study has a feasible completed trial."""
    trials = view.trials
    directions = ", ".join(d.name.lower() for d in view.directions)
    if view.objective_names:
        directions = ", ".join(f"{n} ({d.name.lower()})" for n, d in zip(view.objective_names, view.directions))
    items = [
        ("Study", view.study_name),
        ("Storage", where),
        ("Directions", directions),
        ("Trials", f"{len(trials)} ({counts_text(trials)})" if trials else "none"),
    ]
    complete = [t for t in trials if t.state == TrialState.Complete]
    constrained = [t for t in complete if t.constraints]
    if constrained:
        n_feasible = sum(t.feasible for t in constrained)
        items.append(("Feasible", f"{n_feasible} of {len(constrained)} completed trials with constraints"))
    if any(t.feasible for t in complete) and len(view.directions) == 1:
        best = best_trial()
        items += [("Best trial", str(best.number)), ("Best value", f"{best.value:.6g}")]
        items += [(f"Best {name}", repr(value)) for name, value in best.params.items()]
    elif any(t.feasible for t in complete):
        items.append(("Pareto front", ", ".join(str(t.number) for t in best_trials()) + " (trial numbers)"))
    items += [(f"Attribute {key}", json.dumps(value)) for key, value in user_attrs.items()]
    return items
