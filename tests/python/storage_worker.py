"""A worker process of the storage tests: python storage_worker.py MODE URL [ARGS]."""

import json
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

    study.optimize(objective, n_trials, n_jobs=3)
    print(json.dumps(mine))


def hang(url, n_done):
    """Completes n_done trials, then starts one that never ends (the test kills this process)."""
    storage = tv.DatabaseStorage(url, heartbeat_grace=1.0, create=True)
    study = tv.create_study(storage=storage, study_name="killed", load_if_exists=True)
    study.optimize(lambda t: t.suggest_float("x", 0, 1), n_done)
    trial = study.ask()
    trial.suggest_float("x", 0, 1)
    print("running", flush=True)
    time.sleep(600)


def resume(url, n_trials):
    """Adds n_trials GP trials to the study 'sphere'; prints the numbers of the new trials."""
    study = tv.create_study(storage=url, study_name="sphere", load_if_exists=True, sampler=tv.GPSampler(seed=7))
    before = len(study.trials)
    study.optimize(lambda t: t.suggest_float("x", -5, 5) ** 2 + t.suggest_float("y", -5, 5) ** 2, n_trials)
    print(json.dumps([t.number for t in study.trials[before:]]))


if __name__ == "__main__":
    {"share": share, "hang": hang, "resume": resume}[sys.argv[1]](sys.argv[2], int(sys.argv[3]))
