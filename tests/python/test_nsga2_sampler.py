"""NSGA2Sampler: its options, repeatable proposals, constraints, and one search shared by threads
and processes of a database study."""

import math

import pytest

import tarvex as tv
from conftest import run_processes

MIN2 = ["minimize", "minimize"]


def schaffer(trial):
    x = trial.suggest_float("x", -10, 10)
    kind = trial.suggest_categorical("kind", ["a", "b", "c"])
    n = trial.suggest_int("n", 1, 9)
    return x * x + (kind != "a") + 0.01 * n, (x - 2) ** 2


def test_options_are_checked_and_shown():
    assert repr(tv.NSGA2Sampler(population_size=8, seed=1)) == (
        "NSGA2Sampler(population_size=8, selection='hypervolume', seed=1)"
    )
    for bad in ({"population_size": 1}, {"selection": "best"}, {"mutation_prob": 2.0}, {"crossover_eta": -1.0}):
        with pytest.raises(ValueError, match=next(iter(bad))):
            tv.NSGA2Sampler(**bad)


@pytest.mark.parametrize("selection", ["hypervolume", "crowding", "reference_points"])
def test_a_seed_repeats_the_search_and_generations_follow_the_population(selection):
    def run():
        sampler = tv.NSGA2Sampler(population_size=10, selection=selection, seed=3)
        study = tv.create_study(directions=MIN2, sampler=sampler)
        study.optimize(schaffer, n_trials=60)
        return study, sampler

    (first, sampler), (second, _) = run(), run()
    assert [t.params for t in first.trials] == [t.params for t in second.trials]
    progress = sampler.progress(first)
    assert (progress.generation, progress.population) == (5, 10)  # 60 trials: 10 random, then 5 of 10
    assert all(t.params["kind"] in "abc" and 1 <= t.params["n"] <= 9 for t in first.trials)
    # Bred children beat the random first generation.
    front = [t.values for t in first.best_trials]
    assert tv.hypervolume(front, [110, 150]) > tv.hypervolume([t.values for t in first.trials[:10]], [110, 150])


def test_beyond_three_objectives_the_default_cut_is_nsga3s_niching():
    def run(selection):
        study = tv.create_study(
            directions=["minimize"] * 4, sampler=tv.NSGA2Sampler(population_size=10, selection=selection, seed=4)
        )
        study.optimize(lambda t: tuple((t.suggest_float("x", 0, 1) - c) ** 2 for c in (0, 0.3, 0.6, 1)), n_trials=40)
        return [t.params for t in study.trials]

    assert run("hypervolume") == run("reference_points") != run("crowding")


def test_infeasible_trials_give_way_to_feasible_ones():
    study = tv.create_study(
        directions=MIN2,
        sampler=tv.NSGA2Sampler(population_size=10, seed=2),
        constraints=lambda t: [1.0 - t.params["x"]],  # x >= 1
    )
    study.optimize(schaffer, n_trials=100)
    late = study.trials[50:]
    assert sum(t.feasible for t in late) > 0.6 * len(late)  # random search: 45%
    assert all(t.feasible for t in study.best_trials)


def test_threads_share_one_population():
    study = tv.create_study(directions=MIN2, sampler=tv.NSGA2Sampler(population_size=8, seed=5))
    study.optimize(schaffer, n_trials=80, n_jobs=4)
    assert len(study.trials) == 80
    assert study.sampler.progress(study).generation >= 8


def _work(url, n):
    study = tv.load_study(study_name="nsga", storage=url, sampler=tv.NSGA2Sampler(population_size=10, seed=None))
    study.optimize(schaffer, n_trials=n)


def test_processes_of_a_database_study_continue_one_search(url):
    tv.create_study(storage=url, study_name="nsga", directions=MIN2)
    run_processes(_work, [(url, 30), (url, 30)])
    # A new process reads the generations back from the stored trials.
    sampler = tv.NSGA2Sampler(population_size=10, seed=1)
    study = tv.load_study(study_name="nsga", storage=url, sampler=sampler)
    study.optimize(schaffer, n_trials=1)
    assert sampler.progress(study).generation == 6  # the 60 stored trials: one random, five bred
    assert len(study.trials) == 61 and all(math.isfinite(v) for t in study.trials for v in t.values)


@pytest.mark.parametrize("n_jobs", [1, 3])
def test_no_configuration_is_tried_twice_while_untried_ones_remain(n_jobs):
    def small(trial):
        a = trial.suggest_int("a", 0, 3)
        b = trial.suggest_categorical("b", ["x", "y", "z"])
        return a, float(b == "y")

    for seed in range(1, 6):
        study = tv.create_study(directions=MIN2, sampler=tv.NSGA2Sampler(population_size=6, seed=seed))
        study.optimize(small, n_trials=1)  # threads started together know nothing of the space yet
        study.optimize(small, n_trials=11, n_jobs=n_jobs)
        assert len({(t.params["a"], t.params["b"]) for t in study.trials}) == 12  # the random first generation too
