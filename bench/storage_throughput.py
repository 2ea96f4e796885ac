"""Throughput of worker processes sharing one stored study, on an objective that sleeps 50 ms.

    python bench/storage_throughput.py URL [--trials N]

URL names an empty database (postgresql://... or sqlite:///...). For 1 and 4 processes, each
process runs N trials of a new study; throughput is the trials finished per second of wall time,
from the first trial's start to the last one's end, as the stored trials record them.
"""

import argparse
import subprocess
import sys
import time

import tarvex as tv

WORKER = """
import sys, time
import tarvex as tv
study = tv.load_study(study_name=sys.argv[2], storage=sys.argv[1])
def objective(trial):
    x = trial.suggest_float("x", -5, 5)
    trial.suggest_int("n", 1, 10)
    trial.suggest_categorical("opt", ["adam", "sgd"])
    time.sleep(0.05)
    return x * x
study.optimize(objective, int(sys.argv[3]))
"""


def throughput(url: str, n_processes: int, n_trials: int) -> float:
    name = f"throughput-{n_processes}-{time.time_ns()}"
    tv.create_study(storage=url, study_name=name)
    workers = [subprocess.Popen([sys.executable, "-c", WORKER, url, name, str(n_trials)]) for _ in range(n_processes)]
    for w in workers:
        if w.wait() != 0:
            raise SystemExit(f"a worker failed with exit code {w.returncode}")
    trials = tv.load_study(study_name=name, storage=url).trials
    assert len(trials) == n_processes * n_trials and all(t.state == tv.TrialState.Complete for t in trials)
    span = max(t.datetime_complete for t in trials) - min(t.datetime_start for t in trials)
    return len(trials) / span.total_seconds()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("url")
    parser.add_argument("--trials", type=int, default=100, help="trials per process")
    args = parser.parse_args()
    one = throughput(args.url, 1, args.trials)
    four = throughput(args.url, 4, args.trials)
    print(f"{tv.DatabaseStorage(args.url).url}, objective sleeping 50 ms, {args.trials} trials per process")
    print(f"  1 process:   {one:.2f} trials/s")
    print(f"  4 processes: {four:.2f} trials/s ({four / one:.2f}x)")


if __name__ == "__main__":
    main()
