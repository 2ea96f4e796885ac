"""Intermediate values: each trial's learning curve, pruned trials marked."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from ._common import STATE_COLOURS, given_axes, pyplot

if TYPE_CHECKING:
    from .._types import StudyView


def plot_intermediate_values(study: StudyView, *, ax: Any = None) -> Any:
    """The values every trial reported against their steps. A pruned trial's curve is drawn in
    its state's colour and ends in a cross where it was stopped. Returns the Axes it drew on (ax, when given)."""
    where = "plot_intermediate_values"
    plt = pyplot(where)
    curves = [t for t in study.trials if t.intermediate_values]
    if not curves:
        raise ValueError(f"{where}: no trial of the study reported an intermediate value (trial.report)")
    if given_axes(ax, 1, where) is None:
        _, ax = plt.subplots(figsize=(6.4, 4.2))
    labelled = set()
    for t in curves:
        steps = [s for s, _ in t.intermediate_values]
        values = [v for _, v in t.intermediate_values]
        state = t.state.name
        label = None if state in labelled else state
        labelled.add(state)
        ax.plot(
            steps,
            values,
            color=STATE_COLOURS[state],
            alpha=0.7,
            lw=1.2,
            label=label,
            marker="o" if len(steps) == 1 else None,
            ms=3,
        )
        if state == "Pruned":
            ax.plot(steps[-1:], values[-1:], "x", color=STATE_COLOURS[state], ms=7, mew=2)
    ax.set_xlabel("Step")
    ax.set_ylabel("Intermediate value")
    ax.set_title("Intermediate values")
    ax.legend(loc="best", fontsize=8)
    return ax
