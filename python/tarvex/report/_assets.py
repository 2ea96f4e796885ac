"""The report page's style and script. The data (the charts' figures and every trial) and
plotly's JavaScript travel gzip-compressed in the page, which stays small for a large study;
the script unpacks them with the browser's own DecompressionStream, draws the charts, and shows
the trial table a page at a time, sorted by any column. Stored text is only ever set as text."""

# The charts' part of the script, for a report drawn with plotly.
_LIBRARY = 'unpack("tarvex-plotly")'
_DRAW = """if (parts[1] !== null) {
      const code = document.createElement("script");
      code.textContent = parts[1];
      document.head.appendChild(code);
      for (const key of Object.keys(data.figures)) {
        const figure = data.figures[key];
        window.Plotly.newPlot("plot-" + key, figure.data, figure.layout, {displaylogo: false, responsive: true});
      }
    }"""


def script(with_charts: bool) -> str:
    """The page's script; with_charts: it also unpacks plotly and draws the charts' figures."""
    return SCRIPT.replace("__LIBRARY__", _LIBRARY if with_charts else "null").replace(
        "__DRAW__", _DRAW if with_charts else ""
    )


STYLE = """
body { font-family: system-ui, sans-serif; margin: 2em auto; max-width: 1200px; color: #222; padding: 0 1em; }
h1 { font-size: 1.6em; } h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #ddd; }
table { border-collapse: collapse; font-size: 0.85em; } td, th { padding: 0.25em 0.6em; text-align: left; }
tr:nth-child(even) td { background: #f6f6f6; } th { background: #eee; }
table.sortable th { cursor: pointer; user-select: none; }
th[data-order=asc]::after { content: " \\25B2"; } th[data-order=desc]::after { content: " \\25BC"; }
.chart { margin: 1em 0; min-height: 200px; } .missing { color: #777; font-style: italic; }
.subset { color: #777; font-size: 0.85em; margin: 0; }
.trials { overflow-x: auto; } .pager { margin: 0.6em 0; } .pager button { margin-right: 0.5em; }
"""

SCRIPT = r"""
(function () {
  "use strict";
  function unpack(id) {
    const element = document.getElementById(id);
    if (!element) return Promise.resolve(null);
    return fetch("data:application/octet-stream;base64," + element.textContent.trim())
      .then(function (r) { return new Response(r.body.pipeThrough(new DecompressionStream("gzip"))).text(); });
  }
  function shownNumber(v) {
    if (typeof v === "string") return v === "NaN" ? "nan" : v === "Infinity" ? "inf" : "-inf";
    if (Number.isInteger(v)) return String(v);
    const text = Number(v).toPrecision(6);
    return text.indexOf("e") >= 0 ? text.replace(/\.?0+e/, "e") : text.replace(/\.?0+$/, "");
  }
  function shownTime(ms) {
    return new Date(ms).toISOString().slice(0, 19).replace("T", " ");
  }
  function sortKey(kind, v) {
    if (v === null || v === undefined) return [2, 0];
    if (kind === "text") return [0, v];
    if (typeof v === "string") return v === "NaN" ? [1, 0] : [0, v === "Infinity" ? Infinity : -Infinity];
    return [0, v];
  }
  function table(data, holder) {
    const columns = data.columns, cells = data.cells, perPage = data.rows_per_page;
    const n = cells.length ? cells[0].length : 0;
    let order = Array.from({length: n}, function (_, i) { return i; }), page = 0;
    const element = document.createElement("table");
    element.className = "sortable";
    element.id = "trials";
    const head = element.createTHead().insertRow(), body = element.createTBody();
    const pager = document.createElement("div");
    pager.className = "pager";
    const previous = document.createElement("button"), next = document.createElement("button");
    const where = document.createElement("span");
    previous.textContent = "Previous";
    next.textContent = "Next";
    pager.append(previous, next, where);
    function render() {
      const pages = Math.max(1, Math.ceil(n / perPage));
      page = Math.min(Math.max(page, 0), pages - 1);
      body.replaceChildren();
      for (const row of order.slice(page * perPage, (page + 1) * perPage)) {
        const tr = body.insertRow();
        columns.forEach(function (column, c) {
          const td = tr.insertCell(), v = cells[c][row], kind = column[1];
          if (v === null || v === undefined) return;
          if (kind === "text") { td.textContent = v; return; }
          td.dataset.sort = typeof v === "string" ? v : String(v);
          td.textContent = kind === "time" ? shownTime(v) : kind === "seconds" ? v.toFixed(3) + " s" : shownNumber(v);
        });
      }
      where.textContent = "Page " + (page + 1) + " of " + pages + " (" + n + " trials)";
      previous.disabled = page === 0;
      next.disabled = page >= pages - 1;
    }
    columns.forEach(function (column, c) {
      const th = document.createElement("th");
      th.textContent = column[0];
      th.addEventListener("click", function () {
        const ascending = th.dataset.order !== "asc";
        head.querySelectorAll("th").forEach(function (h) { delete h.dataset.order; });
        th.dataset.order = ascending ? "asc" : "desc";
        const kind = column[1];
        order.sort(function (a, b) {
          const x = sortKey(kind, cells[c][a]), y = sortKey(kind, cells[c][b]);
          if (x[0] !== y[0]) return x[0] - y[0];
          const d = x[1] < y[1] ? -1 : x[1] > y[1] ? 1 : 0;
          return (ascending ? d : -d) || a - b;
        });
        page = 0;
        render();
      });
      head.appendChild(th);
    });
    previous.addEventListener("click", function () { page -= 1; render(); });
    next.addEventListener("click", function () { page += 1; render(); });
    render();
    holder.replaceChildren(element, pager);
  }
  Promise.all([unpack("tarvex-data"), __LIBRARY__]).then(function (parts) {
    const data = JSON.parse(parts[0]);
    const holder = document.getElementById("trials-holder");
    if (holder) table(data.table, holder);
    __DRAW__
    document.body.dataset.ready = "true";
  }).catch(function (error) {
    const note = document.createElement("p");
    note.className = "missing";
    note.textContent = "This browser could not unpack the report's data (" + error + ").";
    document.body.prepend(note);
    throw error;
  });
})();
"""
