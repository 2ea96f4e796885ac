"""Trials run in worker processes and on a Dask cluster: the study records them as it records a
thread's, a worker that dies fails only its trial, and Ctrl-C keeps what finished."""

import json
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import tarvex as tv

S = tv.TrialState


def reporting(trial):
    x = trial.suggest_float("x", -5.0, 5.0)
    kind = trial.suggest_categorical("kind", ["a", "b"])
    with pytest.raises(ValueError):
        trial.suggest_float("bad", 1.0, 0.0)  # an owner-side error, raised where the objective asked
    for step in range(4):
        trial.report(x * x + step, step)
        if trial.should_prune():
            raise tv.TrialPruned()
    trial.set_user_attr("pid", os.getpid())
    trial.set_user_attr("seen", dict(trial.params))
    if kind == "b" and x > 4.0:
        raise ArithmeticError("too far")
    return x * x


def dies_on_trial_2(trial):
    x = trial.suggest_float("x", 0.0, 1.0)
    if trial.number == 2:
        os._exit(3)
    time.sleep(0.02)
    return x


def test_process_trials_are_recorded_as_a_threads_are(tmp_path):
    study = tv.create_study(
        storage=f"sqlite:///{tmp_path}/s.db",
        sampler=tv.RandomSampler(seed=3),
        pruner=tv.MedianPruner(n_startup_trials=5, n_warmup_steps=1),
    )
    seen = []
    study.optimize(
        reporting,
        n_trials=30,
        n_jobs=2,
        executor="process",
        catch=(ArithmeticError,),
        callbacks=[lambda s, t: seen.append((threading.get_ident(), t.number))],
    )
    trials = study.trials
    assert sorted(t.number for t in trials) == list(range(30))
    assert sorted(n for _, n in seen) == list(range(30))  # callbacks ran here, once per trial
    complete = [t for t in trials if t.state == S.Complete]
    assert complete and any(t.state == S.Pruned for t in trials)
    pids = {t.user_attrs["pid"] for t in complete}
    assert os.getpid() not in pids and len(pids) <= 2
    for t in complete:
        assert t.value == pytest.approx(t.params["x"] ** 2)
        assert t.user_attrs["seen"] == t.params
        assert [v for _, v in t.intermediate_values] == pytest.approx([t.value + s for s in range(4)])
    for t in trials:
        if t.state == S.Failed:
            assert t.fail_reason == "ArithmeticError: too far"


def test_a_worker_that_dies_fails_only_its_trial():
    study = tv.create_study()
    study.optimize(dies_on_trial_2, n_trials=8, n_jobs=2, executor="process")
    states = {t.number: t.state for t in study.trials}
    assert len(states) == 8 and states[2] == S.Failed
    assert all(s == S.Complete for n, s in states.items() if n != 2)
    reason = study.trials[2].fail_reason
    assert "WorkerLostError" in reason and "died, exit code 3" in reason


def test_running_trials_in_workers_are_seen_by_the_sampler():
    grid = {"x": list(range(6))}
    study = tv.create_study(sampler=tv.GridSampler(grid, seed=1))
    study.optimize(lambda t: time.sleep(0.05) or t.suggest_int("x", 0, 5), n_jobs=3, executor="process")
    assert sorted(t.params["x"] for t in study.trials) == list(range(6))


def test_a_timeout_and_a_progress_bar_serve_worker_processes(capsys):
    study = tv.create_study(sampler=tv.TPESampler(seed=2, n_startup_trials=2))
    started = time.monotonic()
    study.optimize(
        lambda t: time.sleep(0.05) or t.suggest_float("x", 0, 1),
        timeout=1.0,
        n_jobs=2,
        executor="process",
        progress=True,
    )
    took = time.monotonic() - started
    trials = study.trials
    assert took < 10 and len(trials) >= 4 and all(t.state == S.Complete for t in trials)
    assert sorted(t.number for t in trials) == list(range(len(trials)))
    assert "1.0/1.0 s" in capsys.readouterr().err  # the bar ran to the timeout


def test_errors_of_the_objective_and_of_the_arguments():
    study = tv.create_study()
    lock = threading.Lock()
    with pytest.raises(TypeError, match="cannot be sent to worker processes"):
        study.optimize(lambda t: lock.locked(), n_trials=2, executor="process")
    assert study.trials == []
    with pytest.raises(ValueError, match=r'executor must be "thread", "process" or a dask.distributed.Client'):
        study.optimize(reporting, n_trials=1, executor="processes")

    def fails(trial):
        raise KeyError("missing")

    with pytest.raises(KeyError, match="missing"):
        study.optimize(fails, n_trials=5, executor="process")
    assert [t.state for t in study.trials] == [S.Failed]
    assert study.trials[0].fail_reason == "KeyError: 'missing'"


CTRL_C_RUN = textwrap.dedent(
    """
    import json, signal, sys, time
    import tarvex as tv

    signal.signal(signal.SIGINT, signal.default_int_handler)  # even where the test runner ignores it

    def slow(trial):
        trial.suggest_float("x", 0, 1)
        time.sleep(float(sys.argv[1]))
        return 1.0

    study = tv.create_study()
    try:
        study.optimize(slow, n_trials=50, n_jobs=2, executor="process")
    except KeyboardInterrupt:
        print(json.dumps([[t.state.name, t.fail_reason] for t in study.trials]), flush=True)
    """
)


@pytest.mark.parametrize("presses", [1, 2])
def test_ctrl_c_lets_running_trials_finish_and_a_second_one_cancels_them(tmp_path, presses):
    script = tmp_path / "run.py"
    script.write_text(CTRL_C_RUN)
    # Its own process group, signalled as a terminal signals its foreground group: workers included.
    run = subprocess.Popen(
        [sys.executable, str(script), "1.5"], stdout=subprocess.PIPE, text=True, start_new_session=True
    )
    time.sleep(1.0)  # both workers are in their first trial
    for _ in range(presses):
        os.killpg(run.pid, signal.SIGINT)
        time.sleep(0.2)
    out, _ = run.communicate(timeout=30)
    states = json.loads(out)
    assert len(states) == 2
    if presses == 1:
        assert states == [["Complete", None]] * 2
    else:
        assert all(s == "Failed" and "cancelled" in reason for s, reason in states)


def test_a_dask_cluster_runs_the_trials_and_survives_a_dead_worker():
    import distributed

    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
    ) as cluster:
        with distributed.Client(cluster) as client:
            study = tv.create_study(sampler=tv.RandomSampler(seed=5))
            study.optimize(dies_on_trial_2, n_trials=10, n_jobs=2, executor=client)
    states = {t.number: t.state for t in study.trials}
    assert len(states) == 10 and states[2] == S.Failed
    assert all(s == S.Complete for n, s in states.items() if n != 2)
    assert "Dask worker running this trial" in study.trials[2].fail_reason
