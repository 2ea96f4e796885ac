"""A worker process of the storage tests: python storage_worker.py MODE URL [ARGS]."""

import json
import sqlite3
import sys
import time

import tarvex as tv


def share(url, n_trials):
    """Runs n_trials on the study 'shared' with three threads; prints the trial numbers it ran."""
    study = tv.create_study(storage=url, study_name="shared", load_if_exists=True, sampler=tv.RandomSampler())
    mine = []

    def objective(trial):
        mine.append(trial.number)
        return trial.suggest_float("x", -1, 1) ** 2 + trial.suggest_int("n", 0, 3)

    study.optimize(objective, int(n_trials), n_jobs=3)
    print(json.dumps(mine))


def hang(url, n_done):
    """Completes n_done trials, then starts one that reports and keeps an attribute and never ends
    (the test kills this process)."""
    storage = tv.DatabaseStorage(url, heartbeat_grace=1.0, create=True)
    study = tv.create_study(storage=storage, study_name="killed", load_if_exists=True)
    study.optimize(lambda t: t.suggest_float("x", 0, 1), int(n_done))
    trial = study.ask()
    trial.suggest_float("x", 0, 1)
    trial.report(0.25, 1)
    trial.set_user_attr("epoch", [1, "warm"])
    print("running", flush=True)
    time.sleep(600)


def resume(url, n_trials):
    """Adds n_trials GP trials to the study 'sphere'; prints the numbers of the new trials."""
    study = tv.create_study(storage=url, study_name="sphere", load_if_exists=True, sampler=tv.GPSampler(seed=7))
    before = len(study.trials)
    study.optimize(lambda t: t.suggest_float("x", -5, 5) ** 2 + t.suggest_float("y", -5, 5) ** 2, int(n_trials))
    print(json.dumps([t.number for t in study.trials[before:]]))


def stall(url, seconds):
    """Runs one trial of the study 's' that takes seconds; prints the states and system
    attributes of the study's trials when done."""
    storage = tv.DatabaseStorage(url, heartbeat_grace=1.0, create=True)
    study = tv.create_study(storage=storage, study_name="s", load_if_exists=True)

    def objective(trial):
        x = trial.suggest_float("x", 0, 1)
        print("running", flush=True)
        time.sleep(float(seconds))
        return x

    study.optimize(objective, 1)
    print(json.dumps([[t.state.name, t.system_attrs] for t in study.trials]), flush=True)


def blocked(url, timeout, n_jobs):
    """Runs trials of the study 's'; trial 3 says "blocking" and waits a second before its
    parameter, for the test to block the database. Prints what optimize raised."""
    storage = tv.DatabaseStorage(url, timeout=float(timeout))
    study = tv.load_study(study_name="s", storage=storage)

    def objective(trial):
        if trial.number == 3:
            print("blocking", flush=True)
            time.sleep(1)
        return trial.suggest_float("x", 0, 1)

    try:
        study.optimize(objective, 10, n_jobs=int(n_jobs))
    except BaseException as error:  # noqa: BLE001 - reported to the test
        print(json.dumps([type(error).__name__, str(error)]), flush=True)


def enqueue(url, n):
    """Enqueues n configurations x = 0, 1, ... in the study 's', then exits."""
    study = tv.load_study(study_name="s", storage=url)
    for i in range(int(n)):
        study.enqueue_trial({"x": float(i)})


def take(url, n_trials):
    """Runs n_trials of the study 's' on two threads; prints the values of x it ran."""
    study = tv.load_study(study_name="s", storage=url)
    seen = []
    study.optimize(lambda t: seen.append(t.suggest_float("x", 100, 200)) or 0.0, int(n_trials), n_jobs=2)
    print(json.dumps(seen))


def lock(path, seconds):
    """Holds the SQLite database's write lock for seconds."""
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("BEGIN IMMEDIATE")
    print("locked", flush=True)
    time.sleep(float(seconds))


if __name__ == "__main__":
    modes = {
        "share": share,
        "hang": hang,
        "resume": resume,
        "stall": stall,
        "blocked": blocked,
        "enqueue": enqueue,
        "take": take,
        "lock": lock,
    }
    modes[sys.argv[1]](*sys.argv[2:])
