"""The hypervolume history of a multi-objective study."""

from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from .._plotdata.hypervolume import hypervolume_series
from ._common import given_axes, pyplot

if TYPE_CHECKING:
    from .._types import StudyView


def plot_hypervolume_history(study: StudyView, reference_point: Sequence[float], *, ax: Any = None) -> Any:
    """The hypervolume that the feasible completed trials up to each trial dominate, up to
    reference_point (one value per objective, worse than every point of interest), against the
    trial number. Returns the Axes it drew on (ax, when given)."""
    where = "plot_hypervolume_history"
    plt = pyplot(where)
    series = hypervolume_series(study, reference_point, where)
    if given_axes(ax, 1, where) is None:
        ax = plt.figure(figsize=(6.4, 4.2)).add_subplot()
    ax.step(series.numbers, series.hypervolume, where="post", color="#d62728")
    ax.set_xlabel("Trial")
    ax.set_ylabel("Hypervolume")
    ax.set_title("Hypervolume history")
    return ax
