"""Soak run: 200,000 trials on 4 worker threads with an objective that completes, fails, prunes,
returns NaN or sleeps at random, with and without pruners and a timeout, with random search and
the model-based samplers. Checks that every
started trial is stored exactly once in the state its objective chose, and that memory per trial
stays flat. Exits non-zero on any lost or wrong trial.

    .venv/bin/python bench/soak.py [total trials, default 200000]
"""

import gc
import math
import random
import resource
import sys
import time

import _tarvex as tv

S = tv.TrialState


def rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def make_objective(chosen):
    def objective(trial):
        x = trial.suggest_float("x", -5.0, 5.0)
        trial.suggest_int("n", 1, 64, log=True)
        trial.suggest_categorical("c", ["a", "b", "c"])
        roll = random.random()
        if roll < 0.1:
            chosen[trial.number] = S.Failed
            raise ValueError("objective failed")
        if roll < 0.3:
            for step in range(4):
                trial.report(x * x + step, step)
                if trial.should_prune():
                    chosen[trial.number] = S.Pruned
                    raise tv.TrialPruned()
        if roll < 0.4:
            chosen[trial.number] = S.Complete
            return math.nan
        if roll < 0.45:
            time.sleep(0.0001)
        chosen[trial.number] = S.Complete
        return x * x

    return objective


def soak(name, n_trials, pruner, timeout, sampler=None):
    chosen = {}
    study = tv.Study(tv.StudyDirection.Minimize, sampler or tv.RandomSampler(seed=11), pruner)
    before = rss_bytes()
    start = time.perf_counter()
    study.optimize(make_objective(chosen), n_trials=n_trials, n_jobs=4, timeout=timeout)
    elapsed = time.perf_counter() - start
    grown = rss_bytes() - before
    trials = study.trials
    ids = [t.trial_id for t in trials]
    lost = len(chosen) - len(trials)
    wrong = sum(1 for t in trials if chosen.get(t.trial_id) != t.state)
    duplicated = len(ids) - len(set(ids))
    print(
        f"{name:<34} {len(chosen):>7} started {len(trials):>7} stored  lost {lost}  duplicated {duplicated}  "
        f"wrong state {wrong}  {len(chosen) / elapsed:>9,.0f} trials/s  {grown / max(len(trials), 1):>6,.0f} B/trial"
    )
    return len(chosen), lost + duplicated + wrong


def main():
    total = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
    # Pruners read every stored trial on each call, so their runs are kept smaller.
    big, small = total * 9 // 20, total // 20
    runs = [
        ("no pruner", big, None, None),
        ("MedianPruner", small, tv.MedianPruner(), None),
        ("HyperbandPruner", small, tv.HyperbandPruner(max_resource=3), None),
        ("MedianPruner, 1 s timeout", 2 * small, tv.MedianPruner(n_startup_trials=20), 1.0),
        # The model-based samplers propose on every worker thread at once; their runs are smaller
        # still, as each proposal reads the whole history.
        ("TPESampler, MedianPruner", small // 2, tv.MedianPruner(), None, tv.TPESampler(seed=11)),
        ("CMAESSampler, MedianPruner", small // 2, tv.MedianPruner(), None, tv.CMAESSampler(seed=11)),
        ("AutoSampler, 1 s timeout", small // 2, None, 1.0, tv.AutoSampler(max_gp_trials=30, seed=11)),
        # The first run again once its study is gone: memory is reused, not accumulated.
        ("no pruner, repeated", big, None, None),
    ]
    started = faults = 0
    base = rss_bytes()
    for name, n_trials, pruner, timeout, *sampler in runs:
        n, bad = soak(name, n_trials, pruner, timeout, *sampler)
        started, faults = started + n, faults + bad
        gc.collect()
    gc.collect()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(
        f"total {started} trials started, {faults} lost, duplicated or wrong; "
        f"RSS after all studies are gone {(rss_bytes() - base) / 2**20:+.1f} MiB, peak RSS {peak / 2**20:.1f} MiB"
    )
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
