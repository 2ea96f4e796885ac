"""The tarvex command against a study stored in SQLite: output, formats and exit statuses."""

import csv
import io
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import pytest

import tarvex as tv
from tarvex.cli import main


@pytest.fixture
def url(tmp_path):
    url = f"sqlite:///{tmp_path}/cli.db"
    study = tv.create_study(storage=url, study_name="tune 'quoted'", sampler=tv.RandomSampler(seed=2))

    def objective(trial):
        x = trial.suggest_float("x", -1, 1)
        act = trial.suggest_categorical("act", ["relu", None])
        if trial.number == 3:
            raise tv.TrialPruned()
        if trial.number == 4:
            raise ValueError("bad batch")
        trial.set_user_attr("note", {"k": [1, 2]})
        return x * x + (act is None)

    study.optimize(objective, n_trials=12, catch=ValueError)
    mo = tv.create_study(storage=url, study_name="mo", directions=["minimize", "maximize"])
    mo.optimize(lambda t: (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1)), n_trials=6)
    return url


def run(capsys, *argv):
    code = main(list(argv))
    out = capsys.readouterr()
    return code, out.out, out.err


def test_studies_lists_names_directions_states_and_best(url, capsys):
    code, out, _ = run(capsys, "studies", "--storage", url)
    header, first, second = out.splitlines()
    best = tv.load_study(study_name="tune 'quoted'", storage=url).best_value
    assert code == 0 and header.split()[:3] == ["name", "directions", "trials"]
    assert first.startswith("tune 'quoted'") and "minimize" in first and f"{best:.6g}" in first
    assert first.split()[3:7] == ["12", "10", "1", "1"]
    assert second.startswith("mo") and "minimize/maximize" in second and "on the Pareto front" in second


def test_best_shows_the_best_trial_and_its_parameters(url, capsys):
    code, out, _ = run(capsys, "best", "--storage", url, "--study", "tune 'quoted'")
    best = tv.load_study(study_name="tune 'quoted'", storage=url).best_trial
    assert code == 0 and out.splitlines()[0] == f"trial {best.number}: value {best.value:.6g}"
    assert f"  x = {best.params['x']!r}" in out.splitlines()
    _, out, _ = run(capsys, "best", "--storage", url, "--study", "mo")
    assert out.count("values") == len(tv.load_study(study_name="mo", storage=url).best_trials)


def test_trials_as_csv_and_json_carry_exact_values(url, capsys):
    study = tv.load_study(study_name="tune 'quoted'", storage=url)
    _, out, _ = run(capsys, "trials", "--storage", url, "--study", "tune 'quoted'", "--format", "csv")
    rows = list(csv.DictReader(io.StringIO(out)))
    assert [int(r["number"]) for r in rows] == [t.number for t in study.trials]
    assert [float(r["params_x"]) for r in rows] == [t.params["x"] for t in study.trials]
    assert rows[4]["state"] == "Failed" and "bad batch" in rows[4]["fail_reason"] and rows[4]["value"] == ""
    _, out, _ = run(capsys, "trials", "--storage", url, "--study", "tune 'quoted'", "--format", "json")
    records = json.loads(out)
    assert [r["value"] for r in records] == [t.value for t in study.trials]
    assert records[0]["user_attrs_note"] == {"k": [1, 2]} and records[0]["params_act"] in ("relu", None)
    code, out, _ = run(capsys, "trials", "--storage", url, "--study", "mo")
    assert code == 0 and out.split()[:4] == ["number", "state", "values_0", "values_1"]


def test_report_and_delete(url, capsys, tmp_path):
    out_file = tmp_path / "report.html"
    code, out, _ = run(capsys, "report", "--storage", url, "--study", "mo", "--out", str(out_file))
    assert code == 0 and "<h1>tarvex study mo</h1>" in out_file.read_text()
    with pytest.raises(SystemExit) as refused:
        main(["delete", "--storage", url, "--study", "mo"])
    assert refused.value.code == 2 and "needs --yes" in capsys.readouterr().err
    assert run(capsys, "delete", "--storage", url, "--study", "mo", "--yes")[0] == 0
    assert tv.study_names(url) == ["tune 'quoted'"]


@pytest.mark.parametrize(
    "argv, message",
    [
        (["best", "--storage", "{url}", "--study", "nope"], "no study named 'nope'"),
        (["trials", "--storage", "{url}", "--study", "nope"], "no study named 'nope'"),
        (["delete", "--storage", "{url}", "--study", "nope", "--yes"], "no study named 'nope'"),
        (["studies", "--storage", "mysql://x/y"], "mysql"),
        (["trials", "--storage", "{url}", "--study", "mo", "--format", "xml"], "invalid choice: 'xml'"),
        (["best", "--storage", "{url}"], "--study"),
        (["report", "--storage", "{url}", "--study", "mo", "--out", "/nonexistent/dir/r.html"], "cannot write"),
        ([], "COMMAND"),
        (["report", "--storage", "{url}", "--study", "mo", "--out", "{db}"], "is the study's database"),
        (["report", "--storage", "{url}", "--study", "mo", "--out", "{db}-wal"], "is the study's database"),
    ],
)
def test_bad_arguments_exit_2_with_one_line(url, capsys, argv, message):
    database = url[len("sqlite:///") :]
    before = Path(database).read_bytes()
    with pytest.raises(SystemExit) as exited:
        main([a.replace("{url}", url).replace("{db}", database) for a in argv])
    err = capsys.readouterr().err
    assert exited.value.code == 2 and message in err
    assert err.strip().splitlines()[-1].startswith("tarvex")
    assert Path(database).read_bytes() == before


@pytest.mark.parametrize(
    "command",
    [
        ["studies"],
        ["best", "--study", "s"],
        ["trials", "--study", "s"],
        ["report", "--study", "s", "--out", "r.html"],
        ["delete", "--study", "s", "--yes"],
    ],
)
def test_a_missing_database_is_named_and_never_made(tmp_path, capsys, command, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for name, content in (("tpyo.db", None), ("empty.db", b"")):
        if content is not None:
            (tmp_path / name).write_bytes(content)
        with pytest.raises(SystemExit) as exited:
            main([command[0], "--storage", f"sqlite:///{name}", *command[1:]])
        err = capsys.readouterr().err
        assert exited.value.code == 2 and len(err.strip().splitlines()) == 1
        assert ("there is no database file 'tpyo.db'" if content is None else "'empty.db' is empty") in err
        assert sorted(p.name for p in tmp_path.iterdir()) == (["empty.db"] if content is not None else [])
        assert content is None or (tmp_path / name).read_bytes() == b""
    for call in (
        lambda: tv.load_study(study_name="s", storage="sqlite:///tpyo.db"),
        lambda: tv.study_names("sqlite:///tpyo.db"),
    ):
        with pytest.raises(FileNotFoundError, match="there is no database file 'tpyo.db'"):
            call()
    assert not (tmp_path / "tpyo.db").exists()


def test_failures_after_the_storage_opens_exit_2_with_one_line(tmp_path):
    import sqlite3

    foreign = tmp_path / "other.db"
    sqlite3.connect(foreign).execute("CREATE TABLE t (x)").connection.commit()
    url = f"sqlite:///{tmp_path}/ok.db"
    tv.create_study(storage=url, study_name="s").optimize(lambda t: t.suggest_float("x", 0, 1), 2)
    for argv, stdout in (
        (["studies", "--storage", f"sqlite:///{foreign}"], None),
        (["trials", "--storage", url, "--study", "s"], "/dev/full"),
    ):
        with open(stdout or os.devnull, "w") as out:
            done = subprocess.run(
                [sys.executable, "-m", "tarvex", *argv], stdout=out, stderr=subprocess.PIPE, text=True, timeout=60
            )
        assert done.returncode == 2 and len(done.stderr.strip().splitlines()) == 1, done.stderr
        assert "not a tarvex database" in done.stderr if stdout is None else "No space left" in done.stderr


def test_stored_text_reaches_the_terminal_escaped_and_exports_are_safe(tmp_path, capsys):
    url = f"sqlite:///{tmp_path}/s.db"
    study = tv.create_study(storage=url, study_name="s")
    payload = "\x1b]52;c;ZXZpbA==\x07=cmd|' /C calc'!A0"
    study.enqueue_trial({payload: 1.5, "n": -2, "f": "=1+2"})

    def objective(trial):
        trial.set_user_attr("curve", [1.0, math.nan, math.inf, {"k": -math.inf}])
        trial.set_user_attr("note", "@SUM(A1)")
        trial.suggest_categorical("f", ["=1+2", "-x"])
        return trial.suggest_float(payload, 0, 9) + trial.suggest_int("n", -5, 5) + 1e-9

    study.optimize(objective, 1)
    for argv in (
        ["best", "--storage", url, "--study", "s"],
        ["trials", "--storage", url, "--study", "s"],
        ["studies", "--storage", url],
    ):
        code, out, _ = run(capsys, *argv)
        assert code == 0 and "\x1b" not in out and "\x07" not in out
    assert "\\x1b]52;c;ZXZpbA==\\x07" in run(capsys, "best", "--storage", url, "--study", "s")[1]
    _, out, _ = run(capsys, "trials", "--storage", url, "--study", "s", "--format", "json")
    record = json.loads(out, parse_constant=lambda c: pytest.fail(f"{c} is not JSON"))[0]
    assert record["user_attrs_curve"] == [1.0, None, None, {"k": None}]
    _, out, _ = run(capsys, "trials", "--storage", url, "--study", "s", "--format", "csv")
    header, row = list(csv.reader(io.StringIO(out)))
    assert all(not cell.startswith(("=", "+", "-", "@")) for cell in header + row if not _is_number(cell))
    cell = dict(zip(header, row))  # text neutralised, numbers exact
    assert cell["params_f"] == "'=1+2" and cell["user_attrs_note"] == "'@SUM(A1)"
    assert float(cell["params_n"]) == -2 and float(cell["value"]) == study.best_value
    done = subprocess.run([sys.executable, "-m", "tarvex", "--version"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.strip() == f"tarvex {tv.__version__}"


def _is_number(cell):
    try:
        float(cell)
    except ValueError:
        return False
    return True


def test_console_script_and_module_answer_help():
    script = Path(sys.executable).with_name("tarvex")
    for command in ([str(script)], [sys.executable, "-m", "tarvex"]):
        for sub in ([], ["studies"], ["best"], ["trials"], ["report"], ["delete"]):
            done = subprocess.run([*command, *sub, "--help"], capture_output=True, text=True)
            assert done.returncode == 0 and "usage: tarvex" in done.stdout
