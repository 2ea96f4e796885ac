"""One study, three worker processes, one database: each worker runs its own optimize on the
stored study and sees every other worker's trials. Run it again and the study continues.

    python examples/shared_study.py [URL]

URL defaults to sqlite:///shared_study.db (a file here); on many hosts, give every worker the
same postgresql://user@host:port/database.
"""

import math
import multiprocessing
import sys
import time

import tarvex as tv

STUDY = "branin"


def branin(trial):
    x = trial.suggest_float("x", -5, 10)
    y = trial.suggest_float("y", 0, 15)
    time.sleep(0.01)  # an evaluation that takes a while
    a = y - 5.1 / (4 * math.pi**2) * x**2 + 5 / math.pi * x - 6
    return a**2 + 10 * (1 - 1 / (8 * math.pi)) * math.cos(x) + 10


def work(url):
    # Each process opens the storage itself, from its URL, and brings its own sampler.
    study = tv.load_study(study_name=STUDY, storage=url, sampler=tv.GPSampler())
    study.optimize(branin, n_trials=10)


if __name__ == "__main__":
    url = sys.argv[1] if len(sys.argv) > 1 else "sqlite:///shared_study.db"
    tv.create_study(storage=url, study_name=STUDY, load_if_exists=True)
    workers = [multiprocessing.get_context("spawn").Process(target=work, args=(url,)) for _ in range(3)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    study = tv.load_study(study_name=STUDY, storage=url)
    print(f"{study!r}")
    print(f"best value {study.best_value:.5f} (optimum 0.39789) at {study.best_params}")
