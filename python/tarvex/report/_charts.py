"""The report's charts: the data of the visualization module drawn as interactive plotly figures."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from ..visualization._common import STATE_COLOURS
from ..visualization._contour import pair_points, triangulate
from ..visualization._history import history_series
from ..visualization._parallel import coordinates
from ..visualization._pareto import pareto
from ..visualization._slice import coordinate, slices
from ..visualization._timeline import spans

if TYPE_CHECKING:
    from .._study import Study

LAYOUT = {"template": "plotly_white", "margin": {"l": 60, "r": 30, "t": 50, "b": 50}, "height": 420}
MAX_CONTOUR_PARAMS = 4


def history(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    series = history_series(study, None, None, "history")
    fig = plotly.subplots.make_subplots(rows=1, cols=len(series))
    for i, s in enumerate(series, start=1):
        fig.add_trace(go.Scatter(x=s.numbers, y=s.values, mode="markers", name=s.name,
                                 marker={"color": "#1f77b4", "size": 6}), row=1, col=i)
        fig.add_trace(go.Scatter(x=s.numbers, y=s.best, mode="lines", line={"shape": "hv", "color": "#d62728"},
                                 name="Best so far", showlegend=i == 1), row=1, col=i)
        fig.update_xaxes(title_text="Trial", row=1, col=i)
        fig.update_yaxes(title_text=s.name, row=1, col=i)
    return fig.update_layout(title="Optimization history", **LAYOUT)


def intermediate(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    curves = [t for t in study.trials if t.intermediate_values]
    if not curves:
        raise ValueError("no trial reported an intermediate value")
    fig = go.Figure()
    shown = set()
    for t in curves:
        state = t.state.name
        fig.add_trace(go.Scatter(x=[s for s, _ in t.intermediate_values], y=[v for _, v in t.intermediate_values],
                                 mode="lines+markers", marker={"size": 3}, name=state, legendgroup=state,
                                 showlegend=state not in shown, line={"color": STATE_COLOURS[state], "width": 1},
                                 hovertext=f"trial {t.number}"))
        shown.add(state)
    return fig.update_layout(title="Intermediate values", xaxis_title="Step", yaxis_title="Intermediate value",
                             **LAYOUT)


def parallel(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    data = coordinates(study, None, None, None, "parallel coordinates")
    dimensions = [{"label": c.name, "range": [0, 1], "tickvals": c.ticks, "ticktext": c.labels,
                   "values": [line[i] for line in data.lines]} for i, c in enumerate(data.columns)]
    fig = go.Figure(go.Parcoords(dimensions=dimensions, line={"color": data.values, "colorscale": "Viridis",
                                                              "showscale": True}))
    # The axis titles sit above the plot: room for them below the chart's title.
    return fig.update_layout(title="Parallel coordinates", **{**LAYOUT, "margin": {**LAYOUT["margin"], "t": 100}})


def slice_(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    chosen, space, points = slices(study, None, None, None, "slice")
    fig = plotly.subplots.make_subplots(rows=1, cols=len(space), shared_yaxes=True,
                                        horizontal_spacing=min(0.08, 0.5 / len(space)))
    for i, axis in enumerate(space, start=1):
        drawn = points[axis.name]
        fig.add_trace(go.Scatter(x=[coordinate(axis, p) for p, _, _ in drawn], y=[v for _, v, _ in drawn],
                                 mode="markers", showlegend=False, hovertext=[f"trial {n}" for _, _, n in drawn],
                                 marker={"color": [n for _, _, n in drawn], "colorscale": "Blues", "size": 6,
                                         "line": {"width": 0.5, "color": "#444"}}), row=1, col=i)
        fig.update_xaxes(title_text=axis.name, row=1, col=i, **_axis_style(axis))
    fig.update_yaxes(title_text=chosen.name, row=1, col=1)
    return fig.update_layout(title="Slice plot", **LAYOUT)


def contour(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    chosen, space, _ = slices(study, None, None, None, "contour")
    if len(space) < 2:
        raise ValueError("a contour needs two parameters")
    space = space[:MAX_CONTOUR_PARAMS]
    pairs = [(x, y) for i, y in enumerate(space) for x in space[:i]]
    fig = plotly.subplots.make_subplots(rows=1, cols=len(pairs), horizontal_spacing=min(0.08, 0.5 / len(pairs)))
    lo, hi = min(chosen.values), max(chosen.values)
    for i, (x, y) in enumerate(pairs, start=1):
        points = pair_points(chosen, x, y)
        xs = [coordinate(x, p) for p, _, _ in points]
        ys = [coordinate(y, q) for _, q, _ in points]
        zs = [v for _, _, v in points]
        # Between two choices there is nothing to interpolate: such pairs show the trials alone.
        grid = None if x.categorical or y.categorical else _interpolated(xs, ys, zs, x.log, y.log)
        if grid is not None and hi > lo:
            fig.add_trace(go.Contour(x=grid[0], y=grid[1], z=grid[2], colorscale="Viridis", zmin=lo, zmax=hi,
                                     showscale=i == 1, connectgaps=False, contours={"coloring": "heatmap"},
                                     colorbar={"title": {"text": chosen.name}}), row=1, col=i)
            marker = {"color": "black", "size": 4}
        else:
            marker = {"color": zs, "colorscale": "Viridis", "cmin": lo, "cmax": hi, "size": 7,
                      "line": {"width": 0.5, "color": "#444"}}
        fig.add_trace(go.Scatter(x=xs, y=ys, mode="markers", marker=marker, showlegend=False,
                                 hovertext=[f"{v:.6g}" for v in zs]), row=1, col=i)
        fig.update_xaxes(title_text=x.name, row=1, col=i, **_axis_style(x))
        fig.update_yaxes(title_text=y.name, row=1, col=i, **_axis_style(y))
    return fig.update_layout(title="Contour plot", **LAYOUT)


def _interpolated(xs, ys, zs, x_log: bool, y_log: bool, size: int = 60):
    """The values linearly interpolated on a grid between the trials, None (a gap) outside their
    hull; None when matplotlib, which triangulates, is missing or the points are on one line."""
    try:
        import numpy as np
        from matplotlib.tri import LinearTriInterpolator
    except ImportError:
        return None
    triangles = triangulate(xs, ys, x_log, y_log)
    if triangles is None:
        return None
    interpolate = LinearTriInterpolator(triangles, np.asarray(zs, float))
    tx, ty = triangles.x, triangles.y
    gx = np.linspace(tx.min(), tx.max(), size)
    gy = np.linspace(ty.min(), ty.max(), size)
    z = interpolate(*np.meshgrid(gx, gy))
    rows = [[None if masked else float(v) for v, masked in zip(r, m)] for r, m in zip(z.data, np.ma.getmaskarray(z))]
    return (10 ** gx if x_log else gx).tolist(), (10 ** gy if y_log else gy).tolist(), rows


def _axis_style(axis) -> dict[str, Any]:
    if axis.categorical:
        return {"tickvals": list(range(len(axis.choices))), "ticktext": [axis.label(c) for c in axis.choices]}
    return {"type": "log"} if axis.log else {}


def importances(study: Study, plotly, shares: dict[str, float]) -> Any:
    go = plotly.graph_objects
    names = list(shares)[::-1]
    fig = go.Figure(go.Bar(x=[shares[n] for n in names], y=names, orientation="h", marker={"color": "#1f77b4"},
                           text=[f"{shares[n]:.2f}" for n in names], textposition="outside"))
    return fig.update_layout(title="Parameter importances", xaxis_title="Share of the variance", **LAYOUT)


def pareto_front(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    data = pareto(study, None, None, "Pareto front")
    three = len(data.names) == 3
    trace = go.Scatter3d if three else go.Scatter
    fig = go.Figure()
    for points, name, colour in ((data.dominated, "Dominated", "#b0b0b0"), (data.front, "Pareto front", "#d62728")):
        if points:
            coords = dict(zip("xyz", zip(*(p for _, p in points))))
            marker = {"color": colour, "size": 5 if three else 8}
            fig.add_trace(trace(**coords, mode="markers", name=name, marker=marker,
                                hovertext=[f"trial {n}" for n, _ in points]))
    titles = {"xaxis_title": data.names[0], "yaxis_title": data.names[1]}
    if three:
        fig.update_layout(scene={**titles, "zaxis_title": data.names[2]})
    else:
        fig.update_layout(**titles)
    return fig.update_layout(title="Pareto front", **LAYOUT)


def timeline(study: Study, plotly) -> Any:
    go = plotly.graph_objects
    runs = spans(study, "timeline")
    fig = go.Figure()
    for state in STATE_COLOURS:
        mine = [s for s in runs if s.state == state]
        if mine:
            fig.add_trace(go.Bar(base=[s.start.isoformat() for s in mine], orientation="h", name=state,
                                 x=[(s.end - s.start).total_seconds() * 1000 for s in mine],
                                 y=[s.lane for s in mine], marker={"color": STATE_COLOURS[state]},
                                 hovertext=[f"trial {s.number}" for s in mine]))
    return fig.update_layout(title="Timeline", xaxis={"type": "date", "title": "Time"},
                             yaxis={"title": "Worker", "dtick": 1}, barmode="overlay", **LAYOUT)

