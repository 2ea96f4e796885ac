"""Samplers written in Python, through the package's base class and the compiled interface."""

import gc
import random
import threading

import _tarvex
import tarvex as tv


class LocalSearch(tv.CustomSampler):
    """x around the best trial once five have completed; everything else uniform."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.lock = threading.Lock()
        self.finished = []
        self.pending_seen = 0
        self.proposed = set()

    def propose(self, history, trial):
        done = [t for t in history.trials if t.state == tv.TrialState.Complete]
        self.pending_seen = max(self.pending_seen, len(history.pending))
        if len(done) < 5:
            return None
        best = min(done, key=lambda t: t.value)
        with self.lock:
            x = min(5.0, max(-5.0, best.params["x"] + self.rng.gauss(0, 0.2)))
            self.proposed.add(x)
        return {"x": x}  # the kind is sampled on its own

    def sample(self, trial, name, distribution):
        with self.lock:
            if distribution.kind == "categorical":
                return self.rng.choice(distribution.choices)
            return self.rng.uniform(distribution.low, distribution.high)

    def after_trial(self, trial):
        with self.lock:
            self.finished.append(trial.state)


def objective(trial):
    x = trial.suggest_float("x", -5, 5)
    kind = trial.suggest_categorical("kind", [1, "b", None])
    for step in range(3):
        trial.report(abs(x - 1) + step, step)
        if trial.should_prune():
            raise tv.TrialPruned()
    return (x - 1) ** 2 + (0 if kind is None else 1)


def test_a_custom_sampler_runs_with_threads_pruners_in_memory():
    check_runs(None)


def test_a_custom_sampler_runs_with_threads_pruners_and_databases(url):
    check_runs(url)


def check_runs(storage):
    sampler = LocalSearch(3)
    study = tv.create_study(sampler=sampler, pruner=tv.MedianPruner(n_startup_trials=5), storage=storage)
    study.optimize(objective, n_trials=60, n_jobs=2)
    assert len(sampler.finished) == 60
    states = {t.state for t in study.trials}
    assert states <= {tv.TrialState.Complete, tv.TrialState.Pruned}
    assert sum(t.params["x"] in sampler.proposed for t in study.trials) >= 45  # all but the first few
    assert len({t.params["kind"] for t in study.trials}) == 3  # categorical values came back decoded
    assert study.sampler is sampler


def test_values_a_distribution_cannot_take_fail_the_trial_that_asked():
    class Outside(tv.CustomSampler):
        def sample(self, trial, name, distribution):
            return 7.0

    class NotADict(tv.CustomSampler):
        def propose(self, history, trial):
            return [1.0]

    for sampler, reason in (
        (Outside(), "sample_independent('x') returned 7.0, which the parameter's distribution cannot produce"),
        (NotADict(), "TypeError: propose must return a dict of parameter values or None"),
        (tv.CustomSampler(), "NotImplementedError: CustomSampler must define sample"),
    ):
        study = tv.create_study(sampler=sampler)
        study.optimize(lambda t: t.suggest_float("x", 0, 1), n_trials=1, catch=Exception)
        assert reason in study.trials[0].fail_reason


def test_the_compiled_interface_can_be_subclassed_and_outlives_its_python_references():
    class Halves(_tarvex.ISampler):
        def sample_independent(self, trial, name, distribution):
            return (distribution["low"] + distribution["high"]) / 2

    study = _tarvex.Study(_tarvex.StudyDirection.Minimize, Halves())
    gc.collect()
    study.optimize(lambda t: t.suggest_float("x", 0, 4), 3, n_jobs=2)
    assert [t.params["x"] for t in study.trials] == [2.0, 2.0, 2.0]


def test_ask_and_tell_from_threads_with_a_python_sampler_do_not_deadlock():
    sampler = LocalSearch(5)
    study = tv.create_study(sampler=sampler)

    def loop():
        for _ in range(30):
            trial = study.ask()
            study.tell(trial, objective_without_reports(trial))

    threads = [threading.Thread(target=loop) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    assert not any(t.is_alive() for t in threads)
    assert len(study.trials) == 90 and len(sampler.finished) == 90


def objective_without_reports(trial):
    return (trial.suggest_float("x", -5, 5) - 1) ** 2 + (trial.suggest_categorical("kind", [1, "b", None]) is None)
