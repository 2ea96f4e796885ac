"""The HTML report opened in a real headless browser: it loads without a JavaScript error, draws
every chart and sorts its trial table; it needs no network, with plotly or without."""

import io
import math
import re
import subprocess
import sys

import pytest
from PIL import Image

import tarvex as tv
from browser import Browser
from tarvex.report import _page


@pytest.fixture(scope="module")
def browser():
    with Browser() as b:
        yield b


def objective(trial):
    lr = trial.suggest_float("lr", 1e-4, 1.0, log=True)
    units = trial.suggest_int("units", 8, 64)
    act = trial.suggest_categorical("act", ["relu", "tanh"])
    for step in range(3):
        trial.report(lr * (3 - step), step)
        if trial.should_prune():
            raise tv.TrialPruned()
    if trial.number == 7:
        raise RuntimeError("out of memory")
    return math.log10(lr) ** 2 + units / 64 + (act == "tanh")


@pytest.fixture(scope="module")
def study():
    s = tv.create_study(study_name="resnet <b>&", sampler=tv.RandomSampler(seed=1), pruner=tv.MedianPruner())
    s.optimize(objective, n_trials=40, n_jobs=2, catch=RuntimeError)
    return s


def chart_regions(browser):
    return browser.evaluate(
        "Array.from(document.querySelectorAll('.chart')).map(e => {"
        "const r = e.getBoundingClientRect();"
        "return [e.id, r.left + scrollX, r.top + scrollY, r.width, r.height]; })"
    )


def drawn_share(image, box):
    """The share of a region's pixels that are not background white."""
    levels = image.crop(box).convert("L").histogram()
    return sum(levels[:235]) / sum(levels)


def test_single_objective_report_draws_every_chart(study, browser, tmp_path):
    path = tmp_path / "report.html"
    study.report(str(path))
    page = path.read_text()
    assert not re.search(r"<(script|link|img)[^>]+(src|href)=\"?https?:", page)  # works offline
    assert "resnet &lt;b&gt;&amp;" in page and "<b>&" not in page.split("<body>")[1].split("<script")[0]
    browser.open(path)
    browser.wait_for("document.querySelectorAll('.chart .main-svg').length >= 7")
    assert browser.errors == []
    assert browser.evaluate("document.querySelector('h1').innerText") == "tarvex study resnet <b>&"
    regions = chart_regions(browser)
    assert [r[0] for r in regions] == [
        "chart-history",
        "chart-intermediate",
        "chart-parallel",
        "chart-slice",
        "chart-contour",
        "chart-importances",
        "chart-timeline",
    ]
    shot = Image.open(io.BytesIO(browser.screenshot()))
    title = browser.evaluate(
        "(() => { const r = document.querySelector('h1').getBoundingClientRect();"
        "return [r.left, r.top + scrollY, r.right, r.bottom + scrollY]; })()"
    )
    assert drawn_share(shot, tuple(title)) > 0.05
    for key, left, top, width, height in regions:
        share = drawn_share(shot, (left, top, left + width, top + height))
        assert 0.003 < share < 0.9, f"{key} looks blank or solid: {share:.3f}"
    texts = browser.evaluate("Array.from(document.querySelectorAll('.gtitle')).map(e => e.textContent)")
    assert {"Optimization history", "Parameter importances", "Timeline"} <= set(texts)


def test_trial_table_sorts_by_a_clicked_column(study, browser, tmp_path):
    path = tmp_path / "report.html"
    study.report(str(path))
    browser.open(path)
    browser.wait_for("document.body.dataset.ready === 'true'")
    column = browser.evaluate(
        "Array.from(document.querySelectorAll('#trials th')).findIndex(th => th.textContent === 'value')"
    )
    read = f"Array.from(document.querySelectorAll('#trials tbody tr')).map(r => r.cells[{column}].dataset.sort || '')"
    browser.evaluate(f"document.querySelectorAll('#trials th')[{column}].click()")
    values = [float(v) for v in browser.evaluate(read) if v]
    assert values == sorted(values) and len(values) == sum(t.state == tv.TrialState.Complete for t in study.trials)
    browser.evaluate(f"document.querySelectorAll('#trials th')[{column}].click()")
    assert [float(v) for v in browser.evaluate(read) if v] == sorted(values, reverse=True)
    assert browser.errors == []


def test_multi_objective_report_shows_the_pareto_front(browser, tmp_path):
    mo = tv.create_study(
        directions=["minimize", "maximize"],
        sampler=tv.RandomSampler(seed=2),
        objective_names=["error", "speed"],
        constraints=lambda t: [t.params["a"] - 0.8],
    )
    mo.optimize(lambda t: (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1)), n_trials=25)
    path = tmp_path / "mo.html"
    mo.report(str(path))
    browser.open(path)
    browser.wait_for("document.body.dataset.ready === 'true'")
    assert browser.errors == []
    regions = [r[0] for r in chart_regions(browser)]
    assert regions == ["chart-history", "chart-pareto", "chart-hypervolume", "chart-timeline"]
    assert browser.evaluate("document.querySelectorAll('#importances tr').length") == 3  # header, a, b
    page = path.read_text()
    assert "error (minimize), speed (maximize)" in page and "completed trials with constraints" in page


def test_without_plotly_the_charts_are_embedded_images(study, browser, tmp_path, monkeypatch):
    monkeypatch.setattr(_page, "plotly_module", lambda: None)
    path = tmp_path / "images.html"
    study.report(str(path))
    assert "plotly" not in path.read_text().lower()
    browser.open(path)
    browser.wait_for("document.body.dataset.ready === 'true'")
    loaded = browser.evaluate("Array.from(document.querySelectorAll('.chart img')).map(i => i.naturalWidth > 100)")
    assert loaded == [True] * 7 and browser.errors == []


def test_a_study_with_nothing_to_show_still_reports_why(browser, tmp_path):
    path = tmp_path / "empty.html"
    tv.create_study(study_name="empty").report(str(path))
    browser.open(path)
    browser.wait_for("document.body.dataset.ready === 'true'")
    assert browser.errors == []
    missing = browser.evaluate("Array.from(document.querySelectorAll('p.missing')).map(p => p.textContent)")
    assert any("no completed trials" in m for m in missing) and any("No trials yet" in m for m in missing)


def test_a_large_study_draws_subsets_and_pages_every_trial(browser, tmp_path, monkeypatch):
    from tarvex.report import _charts, _table

    monkeypatch.setattr(_charts, "LIMITS", {k: 40 for k in _charts.LIMITS})
    monkeypatch.setattr(_table, "ROWS_PER_PAGE", 25)
    payload = "</script><script>window.hacked = 1</script>"
    study = tv.create_study(sampler=tv.RandomSampler(seed=3))
    study.optimize(lambda t: t.suggest_float(payload, 0, 1) + t.suggest_int("n", 0, 3), 120)
    path = tmp_path / "large.html"
    study.report(str(path))
    browser.open(path)
    browser.wait_for("document.body.dataset.ready === 'true'")
    assert browser.errors == [] and browser.evaluate("window.hacked === undefined")
    notes = browser.evaluate("Array.from(document.querySelectorAll('.annotation-text')).map(e => e.textContent)")
    assert "40 of 120 trials shown: the best and a random sample of the others" in notes
    heads = browser.evaluate("Array.from(document.querySelectorAll('#trials th')).map(th => th.textContent)")
    assert f"params_{payload}" in heads
    value = heads.index("value")
    first_rows = f"Array.from(document.querySelectorAll('#trials tbody tr')).map(r => r.cells[{value}].dataset.sort)"
    browser.evaluate(f"document.querySelectorAll('#trials th')[{value}].click()")
    assert float(browser.evaluate(first_rows)[0]) == study.best_value  # sorted over every page
    seen = []
    for page in range(5):
        seen += browser.evaluate(
            "Array.from(document.querySelectorAll('#trials tbody tr')).map(r => r.cells[0].textContent)"
        )
        assert browser.evaluate("document.querySelector('.pager span').textContent").startswith(f"Page {page + 1} of 5")
        browser.evaluate("document.querySelectorAll('.pager button')[1].click()")
    assert sorted(int(n) for n in seen) == list(range(120))


def test_a_report_is_written_whole_or_not_at_all(study, tmp_path, monkeypatch):
    path = tmp_path / "report.html"
    path.write_text("the earlier report")
    monkeypatch.setattr(_page.os, "replace", lambda *a: (_ for _ in ()).throw(OSError("disk full")))
    with pytest.raises(OSError, match="disk full"):
        study.report(str(path))
    assert path.read_text() == "the earlier report" and [p.name for p in tmp_path.iterdir()] == ["report.html"]


def test_the_plotly_report_needs_no_matplotlib(tmp_path):
    script = f"""
import sys
sys.modules["matplotlib"] = None  # importing it raises ImportError
import tarvex as tv
study = tv.create_study(sampler=tv.RandomSampler(seed=1))
study.optimize(lambda t: t.suggest_float("x", 0, 1) + t.suggest_float("y", 1, 10, log=True), n_trials=30)
study.report({str(tmp_path / "r.html")!r})
"""
    subprocess.run([sys.executable, "-c", script], check=True, timeout=120)
    page = (tmp_path / "r.html").read_text()
    assert "chart-contour" in page and "<img" not in page
