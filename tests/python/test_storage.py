"""Studies in SQLite and PostgreSQL: shared by processes, surviving them, read back exactly."""

import json
import math
import os
import signal
import subprocess
import time
import warnings
from pathlib import Path

import pytest

import tarvex as tv
from conftest import WORKER

S = tv.TrialState


def test_four_processes_share_one_study(url):
    tv.create_study(storage=url, study_name="shared")
    workers = [subprocess.Popen([*WORKER, "share", url, "250"], stdout=subprocess.PIPE, text=True) for _ in range(4)]
    ran = []
    for w in workers:
        out, _ = w.communicate(timeout=300)
        assert w.returncode == 0
        ran.append(json.loads(out))
    trials = tv.load_study(study_name="shared", storage=url).trials
    assert [t.number for t in trials] == list(range(1000))
    assert all(t.state == S.Complete and set(t.params) == {"x", "n"} for t in trials)
    assert sorted(n for numbers in ran for n in numbers) == list(range(1000))
    assert all(len(numbers) == 250 for numbers in ran)


def test_a_killed_worker_leaves_its_trial_failed_and_the_rest_intact(url):
    worker = subprocess.Popen([*WORKER, "hang", url, "5"], stdout=subprocess.PIPE, text=True)
    try:
        assert worker.stdout.readline() == "running\n"
        storage = tv.DatabaseStorage(url, heartbeat_grace=1.0)
        running = tv.load_study(study_name="killed", storage=storage).trials[-1]
        assert running.state == S.Running and set(running.params) == {"x"} and running.datetime_complete is None
    finally:
        worker.send_signal(signal.SIGKILL)
        worker.wait()
    time.sleep(1.5)
    # A reader opened read-only writes nothing: the lost trial stays as it was, and a run is refused.
    reader = tv.load_study(study_name="killed", storage=tv.DatabaseStorage(url, heartbeat_grace=1.0, read_only=True))
    assert reader.trials[-1].state == S.Running
    with pytest.raises(tv.exceptions.StorageError, match="opened read-only; starting a trial would write"):
        reader.optimize(lambda t: 0.0, 1)
    study = tv.load_study(study_name="killed", storage=storage)
    trials = study.trials
    assert [t.state for t in trials] == [S.Complete] * 5 + [S.Failed]
    assert trials[5].fail_reason == "heartbeat lost" and trials[5].params == running.params
    study.optimize(lambda t: t.suggest_float("x", 0, 1), 2)  # the study goes on
    assert [t.number for t in study.trials] == list(range(8))


def test_a_gp_study_resumes_in_a_new_process(url):
    first = subprocess.run([*WORKER, "resume", url, "12"], capture_output=True, text=True, check=True)
    second = subprocess.run([*WORKER, "resume", url, "13"], capture_output=True, text=True, check=True)
    assert json.loads(first.stdout) == list(range(12)) and json.loads(second.stdout) == list(range(12, 25))
    study = tv.load_study(study_name="sphere", storage=url)
    assert len(study.trials) == 25
    # The second process modelled all 12 stored trials at once: random search rarely gets this close.
    assert study.best_value < 0.05


def test_names_and_directions_are_checked(url):
    study = tv.create_study("maximize", storage=url, study_name="s'; DROP TABLE x; --")
    with pytest.raises(ValueError, match="already exists.*load_if_exists"):
        tv.create_study("maximize", storage=url, study_name="s'; DROP TABLE x; --")
    with pytest.raises(ValueError, match="is maximize; create_study asked for minimize"):
        tv.create_study(storage=url, study_name="s'; DROP TABLE x; --", load_if_exists=True)
    again = tv.create_study("maximize", storage=url, study_name="s'; DROP TABLE x; --", load_if_exists=True)
    assert again.study_name == study.study_name and again.direction == tv.StudyDirection.Maximize
    tv.create_study(directions=["minimize", "maximize"], storage=url, study_name="mo")
    assert tv.load_study(study_name="mo", storage=url).directions == [
        tv.StudyDirection.Minimize,
        tv.StudyDirection.Maximize,
    ]
    unnamed = tv.create_study(storage=url)
    assert tv.study_names(url) == [study.study_name, "mo", unnamed.study_name]
    tv.delete_study(study_name="mo", storage=url)
    for call in (
        lambda: tv.load_study(study_name="mo", storage=url),
        lambda: tv.delete_study(study_name="mo", storage=url),
    ):
        with pytest.raises(KeyError, match="no study named 'mo'"):
            call()
    with pytest.raises(TypeError, match="study_name must be a str"):
        tv.load_study(study_name=3, storage=url)


def test_bad_storages_are_named():
    with pytest.raises(ValueError, match="unsupported URL of scheme 'redis'"):
        tv.create_study(storage="redis://localhost")
    with pytest.raises(TypeError, match="storage must be a URL"):
        tv.create_study(storage=Path("x.db"))
    with pytest.raises(ValueError, match="heartbeat_grace"):
        tv.DatabaseStorage("sqlite:///x.db", heartbeat_grace=0)


ODD = 'it\'s "quoted" -- ünïcødé ✓ ' + "L" * 5000
CHOICES = [None, True, 0, 1, 1.0, math.inf, "1", ODD, ""]


def test_every_value_type_round_trips(url):
    study = tv.create_study(storage=url, study_name=ODD)
    for choice in CHOICES:
        study.enqueue_trial({"c": choice})

    def objective(trial):
        trial.suggest_categorical("c", CHOICES)
        trial.suggest_float("lr", 1e-8, 1.0, log=True)
        trial.suggest_float("q", 0, 1, step=0.25)
        trial.suggest_int("n", -3, 2**31 - 1)
        trial.suggest_float(ODD, -1, 1)
        trial.set_user_attr(ODD, {"nested": [1, 2.5, None, ODD]})
        trial.report(math.nan, 0)
        trial.report(-math.inf, 2**31 - 1)
        if trial.number == 1:
            raise tv.TrialPruned()
        if trial.number == 2:
            raise ValueError(ODD)
        return 5e-324 if trial.number else -1.7e308

    study.optimize(objective, len(CHOICES), catch=ValueError)
    sent = study.trials
    back = tv.load_study(study_name=ODD, storage=tv.DatabaseStorage(url)).trials
    assert [t.params for t in back] == [t.params for t in sent]
    assert [type(t.params["c"]) for t in back] == [type(c) for c in CHOICES]
    assert [t.state for t in back[:3]] == [S.Complete, S.Pruned, S.Failed]
    assert back[2].fail_reason == f"ValueError: {ODD}"
    assert back[0].values == [-1.7e308] and back[3].value == 5e-324
    assert back[0].user_attrs == {ODD: {"nested": [1, 2.5, None, ODD]}}
    steps = back[0].intermediate_values
    assert math.isnan(steps[0][1]) and steps[1] == (2**31 - 1, -math.inf)
    assert [t.datetime_start for t in back] == [t.datetime_start for t in sent]


def test_a_forked_child_is_told_to_open_the_storage_itself(tmp_path):
    study = tv.create_study(storage=f"sqlite:///{tmp_path}/study.db", study_name="s")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with the heartbeat thread running
        child = os.fork()
    if child == 0:
        try:
            study.optimize(lambda t: t.suggest_float("x", 0, 1), 1)
        except RuntimeError as e:
            os._exit(0 if "opened in another process" in str(e) else 1)
        os._exit(2)
    assert os.waitpid(child, 0)[1] == 0
    study.optimize(lambda t: t.suggest_float("x", 0, 1), 1)  # the parent's connection is unharmed
    assert len(study.trials) == 1
