"""Per-trial cost of the public package and of the compiled module, against a bare Python trial
loop doing the same work, and the speed-up of worker threads on an objective that sleeps.

The bare loop: a minimal trial whose suggest_float draws a uniform number and records it in a
dict, the same objective, and the (params, value) pair appended to a list. Best of five runs."""

import random
import sys
import time

import _tarvex
import tarvex as tv


def objective(trial):
    x = trial.suggest_float("x", -10.0, 10.0)
    return x * x


class BareTrial:
    def __init__(self):
        self.params = {}

    def suggest_float(self, name, low, high):
        value = low + (high - low) * random.random()
        self.params[name] = value
        return value


def bare_loop(n):
    results = []
    for _ in range(n):
        trial = BareTrial()
        results.append((trial.params, objective(trial)))


def module_loop(n):
    _tarvex.Study(_tarvex.StudyDirection.Minimize, _tarvex.RandomSampler(7)).optimize(objective, n)


def package_loop(n):
    tv.create_study(sampler=tv.RandomSampler(seed=7)).optimize(objective, n_trials=n)


def per_trial_us(run, n, repeats=5):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        run(n)
        best = min(best, (time.perf_counter() - start) * 1e6 / n)
    return best


def napping(trial):
    trial.suggest_float("x", 0.0, 1.0)
    time.sleep(0.001)
    return 0.0


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
    bare, module, package = (per_trial_us(loop, n) for loop in (bare_loop, module_loop, package_loop))
    print(f"serial, {n} trials, one suggest_float, trivial objective (best of 5):")
    print(f"  bare Python loop  {bare:.2f} us/trial")
    print(f"  _tarvex           {module:.2f} us/trial  ({module / bare:.2f}x bare)")
    print(
        f"  tarvex            {package:.2f} us/trial  ({package / bare:.2f}x bare, +{package - module:.2f} us over _tarvex)"
    )
    m = 400
    study = lambda: tv.create_study(sampler=tv.RandomSampler(seed=7))  # noqa: E731
    serial = per_trial_us(lambda k: study().optimize(napping, k), m, repeats=1)
    parallel = per_trial_us(lambda k: study().optimize(napping, k, n_jobs=4), m, repeats=1)
    print(
        f"1 ms sleep, {m} trials: serial {serial:.0f} us/trial, n_jobs=4 {parallel:.0f} us/trial, "
        f"speed-up {serial / parallel:.2f}x"
    )


if __name__ == "__main__":
    main()
