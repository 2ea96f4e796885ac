"""Trials per second of the process and Dask executors against one thread, on a CPU-bound
pure-Python objective of about 50 ms (40 trials, 2 workers), and the process executor's cost per
trial on a trivial objective. Start-up of the workers counts; the Dask cluster's does not (a user
starts it once). Median of three runs each.

    python bench/executors.py [--repeats 3]
"""

import argparse
import statistics
import time

import tarvex as tv

N_TRIALS = 40


def busy(trial):
    x = trial.suggest_float("x", -5.0, 5.0)
    y = trial.suggest_int("y", 0, 10)
    end = time.process_time() + 0.05
    s = 0.0
    while time.process_time() < end:  # pure Python: holds the interpreter lock throughout
        for i in range(1000):
            s += i * 1e-9
    return x * x + y + s * 0


def trivial(trial):
    return trial.suggest_float("x", 0.0, 1.0)


def wall(objective, n_trials, **kwargs):
    study = tv.create_study(sampler=tv.RandomSampler(seed=1))
    start = time.perf_counter()
    study.optimize(objective, n_trials=n_trials, **kwargs)
    elapsed = time.perf_counter() - start
    assert len(study.trials) == n_trials and all(t.state == tv.TrialState.Complete for t in study.trials)
    return elapsed


def median(repeats, objective, n_trials, **kwargs):
    return statistics.median(wall(objective, n_trials, **kwargs) for _ in range(repeats))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    r = args.repeats

    serial = median(r, busy, N_TRIALS)
    process = median(r, busy, N_TRIALS, n_jobs=2, executor="process")
    from dask.distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            dask = median(r, busy, N_TRIALS, n_jobs=2, executor=client)
    print(f"busy objective, {N_TRIALS} trials: one thread {serial:.2f} s")
    print(f"  process, 2 workers: {process:.2f} s, {serial / process:.2f}x the trials per second (target >= 1.8x)")
    print(f"  Dask LocalCluster, 2 workers: {dask:.2f} s, {serial / dask:.2f}x (target >= 1.7x)")

    n = 2000
    thread_cost = median(r, trivial, n) / n
    process_cost = median(r, trivial, n, executor="process") / n
    print(
        f"trivial objective, {n} trials: thread {thread_cost * 1e6:.0f} us, process {process_cost * 1e6:.0f} us per "
        f"trial; the process executor adds {(process_cost - thread_cost) * 1e3:.3f} ms (target <= 1 ms)"
    )


if __name__ == "__main__":
    main()
