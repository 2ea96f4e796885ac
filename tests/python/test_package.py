"""The public package: what a practitioner writes with `import tarvex as tv`."""

import importlib.metadata
import math
import subprocess
import sys
import threading
import time

import pytest

import tarvex as tv

S = tv.TrialState


def quadratic(trial):
    return (trial.suggest_float("x", -3, 3) - 1) ** 2


@pytest.mark.parametrize(
    "spelling,direction",
    [
        ("minimize", tv.StudyDirection.Minimize),
        ("MAXIMIZE", tv.StudyDirection.Maximize),
        ("Minimize", tv.StudyDirection.Minimize),
        (tv.StudyDirection.Maximize, tv.StudyDirection.Maximize),
    ],
)
def test_directions_are_spelled_freely(spelling, direction):
    assert tv.create_study(spelling).direction == direction
    assert tv.create_study(directions=[spelling, "minimize"]).directions == [direction, tv.StudyDirection.Minimize]


def test_package_surface():
    assert tv.__version__ == importlib.metadata.version("tarvex")
    assert tv.TrialPruned is __import__("_tarvex").TrialPruned
    for name in tv.__all__:
        assert getattr(tv, name).__doc__, name
    assert "n_trials" in tv.Study.optimize.__doc__ and "load_if_exists" in tv.create_study.__doc__
    assert (
        repr(tv.GPSampler(seed=3)).startswith("GPSampler(kernel='Matern52'")
        and repr(tv.RandomSampler()) == "RandomSampler(seed=None)"
    )
    study = tv.create_study(study_name="demo")
    study.optimize(quadratic, 3)
    assert repr(study).startswith("<tarvex.Study 'demo' minimize: 3 trials, best value ")


CHOICES = [None, True, False, 0, 1, 1.0, 1.5, math.inf, "1", "a", ""]


def test_categorical_choices_come_back_with_their_own_type():
    study = tv.create_study(sampler=tv.RandomSampler(seed=1))
    for choice in CHOICES:
        study.enqueue_trial({"c": choice, "x": 0})
    seen = []
    study.optimize(
        lambda t: seen.append(t.suggest_categorical("c", CHOICES)) or t.suggest_float("x", -1, 1), len(CHOICES)
    )
    assert [(type(v), v) for v in seen] == [(type(c), c) for c in CHOICES]
    stored = [t.params["c"] for t in study.trials]
    assert [(type(v), v) for v in stored] == [(type(c), c) for c in CHOICES]
    frame = study.to_dataframe()
    assert [(type(v), v) for v in frame["params_c"]] == [(type(c), c) for c in CHOICES]
    study.add_trial({"c": None, "x": -1.0}, -5)
    assert study.best_params == {"c": None, "x": -1.0}
    with pytest.raises(TypeError, match="choice"):
        study.optimize(lambda t: t.suggest_categorical("c", [b"x"]), 1, catch=())


@pytest.mark.parametrize("n_jobs", [1, 3])
def test_uncaught_errors_stop_the_run_and_are_raised_caught_ones_are_kept(n_jobs):
    def objective(trial):
        x = trial.suggest_float("x", 0, 1)
        time.sleep(0.002)
        if trial.number == 6:
            raise ZeroDivisionError("boom")
        if trial.number % 2:
            raise KeyError("odd")
        return x

    study = tv.create_study(sampler=tv.RandomSampler(seed=0))
    with pytest.raises(ZeroDivisionError, match="boom"):
        study.optimize(objective, n_trials=200, n_jobs=n_jobs, catch=(KeyError,))
    trials = study.trials
    # Trials that other workers had started before the error end normally; none starts after it.
    assert len(trials) >= 7 and all(t.state != S.Running for t in trials)
    assert all(t.datetime_start <= trials[6].datetime_complete for t in trials)
    reasons = {t.number: t.fail_reason for t in trials}
    assert reasons[1] == "KeyError: 'odd'" and reasons[6] == "ZeroDivisionError: boom" and reasons[0] is None
    bad = tv.create_study()
    bad.optimize(lambda t: None, 2)  # no value: the trial fails, the run goes on
    assert [t.state for t in bad.trials] == [S.Failed] * 2 and "must return a number" in bad.trials[0].fail_reason


def test_callbacks_see_each_stored_trial_and_can_stop_or_fail_the_run():
    seen = []

    def callback(study, trial):
        seen.append((trial.number, trial.state, len(study.trials)))
        if len(seen) == 4:
            study.stop()

    study = tv.create_study(sampler=tv.RandomSampler(seed=2))
    study.optimize(quadratic, callbacks=[callback])  # no n_trials: runs until stopped
    assert seen == [(i, S.Complete, i + 1) for i in range(4)]
    with pytest.raises(RuntimeError, match="callback failed"):
        study.optimize(quadratic, 10, callbacks=[lambda s, t: (_ for _ in ()).throw(RuntimeError("callback failed"))])
    assert len(study.trials) == 5
    study.optimize(quadratic, timeout=0.05)  # a timeout alone
    assert len(study.trials) > 5


def test_ask_and_tell_from_several_threads():
    study = tv.create_study(directions=["minimize", "maximize"], sampler=tv.RandomSampler(seed=4))

    def driver():
        for _ in range(40):
            trial = study.ask()
            x = trial.suggest_float("x", 0, 1)
            if x < 0.1:
                study.tell(trial, state=tv.TrialState.Pruned)
            else:
                study.tell(trial.number, [x, x * x])

    threads = [threading.Thread(target=driver) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    trials = study.trials
    assert len(trials) == 160 and len({t.number for t in trials}) == 160
    assert all(t.state in (S.Complete, S.Pruned) for t in trials)
    for bad in (0, 10_000):
        with pytest.raises(ValueError, match="not running in this study"):
            study.tell(bad, [1, 2])
    trial = study.ask()
    with pytest.raises(ValueError, match="2 directions"):
        study.tell(trial, [1.0])
    study.tell(trial, [1.0, 2.0])  # a rejected tell leaves the trial running


def test_dataframe_columns_and_types():
    study = tv.create_study(sampler=tv.RandomSampler(seed=5))

    def objective(trial):
        trial.set_user_attr("tag", {"n": trial.number})
        n = trial.suggest_int("n", 1, 4)
        if n == 4:
            raise ValueError("four")
        return trial.suggest_float("x", 0, 1) + n

    study.optimize(objective, 20, catch=ValueError)
    frame = study.to_dataframe()
    assert list(frame.columns)[:3] == ["number", "state", "value"] and "params_n" in frame and "params_x" in frame
    assert {"datetime_start", "datetime_complete", "duration", "user_attrs_tag", "fail_reason"} <= set(frame.columns)
    assert str(frame["number"].dtype) == "int64" and str(frame["value"].dtype) == "float64"
    assert (
        str(frame["duration"].dtype).startswith("timedelta64") and (frame["duration"] >= frame["duration"].min()).all()
    )
    failed = frame[frame["state"] == "Failed"]
    assert len(failed) and failed["value"].isna().all() and (failed["fail_reason"] == "ValueError: four").all()
    assert frame["user_attrs_tag"][3] == {"n": 3}
    mo = tv.create_study(directions=["minimize", "minimize"])
    mo.optimize(lambda t: (t.suggest_float("x", 0, 1), 1.0), 3)
    assert {"values_0", "values_1"} <= set(mo.to_dataframe().columns)


CTRL_C = """
import os, signal, sys, threading, time
import tarvex as tv
study = tv.create_study(sampler=tv.RandomSampler(seed=1))
def objective(trial):
    time.sleep(0.02)
    return trial.suggest_float("x", 0, 1)
threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
try:
    study.optimize(objective, n_jobs=int(sys.argv[1]))
except KeyboardInterrupt:
    trials = study.trials
    running = sum(t.state == tv.TrialState.Running for t in trials)
    print(len(trials), running, [t.fail_reason for t in trials if t.fail_reason])
"""


@pytest.mark.parametrize("n_jobs", [1, 4])
def test_ctrl_c_stops_the_run_and_keeps_every_finished_trial(n_jobs):
    run = subprocess.run([sys.executable, "-c", CTRL_C, str(n_jobs)], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr[-2000:]
    finished, running, reasons = run.stdout.strip().split(maxsplit=2)
    assert int(finished) >= 5 and running == "0"
    assert reasons == ("['interrupted']" if n_jobs == 1 else "[]")


def test_values_are_taken_as_what_they_stand_for():
    np = pytest.importorskip("numpy")
    study = tv.create_study(sampler=tv.RandomSampler(seed=3))
    results = iter([np.asarray(0.5), np.float32(0.25), [np.float64(2.0)], 10**400, "x", None, True])
    study.optimize(lambda t: next(results), 7)
    trials = study.trials
    assert [t.value for t in trials[:3]] == [0.5, 0.25, 2.0] and trials[6].value == 1.0
    assert [t.state for t in trials[3:6]] == [S.Failed] * 3 and "too large for a float" in trials[3].fail_reason
    choices = list(np.logspace(-3, 0, 4)) + [np.int64(7), np.bool_(True)]
    picked = []
    study.optimize(lambda t: picked.append(t.suggest_categorical("c", choices)) or 0.0, 8)
    assert set(map(type, picked)) <= {float, int, bool} and set(picked) <= {0.001, 0.01, 0.1, 1.0, 7}
    study.enqueue_trial({"big": 2**40, "n": np.int64(3), "big_int": 2**40})
    seen = {}
    with pytest.raises(ValueError, match="Enqueued value for 'big_int' does not fit a 32-bit int"):
        study.optimize(
            lambda t: (
                seen.update(big=t.suggest_float("big", 0, 1), n=t.suggest_int("n", 0, 5))
                or t.suggest_int("big_int", 0, 5)
            ),
            1,
        )
    assert seen == {"big": 2.0**40, "n": 3}


def test_parameters_keep_their_suggestion_order_everywhere(tmp_path):
    names = ["zeta", "alpha", "mid", "beta"]

    def objective(trial):
        return sum(trial.suggest_float(name, 0, 1) for name in names)

    for storage in (None, f"sqlite:///{tmp_path}/s.db"):
        study = tv.create_study(storage=storage, sampler=tv.RandomSampler(seed=1))
        study.optimize(objective, 3)
        study.add_trial({"zeta": 0.0, "alpha": 0.0, "mid": 0.0, "beta": -1.0}, -1.0)
        assert list(study.best_params) == names and list(study.trials[0].params) == names
        assert [c[len("params_") :] for c in study.to_dataframe().columns if c.startswith("params_")] == names


def test_frozen_trials_copy_and_pickle_exactly():
    import copy
    import pickle

    study = tv.create_study(sampler=tv.RandomSampler(seed=2))

    def objective(trial):
        trial.suggest_categorical("c", [None, 1.5, "s"])
        trial.suggest_int("n", 0, 9, step=3)
        trial.report(math.nan, -1)
        trial.set_user_attr("k", {"a": [1, None]})
        return trial.suggest_float("x", 1e-3, 1, log=True)

    study.optimize(objective, 2)
    study.optimize(lambda t: 1 / 0, 1, catch=ZeroDivisionError)
    for trial in study.trials:
        for twin in (pickle.loads(pickle.dumps(trial)), copy.deepcopy(trial), copy.copy(trial)):
            assert twin == trial and twin.params == trial.params and twin.fail_reason == trial.fail_reason
            assert twin.distributions == trial.distributions and twin.datetime_start == trial.datetime_start
    assert study.trials[0] != study.trials[1]


LOGGING = """
import logging, sys
import tarvex as tv
if sys.argv[1] == "configured":
    logging.basicConfig(format="app: %(message)s")
elif sys.argv[1] == "quiet":
    logging.getLogger("tarvex").setLevel(logging.ERROR)
tv.create_study().optimize(lambda trial: None, 2)
"""


@pytest.mark.parametrize(
    "setup, lines",
    [
        ("default", ["tarvex WARNING: Trial 0 failed", "tarvex WARNING: Trial 1 failed"]),
        ("configured", ["app: Trial 0 failed", "app: Trial 1 failed"]),
        ("quiet", []),
    ],
)
def test_failed_trials_are_visible_until_the_application_says_otherwise(setup, lines):
    run = subprocess.run([sys.executable, "-c", LOGGING, setup], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0 and run.stdout == ""
    got = run.stderr.strip().splitlines()
    assert [line[: len(expected)] for line, expected in zip(got, lines)] == lines and len(got) == len(lines)


def test_the_package_has_no_import_cycle():
    import ast
    import graphlib
    from pathlib import Path

    root = Path(tv.__file__).parent
    modules = {}
    for path in root.rglob("*.py"):
        parts = path.relative_to(root.parent).with_suffix("").parts
        modules[".".join(parts[:-1] if parts[-1] == "__init__" else parts)] = path
    graph = {name: set() for name in modules}
    for name, path in modules.items():
        package = name if path.name == "__init__.py" else name.rsplit(".", 1)[0]
        for node in ast.walk(ast.parse(path.read_text())):  # every import, type-only ones too
            if isinstance(node, ast.ImportFrom) and node.level:
                base = package.rsplit(".", node.level - 1)[0] if node.level > 1 else package
                target = f"{base}.{node.module}" if node.module else base
                for alias in node.names:  # a submodule by name, else a name of the module
                    sub = f"{target}.{alias.name}"
                    graph[name].add(sub if sub in modules else target)
    # The root package imports everything to re-export it; nothing may import it back.
    graph = {name: {t for t in targets if t != name} for name, targets in graph.items() if name != "tarvex"}
    assert [name for name, targets in graph.items() if "tarvex" in targets] == []
    graphlib.TopologicalSorter(graph).prepare()  # raises CycleError naming the modules of a cycle
