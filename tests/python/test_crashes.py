"""Ways a process could die, each run in a subprocess that must exit cleanly every time."""

import subprocess
import sys

import pytest

# The main thread returns while daemon threads run studies: CPython ends those threads when they
# next ask for the interpreter lock, wherever that is (a worker starting a trial, a sleep inside
# the objective, the caller taking the lock back).
INTERPRETER_EXIT = """
import sys, threading, time
import _tarvex as tv
n_jobs = int(sys.argv[1])

def objective(trial):
    x = trial.suggest_float("x", 0, 1)
    trial.report(x, 1)
    if trial.number % 3 == 0:
        time.sleep(0.0005)
    elif trial.number % 3 == 1:
        sum(range(2000))
    elif trial.should_prune():
        raise tv.TrialPruned()
    return x

def run():
    study = tv.Study(tv.StudyDirection.Minimize, tv.RandomSampler(1), tv.MedianPruner())
    while True:
        study.optimize(objective, 100, n_jobs=n_jobs)

for _ in range(2):
    threading.Thread(target=run, daemon=True).start()
time.sleep(0.15)
"""


@pytest.mark.parametrize("n_jobs", [1, 4])
def test_interpreter_exit_during_optimize_is_clean(n_jobs):
    for _ in range(8):
        run = subprocess.run(
            [sys.executable, "-c", INTERPRETER_EXIT, str(n_jobs)], capture_output=True, text=True, timeout=60
        )
        assert run.returncode == 0, run.stderr[-2000:]
        assert run.stderr == ""


# Instances made by __new__ alone hold no native object.
UNINITIALISED = """
import _tarvex as tv
Min = tv.StudyDirection.Minimize
calls = [lambda: tv.Study.__new__(tv.Study).trials,
         lambda: tv.Study.__new__(tv.Study).optimize(lambda t: 0, 1),
         lambda: tv.Trial.__new__(tv.Trial).suggest_int("x", 0, 3),
         lambda: tv.Trial.__new__(tv.Trial).trial_id,
         lambda: tv.Study(Min, tv.GPSampler.__new__(tv.GPSampler)),
         lambda: tv.Study(Min, None, tv.MedianPruner.__new__(tv.MedianPruner))]
for call in calls:
    try:
        call()
        print("accepted")
    except Exception as error:
        print(type(error).__name__)
"""


def test_uninitialised_instances_are_rejected_not_read():
    run = subprocess.run([sys.executable, "-c", UNINITIALISED], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout.split() == ["TypeError"] * 6
