"""A timeline of trials: when each ran, on which worker, and how it ended."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from .._plotdata.timeline import spans
from ._common import STATE_COLOURS, given_axes, pyplot

if TYPE_CHECKING:
    from .._types import StudyView


def plot_timeline(study: StudyView, *, ax: Any = None) -> Any:
    """Each trial as a bar from its start to its end (now for a running one), one row per worker,
    coloured by state: how well n_jobs or several processes kept busy. Returns the Axes it drew on (ax,
    when given)."""
    where = "plot_timeline"
    plt = pyplot(where)
    import matplotlib.dates

    mdates: Any = matplotlib.dates  # its date2num is not annotated

    runs = spans(study, where)
    if given_axes(ax, 1, where) is None:
        _, ax = plt.subplots(figsize=(7.2, 1.2 + 0.4 * (1 + max(s.lane for s in runs))))
    labelled = set()
    for s in runs:
        start = mdates.date2num(s.start)
        width = mdates.date2num(s.end) - start
        ax.barh(
            s.lane,
            width,
            left=start,
            height=0.8,
            color=STATE_COLOURS[s.state],
            label=None if s.state in labelled else s.state,
        )
        labelled.add(s.state)
    ax.xaxis_date()
    ax.set_yticks(sorted({s.lane for s in runs}))
    ax.set_ylabel("Worker")
    ax.set_xlabel("Time")
    ax.set_title("Timeline")
    ax.legend(loc="best", fontsize=8)
    ax.figure.autofmt_xdate()
    return ax
