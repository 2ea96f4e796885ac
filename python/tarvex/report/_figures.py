"""Which charts a study gets (the report's and the dashboard's alike), and the parameter
importances they show: a large study's estimated from an even sample of it."""

from __future__ import annotations

import random
from collections.abc import Callable
from typing import Any

import _tarvex

from ..importance import param_importances
from . import _charts, _param_charts
from ._sample import TrialsView, shown_note

TrialState = _tarvex.TrialState
IMPORTANCE_LIMIT = 2000  # the completed trials the importances are estimated from, at most

# A chart: its key, its heading, and what draws it as a plotly figure.
Chart = tuple[str, str, Callable[[TrialsView, Any], Any]]


def chart_list(view: TrialsView, shares: list[dict[str, float]]) -> list[Chart]:
    """The charts for view: the history; the Pareto front and hypervolume history for several
    objectives, or learning curves, parameter charts and importances (given their shares) for
    one; the timeline."""
    charts: list[Chart] = [("history", "Optimization history", _charts.history)]
    if len(view.directions) > 1:
        charts.append(("pareto", "Pareto front", _charts.pareto_front))
        charts.append(("hypervolume", "Hypervolume history", _charts.hypervolume_history))
    else:
        charts += [
            ("intermediate", "Intermediate values", _charts.intermediate),
            ("parallel", "Parallel coordinates", _param_charts.parallel),
            ("slice", "Slice plot", _param_charts.slice_),
            ("contour", "Contour plot", _param_charts.contour),
        ]
        if shares:
            charts.append(
                ("importances", "Parameter importances", lambda v, p: _param_charts.importances(v, p, shares[0]))
            )
    charts.append(("timeline", "Timeline", _charts.timeline))
    return charts


def optional(module: str) -> bool:
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def plotly_module() -> Any:
    """plotly with the modules the charts use, or None without it."""
    try:
        import plotly
        import plotly.graph_objects
        import plotly.subplots
    except ImportError:
        return None
    return plotly


def importance_shares(view: TrialsView) -> tuple[list[dict[str, float]], str]:
    """Importances per objective, or why there are none; a large study's from a sample of it."""
    if not optional("sklearn"):
        return [], 'Parameter importances need scikit-learn: pip install "tarvex[importance]".'
    complete = [t for t in view.trials if t.state == TrialState.Complete]
    # An even sample: the importances describe the whole space the study searched.
    kept = complete if len(complete) <= IMPORTANCE_LIMIT else random.Random(0).sample(complete, IMPORTANCE_LIMIT)
    sampled = TrialsView(view.directions, sorted(kept, key=lambda t: t.number))
    out = []
    try:
        for i in range(len(view.directions)):
            target = None if len(view.directions) == 1 else (lambda t, i=i: t.values[i])
            out.append(param_importances(sampled, target=target))
    except ValueError as error:
        return [], f"Not computed: {error}."
    return out, shown_note(len(sampled.trials), len(complete), "completed trials", "an even random sample")
