// The dashboard's pages: they fetch the server's JSON and show it, and poll it to stay live.
// Stored text is only ever set as text (textContent), never parsed as HTML.
(function () {
  "use strict";
  const POLL_MS = 1000;

  function api(path) {
    return fetch(path, {cache: "no-store"}).then(function (response) {
      return response.json().catch(function () { return {}; }).then(function (body) {
        if (!response.ok) throw new Error(body.error || response.status + " " + response.statusText);
        return body;
      });
    });
  }

  function element(tag, text, className) {
    const e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = text;
    if (className) e.className = className;
    return e;
  }

  function shownNumber(v) {
    if (v === null || v === undefined) return "";
    if (typeof v === "string") return v === "NaN" ? "nan" : v === "Infinity" ? "inf" : v === "-Infinity" ? "-inf" : v;
    if (Number.isInteger(v)) return String(v);
    const text = Number(v).toPrecision(6);
    return text.indexOf("e") >= 0 ? text.replace(/\.?0+e/, "e") : text.replace(/\.?0+$/, "");
  }

  // Times in the table are milliseconds of local time counted as if they were UTC.
  function shownTime(ms) { return new Date(ms).toISOString().slice(0, 19).replace("T", " "); }
  function clock(date) { return date.toTimeString().slice(0, 8); }

  function cell(kind, v) {
    if (v === null || v === undefined) return "";
    if (kind === "text") return v;
    if (kind === "time") return shownTime(v);
    if (kind === "seconds") return typeof v === "number" ? v.toFixed(3) + " s" : shownNumber(v);
    return shownNumber(v);
  }

  const error = document.getElementById("error");
  function showError(message) { error.textContent = message; error.hidden = false; }
  function failed(e) { showError(String(e.message || e)); }
  function clearError() { error.hidden = true; error.textContent = ""; }

  function updated(lastActivity) {
    const now = clock(new Date());
    const change = lastActivity ? " · last trial activity " + clock(new Date(lastActivity * 1000)) : "";
    document.getElementById("updated").textContent = "Last updated " + now + change;
  }

  // Polls fn every POLL_MS, one call at a time, showing what goes wrong and going on.
  function every(fn) {
    function tick() {
      fn().then(clearError, failed)
        .finally(function () { setTimeout(tick, POLL_MS); });
    }
    setTimeout(tick, POLL_MS);
  }

  // ---- the list of studies ----------------------------------------------------------------

  function studiesPage() {
    const holder = document.getElementById("studies");
    const heads = ["Study", "Directions", "Trials", "Complete", "Pruned", "Failed", "Running", "Best", "Last activity"];
    function refresh() {
      return api("/api/studies").then(function (data) {
        document.getElementById("storage").textContent = "Storage: " + data.storage;
        if (!data.studies.length) {
          holder.replaceChildren(element("p", "The storage holds no studies yet.", "missing"));
        } else {
          const table = element("table");
          table.id = "studies-table";
          const head = table.createTHead().insertRow();
          heads.forEach(function (h) { head.appendChild(element("th", h)); });
          const body = table.createTBody();
          data.studies.forEach(function (s) {
            const row = body.insertRow();
            row.dataset.study = s.id;
            const link = element("a", s.name);
            link.href = "/studies/" + s.id;
            row.insertCell().appendChild(link);
            row.insertCell().textContent = s.directions.join(", ");
            row.insertCell().textContent = s.trials;
            ["Complete", "Pruned", "Failed", "Running"].forEach(function (k) { row.insertCell().textContent = s.states[k]; });
            row.insertCell().textContent = s.best === null ? "" : s.best;
            row.insertCell().textContent = s.last_activity ? clock(new Date(s.last_activity * 1000)) : "";
          });
          holder.replaceChildren(table);
        }
        updated(null);
        document.body.dataset.ready = "true";
      });
    }
    refresh().then(clearError, failed).finally(function () { every(refresh); });
  }

  // ---- one study ----------------------------------------------------------------------------

  function studyPage() {
    const base = "/api/studies/" + document.body.dataset.study;
    // plotly's script loads beside the data, which is fetched meanwhile; charts wait for both.
    const plotly = new Promise(function (resolve) {
      const script = document.getElementById("plotly");
      if (window.Plotly || !script) { resolve(); return; }
      script.addEventListener("load", resolve);
      script.addEventListener("error", resolve);
    });
    let version = -1;
    const charts = {};  // key -> {version, loading, holder}
    const table = {sort: "number", descending: false, page: 0, version: -1};

    function summary(info) {
      document.getElementById("title").textContent = info.name;
      document.title = info.name + " · tarvex";
      const body = document.createElement("tbody");
      info.summary.forEach(function (item) {
        const row = body.insertRow();
        row.appendChild(element("th", item[0]));
        row.insertCell().textContent = item[1];
      });
      document.getElementById("summary").replaceChildren(body);
    }

    // The page is ready for its reader (and for tests) once the table and every chart have come.
    function checkReady() {
      const all = Object.keys(charts).every(function (key) { return charts[key].holder.dataset.state; });
      if (all && table.version >= 0) document.body.dataset.ready = "true";
    }

    function drawChart(key) {
      const chart = charts[key];
      if (chart.loading) return chart.loading;
      const url = base + "/charts/" + encodeURIComponent(key) + "?have=" + chart.version;
      chart.loading = Promise.all([api(url), plotly]).then(function (parts) {
        const data = parts[0];
        if (data.unchanged) return;
        chart.version = data.version;
        if (data.missing !== undefined) {
          chart.holder.replaceChildren(element("p", chart.heading + ": not shown, " + data.missing + ".", "missing"));
          chart.holder.dataset.state = "missing";
          return;
        }
        if (!window.Plotly) {
          chart.holder.replaceChildren(element("p", chart.heading + ": plotly's script did not load.", "missing"));
          chart.holder.dataset.state = "missing";
          return;
        }
        let plot = chart.holder.querySelector(".plot");
        if (!plot) {
          plot = element("div", null, "plot");
          chart.holder.replaceChildren(plot);
        }
        return window.Plotly.react(plot, data.figure.data, data.figure.layout, {displaylogo: false, responsive: true})
          .then(function () { chart.holder.dataset.state = "drawn"; });
      }).finally(function () { chart.loading = null; checkReady(); });
      return chart.loading;
    }

    function renderTable(data) {
      table.version = data.version;
      const element_ = element("table", null, "sortable rows");
      element_.id = "trials-table";
      const head = element_.createTHead().insertRow();
      data.columns.forEach(function (column) {
        const th = element("th", column[0]);
        if (column[0] === data.sort) th.dataset.order = data.descending ? "desc" : "asc";
        th.addEventListener("click", function () {
          table.descending = table.sort === column[0] ? !table.descending : false;
          table.sort = column[0];
          table.page = 0;
          refreshTable().catch(failed);
        });
        head.appendChild(th);
      });
      const body = element_.createTBody();
      data.rows.forEach(function (values) {
        const row = body.insertRow();
        row.dataset.number = values[0];
        values.forEach(function (v, c) { row.insertCell().textContent = cell(data.columns[c][1], v); });
        row.addEventListener("click", function () { showTrial(values[0]); });
      });
      document.getElementById("trials").replaceChildren(
        data.total ? element_ : element("p", "No trials yet.", "missing"));
      table.page = data.page;
      document.getElementById("where").textContent =
        "Page " + (data.page + 1) + " of " + data.pages + " (" + data.total + " trials)";
      document.getElementById("previous").disabled = data.page === 0;
      document.getElementById("next").disabled = data.page >= data.pages - 1;
    }

    function refreshTable() {
      const query = "?sort=" + encodeURIComponent(table.sort) + "&order=" + (table.descending ? "desc" : "asc") +
        "&page=" + table.page;
      return api(base + "/trials" + query).then(renderTable);
    }

    function showTrial(number) {
      return api(base + "/trials/" + number).then(function (t) {
        const holder = document.getElementById("detail");
        const rows = element("tbody");
        function add(label, value) {
          const row = rows.insertRow();
          row.appendChild(element("th", label));
          const td = row.insertCell();
          td.appendChild(typeof value === "string" ? document.createTextNode(value) : value);
        }
        function json(value) { return element("pre", JSON.stringify(value, null, 1)); }
        add("State", t.state);
        if (t.values.length) add(t.values.length > 1 ? "Values" : "Value", t.values.map(shownNumber).join(", "));
        if (t.constraints.length) add("Constraints", t.constraints.map(shownNumber).join(", "));
        Object.keys(t.params).forEach(function (name) { add("Parameter " + name, JSON.stringify(t.params[name])); });
        add("Started", t.datetime_start);
        if (t.datetime_complete) add("Finished", t.datetime_complete + " (" + t.duration.toFixed(3) + " s)");
        if (t.intermediate_values.length) {
          add("Reports", t.intermediate_values.map(function (r) { return r[0] + ": " + shownNumber(r[1]); }).join("\n"));
        }
        if (Object.keys(t.user_attrs).length) add("User attributes", json(t.user_attrs));
        if (Object.keys(t.system_attrs).length) add("System attributes", json(t.system_attrs));
        if (t.fail_reason) add("Fail reason", t.fail_reason);
        if (Object.keys(t.distributions).length) add("Distributions", json(t.distributions));
        const content = element("table");
        content.appendChild(rows);
        holder.replaceChildren(element("h3", "Trial " + t.number), content);
        holder.hidden = false;
        holder.dataset.number = t.number;
      }).catch(failed);
    }

    document.getElementById("previous").addEventListener("click", function () {
      table.page -= 1;
      refreshTable().catch(failed);
    });
    document.getElementById("next").addEventListener("click", function () {
      table.page += 1;
      refreshTable().catch(failed);
    });

    function load() {
      return api(base).then(function (info) {
        version = info.version;
        summary(info);
        const holder = document.getElementById("charts");
        info.charts.forEach(function (c) {
          if (charts[c[0]]) return;
          const div = element("div", null, "chart");
          div.id = "chart-" + c[0];
          div.appendChild(element("p", c[1] + ": drawing…", "missing"));
          holder.appendChild(div);
          charts[c[0]] = {version: -1, loading: null, holder: div, heading: c[1]};
        });
        updated(info.last_activity);
        return Promise.all([refreshTable()].concat(Object.keys(charts).map(drawChart)));
      });
    }

    function poll() {
      return api(base + "/version").then(function (v) {
        updated(v.last_activity);
        if (v.version === version) {
          // Charts of a large study that changes all the time may lag a version, and a chart
          // that failed to come is asked again: catch them up.
          return Promise.all(Object.keys(charts).filter(function (key) { return charts[key].version < version; })
            .map(drawChart));
        }
        version = v.version;
        return Promise.all([api(base).then(summary), refreshTable()].concat(Object.keys(charts).map(drawChart)));
      });
    }

    load().then(checkReady, failed)
      .finally(function () { every(function () { return charts.history ? poll() : load(); }); });
  }

  if (document.body.dataset.page === "studies") studiesPage();
  else studyPage();
})();
