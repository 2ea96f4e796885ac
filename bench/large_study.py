"""What a large study costs: 1,000,000 in-memory random trials of 3 parameters (memory per trial,
the best trial's cost per call, to_dataframe) and the HTML report of 100,000 trials (time to
write, size, time until headless Chromium has drawn it).

    .venv/bin/python bench/large_study.py [--trials 1000000] [--report-trials 100000]

Targets: best_* at most 10 µs per call, at most 0.6 KB per trial, to_dataframe in at most 5 s,
the report written in at most 10 s, at most 10 MB, drawn in at most 5 s."""

import argparse
import gc
import statistics
import sys
import tempfile
import time
from pathlib import Path

import tarvex as tv

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
from analysis_cost import objective as report_objective  # noqa: E402


def rss() -> int:
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS")


def per_call(action, calls=2000) -> float:
    """The median of 5 runs of calls calls, in microseconds per call."""
    runs = []
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(calls):
            action()
        runs.append((time.perf_counter() - start) / calls * 1e6)
    return statistics.median(runs)


def large_memory_study(n: int) -> None:
    gc.collect()
    before = rss()
    study = tv.create_study(sampler=tv.RandomSampler(seed=1))
    start = time.perf_counter()
    study.optimize(lambda t: t.suggest_float("x", 0, 1) + t.suggest_float("y", -1, 1) + t.suggest_int("n", 0, 10), n)
    ran = time.perf_counter() - start
    gc.collect()
    print(
        f"{n:,} trials of 3 parameters in memory: run {ran:.1f} s, {(rss() - before) / n:.0f} B per trial (target <= 600)"
    )
    for name in ("best_value", "best_trial", "best_params"):
        print(f"  {name}: {per_call(lambda: getattr(study, name)):.2f} µs per call (target <= 10)")
    runs = []
    for _ in range(3):
        start = time.perf_counter()
        frame = study.to_dataframe()
        runs.append(time.perf_counter() - start)
        del frame
    print(f"  to_dataframe: {min(runs):.2f} s, best of 3 (target <= 5)")


def large_report(n: int) -> None:
    from browser import Browser

    study = tv.create_study(sampler=tv.RandomSampler(seed=1))
    study.optimize(report_objective, n)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "report.html"
        writes = []
        for _ in range(3):
            start = time.perf_counter()
            study.report(str(path))
            writes.append(time.perf_counter() - start)
        size = path.stat().st_size / 1e6
        loads = []
        with Browser() as browser:
            for _ in range(3):
                start = time.perf_counter()
                browser.open(path, timeout=120)
                browser.wait_for("document.body.dataset.ready === 'true'", timeout=120)
                loads.append(time.perf_counter() - start)
                assert browser.errors == [], browser.errors
    print(
        f"report of {n:,} trials (5 parameters, 5 reports each): written in {min(writes):.1f} s, best of 3 "
        f"(target <= 10), {size:.1f} MB (target <= 10), drawn in headless Chromium in {loads[0]:.1f} s in a new "
        f"browser and {statistics.median(loads[1:]):.1f} s when opened again (target <= 5)"
    )


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--trials", type=int, default=1_000_000)
    parser.add_argument("--report-trials", type=int, default=100_000)
    args = parser.parse_args()
    large_memory_study(args.trials)
    large_report(args.report_trials)
