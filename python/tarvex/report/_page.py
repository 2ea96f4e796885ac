"""The report page: summary, charts, importances and trials in one HTML file."""

from __future__ import annotations

import base64
import datetime
import html
import io
import os
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

import _tarvex

from .._records import counts_text, trial_records
from ..importance import param_importances
from . import _charts

if TYPE_CHECKING:
    from .._study import Study

TrialState = _tarvex.TrialState
STYLE = """
body { font-family: system-ui, sans-serif; margin: 2em auto; max-width: 1200px; color: #222; padding: 0 1em; }
h1 { font-size: 1.6em; } h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #ddd; }
table { border-collapse: collapse; font-size: 0.85em; } td, th { padding: 0.25em 0.6em; text-align: left; }
tr:nth-child(even) td { background: #f6f6f6; } th { background: #eee; }
table.sortable th { cursor: pointer; user-select: none; }
th[data-order=asc]::after { content: " \\25B2"; } th[data-order=desc]::after { content: " \\25BC"; }
.chart { margin: 1em 0; min-height: 200px; } .missing { color: #777; font-style: italic; }
.trials { overflow-x: auto; }
"""
SORT_SCRIPT = """
document.querySelectorAll("table.sortable th").forEach(function (th, column) {
  th.addEventListener("click", function () {
    var body = th.closest("table").tBodies[0];
    var ascending = th.dataset.order !== "asc";
    th.closest("tr").querySelectorAll("th").forEach(function (h) { delete h.dataset.order; });
    th.dataset.order = ascending ? "asc" : "desc";
    function key(cell) {
      var text = cell.dataset.sort !== undefined ? cell.dataset.sort : cell.textContent;
      var number = parseFloat(text);
      return text.trim() === "" || isNaN(number) ? [1, text] : [0, number];
    }
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = key(a.cells[column]), y = key(b.cells[column]);
      var order = x[0] - y[0] || (x[1] < y[1] ? -1 : x[1] > y[1] ? 1 : 0);
      return ascending ? order : -order;
    });
    rows.forEach(function (row) { body.appendChild(row); });
  });
});
"""


def write_report(study: Study, path: str | os.PathLike[str], *, title: str | None = None) -> None:
    """Writes the study's report to path: one HTML file that needs no network.

    It holds the summary (directions, trials by state, the best trial and its parameters, or the
    Pareto front), the charts of tarvex.visualization (interactive with plotly, the "report" extra;
    otherwise images drawn by matplotlib), the parameter importances (with scikit-learn) and a
    table of every trial, sorted by clicking a column's title."""
    title = title or f"tarvex study {study.study_name}"
    page = _page(study, title)
    with open(path, "w", encoding="utf-8") as out:
        out.write(page)


def _page(study: Study, title: str) -> str:
    plotly = _plotly()
    shares, importance_note = _importances(study)
    charts = [("history", "Optimization history", _charts.history)]
    if len(study.directions) > 1:
        charts.append(("pareto", "Pareto front", _charts.pareto_front))
    else:
        charts += [("intermediate", "Intermediate values", _charts.intermediate),
                   ("parallel", "Parallel coordinates", _charts.parallel),
                   ("slice", "Slice plot", _charts.slice_),
                   ("contour", "Contour plot", _charts.contour)]
        if shares:
            charts.append(("importances", "Parameter importances",
                           lambda s, p: _charts.importances(s, p, shares[0])))
    charts.append(("timeline", "Timeline", _charts.timeline))
    head = [f"<title>{html.escape(title)}</title>", f"<style>{STYLE}</style>"]
    if plotly:
        from plotly.offline import get_plotlyjs

        head.append(f'<script type="text/javascript">{get_plotlyjs()}</script>')
    body = [f"<h1>{html.escape(title)}</h1>", _summary(study), "<h2>Charts</h2>"]
    body += [_chart(study, plotly, *chart) for chart in charts]
    body += ["<h2>Parameter importances</h2>", _importance_table(shares, study) if shares else
             f'<p class="missing">{html.escape(importance_note)}</p>', "<h2>Trials</h2>", _trial_table(study)]
    stamp = datetime.datetime.now().isoformat(timespec="seconds")
    body.append(f'<p class="missing">Written {stamp} by tarvex.</p><script>{SORT_SCRIPT}</script>')
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">" + "".join(head) +
            "</head><body>" + "\n".join(body) + "</body></html>\n")


def _optional(module: str) -> bool:
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def _plotly() -> Any:
    """plotly with the modules the charts use, or None without it."""
    try:
        import plotly
        import plotly.graph_objects
        import plotly.subplots
    except ImportError:
        return None
    return plotly


def _chart(study: Study, plotly: Any, key: str, heading: str, build: Callable) -> str:
    """One chart, or a line saying why it is not shown."""
    try:
        if plotly:
            figure = build(study, plotly)
            return f'<div class="chart" id="chart-{key}">' + figure.to_html(
                full_html=False, include_plotlyjs=False, div_id=f"plot-{key}",
                config={"displaylogo": False, "responsive": True}) + "</div>"
        return _image(study, key, heading)
    except ValueError as error:
        return f'<p class="missing" id="chart-{key}">{html.escape(heading)}: not shown, {html.escape(str(error))}.</p>'


def _image(study: Study, key: str, heading: str) -> str:
    """The chart drawn by matplotlib and embedded as a PNG, for a report without plotly."""
    if not _optional("matplotlib"):
        raise ValueError('charts need plotly or matplotlib: pip install "tarvex[report]"')
    from .. import visualization as vis

    draw = {"history": vis.plot_optimization_history, "pareto": vis.plot_pareto_front,
            "intermediate": vis.plot_intermediate_values, "parallel": vis.plot_parallel_coordinate,
            "slice": vis.plot_slice, "contour": vis.plot_contour, "importances": vis.plot_param_importances,
            "timeline": vis.plot_timeline}[key]
    import matplotlib.pyplot as plt

    drawn = draw(study)
    figure = getattr(drawn, "figure", drawn)
    buffer = io.BytesIO()
    try:
        figure.savefig(buffer, format="png", dpi=90, bbox_inches="tight")
    finally:
        plt.close(figure)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    image = f'<img alt="{html.escape(heading)}" src="data:image/png;base64,{data}">'
    return f'<div class="chart" id="chart-{key}">{image}</div>'


def _importances(study: Study) -> tuple[list[dict[str, float]], str]:
    """Importances per objective, or why there are none."""
    if not _optional("sklearn"):
        return [], 'Parameter importances need scikit-learn: pip install "tarvex[importance]".'
    out = []
    try:
        for i in range(len(study.directions)):
            target = None if len(study.directions) == 1 else (lambda t, i=i: t.values[i])
            out.append(param_importances(study, target=target))
    except ValueError as error:
        return [], f"Not computed: {error}."
    return out, ""


def _importance_table(shares: list[dict[str, float]], study: Study) -> str:
    names = list(shares[0])
    heads = ["Importance"] if len(shares) == 1 else [f"Objective {i}" for i in range(len(shares))]
    rows = "".join("<tr><td>" + html.escape(n) + "</td>" + "".join(f"<td>{s[n]:.3f}</td>" for s in shares) + "</tr>"
                   for n in names)
    return ('<table id="importances"><thead><tr><th>Parameter</th>' + "".join(f"<th>{h}</th>" for h in heads) +
            f"</tr></thead><tbody>{rows}</tbody></table>")


def _summary(study: Study) -> str:
    trials = study.trials
    directions = ", ".join(d.name.lower() for d in study.directions)
    where = study.storage.url if study.storage is not None else "this process's memory"
    items = [("Study", study.study_name), ("Storage", where), ("Directions", directions),
             ("Trials", f"{len(trials)} ({counts_text(trials)})"
              if trials else "none")]
    complete = any(t.state == TrialState.Complete for t in trials)
    if complete and len(study.directions) == 1:
        best = study.best_trial
        items += [("Best trial", str(best.number)), ("Best value", f"{best.value:.6g}")]
        items += [(f"Best {name}", repr(value)) for name, value in sorted(best.params.items())]
    elif complete:
        items.append(("Pareto front", ", ".join(str(t.number) for t in study.best_trials) + " (trial numbers)"))
    rows = "".join(f"<tr><th>{html.escape(k)}</th><td>{html.escape(v)}</td></tr>" for k, v in items)
    return f'<table id="summary">{rows}</table>'


def _trial_table(study: Study) -> str:
    columns, rows = trial_records(study)
    if not rows:
        return '<p class="missing">No trials yet.</p>'
    head = "".join(f"<th>{html.escape(c)}</th>" for c in columns)
    body = "".join("<tr>" + "".join(_cell(row.get(c)) for c in columns) + "</tr>" for row in rows)
    return (f'<div class="trials"><table class="sortable" id="trials"><thead><tr>{head}</tr></thead>'
            f"<tbody>{body}</tbody></table></div>")


def _cell(value: Any) -> str:
    if value is None:
        return "<td></td>"
    if isinstance(value, datetime.datetime):
        return f"<td>{value.isoformat(sep=' ', timespec='seconds')}</td>"
    if isinstance(value, datetime.timedelta):
        seconds = value.total_seconds()
        return f'<td data-sort="{seconds!r}">{seconds:.3f} s</td>'
    if isinstance(value, float):
        return f'<td data-sort="{value!r}">{value:.6g}</td>'
    return f"<td>{html.escape(str(value))}</td>"
