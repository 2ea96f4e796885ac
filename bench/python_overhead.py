"""Per-trial cost of the Python module, against a bare Python loop doing the same work,
and the speed-up of worker threads on an objective that sleeps."""

import random
import sys
import time

import _tarvex as tv


def objective(trial):
    x = trial.suggest_float("x", -10.0, 10.0)
    return x * x


class BareTrial:
    def suggest_float(self, name, low, high):
        return low + (high - low) * random.random()


def per_trial_us(run, n):
    start = time.perf_counter()
    run(n)
    return (time.perf_counter() - start) * 1e6 / n


def bare_loop(n):
    trial = BareTrial()
    best = float("inf")
    for _ in range(n):
        best = min(best, objective(trial))


def napping(trial):
    trial.suggest_float("x", 0.0, 1.0)
    time.sleep(0.001)
    return 0.0


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    tarvex_us = per_trial_us(lambda k: tv.Study(tv.StudyDirection.Minimize, tv.RandomSampler(7)).optimize(objective, k), n)
    bare_us = per_trial_us(bare_loop, n)
    print(f"serial, {n} trials: tarvex {tarvex_us:.2f} us/trial, bare Python loop {bare_us:.2f} us/trial, "
          f"ratio {tarvex_us / bare_us:.2f}")
    m = 400
    serial = per_trial_us(lambda k: tv.Study(tv.StudyDirection.Minimize).optimize(napping, k), m)
    parallel = per_trial_us(lambda k: tv.Study(tv.StudyDirection.Minimize).optimize(napping, k, n_jobs=4), m)
    print(f"1 ms sleep, {m} trials: serial {serial:.0f} us/trial, n_jobs=4 {parallel:.0f} us/trial, "
          f"speed-up {serial / parallel:.2f}x")


if __name__ == "__main__":
    main()
