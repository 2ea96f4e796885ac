"""GPSampler's trust region, and the GP with several objectives and constraints in processes
sharing a database."""

import math

import pytest

import _tarvex
import tarvex as tv
from conftest import run_processes

S = tv.TrialState


def constraint(trial):
    return [trial.params["x"] + trial.params["y"] - 1.5]  # feasible below the line x + y = 1.5


def run_worker(url, seed, multi_objective):
    sampler = tv.GPSampler(seed=seed, n_warmup=4, multi_objective=multi_objective, constraints=constraint)
    study = tv.load_study(study_name="front", storage=url, sampler=sampler)

    def objectives(trial):
        x, y = trial.suggest_float("x", 0, 1), trial.suggest_float("y", 0, 1)
        return x, (1 - math.sqrt(x)) + y  # ZDT1's front where y = 0

    study.optimize(objectives, n_trials=8)


@pytest.mark.parametrize("multi_objective", ["ehvi", "parego"])
def test_two_processes_share_a_constrained_front(url, multi_objective):
    tv.create_study(study_name="front", storage=url, directions=["minimize", "minimize"], constraints=constraint)
    run_processes(run_worker, [(url, seed, multi_objective) for seed in (1, 2)])
    study = tv.load_study(study_name="front", storage=url)
    trials = study.trials
    assert len(trials) == 16 and sorted(t.number for t in trials) == list(range(16))
    assert all(t.state == S.Complete and len(t.values) == 2 and len(t.constraints) == 1 for t in trials)
    # Each process's model sees the other's trials, running ones included; two proposals made at
    # the same moment can still meet at a corner of the box.
    assert len({(t.params["x"], t.params["y"]) for t in trials}) >= 12
    front = study.best_trials
    assert front and all(t.constraints[0] <= 0 for t in front)


def test_the_trust_region_is_the_packages_default_and_converges_on_a_bowl():
    assert tv.GPSampler().config.trust_region and not tv.GPSampler(trust_region=False).config.trust_region
    assert not _tarvex.GPSampler().config.trust_region  # the compiled module's sampler is as it was

    def bowl(trial):
        return (trial.suggest_float("x", -5, 5) - 1.3) ** 2 + (trial.suggest_float("y", -5, 5) + 0.7) ** 2

    def run(trust_region):
        study = tv.create_study(sampler=tv.GPSampler(seed=2, trust_region=trust_region))
        study.optimize(bowl, 30)
        return study

    inside = run(True)
    assert [t.params for t in inside.trials] == [t.params for t in run(True).trials]
    assert [t.params for t in inside.trials] != [t.params for t in run(False).trials]
    assert inside.best_value < 1e-4 and inside.best_params == pytest.approx({"x": 1.3, "y": -0.7}, abs=0.01)


def test_principal_axes_are_the_packages_default_and_follow_a_valley_across_the_parameters():
    assert tv.GPSampler().config.principal_axes and not tv.GPSampler(principal_axes=False).config.principal_axes
    assert not _tarvex.GPSampler().config.principal_axes

    def valley(trial):  # a bowl 100 times narrower across the diagonals than along them
        x, y, z = (trial.suggest_float(n, -5, 5) for n in "xyz")
        along, across, third = (x + y + z) / 3**0.5, (x - y) / 2**0.5, (x + y - 2 * z) / 6**0.5
        return (along - 1) ** 2 + 1e4 * across**2 + 100 * (third - 0.5) ** 2

    def best(seed, principal_axes):
        study = tv.create_study(sampler=tv.GPSampler(seed=seed, principal_axes=principal_axes))
        study.optimize(valley, 40)
        return study.best_value

    for seed in range(3):
        assert best(seed, True) == best(seed, True) < best(seed, False)


def test_a_quadratic_mean_is_the_packages_default_and_leads_down_a_bowl_under_ripples():
    assert tv.GPSampler().config.quadratic_mean and not tv.GPSampler(quadratic_mean=False).config.quadratic_mean
    assert not _tarvex.GPSampler().config.quadratic_mean

    def rippled_bowl(trial):  # the minimum 0 at (2, -1), ripples of height 2 over a wide bowl
        x, y = trial.suggest_float("x", -5, 5), trial.suggest_float("y", -5, 5)
        return (x - 2) ** 2 + (y + 1) ** 2 + 2 - math.cos(3 * (x - 2)) - math.cos(3 * (y + 1))

    def run(seed):
        study = tv.create_study(sampler=tv.GPSampler(seed=seed))
        study.optimize(rippled_bowl, 40)
        return study

    study = run(4)
    assert [t.params for t in study.trials] == [t.params for t in run(4).trials]
    assert study.best_value < 1e-3 and study.best_params == pytest.approx({"x": 2, "y": -1}, abs=0.05)


def test_a_smooth_optimum_is_found_to_the_precision_of_the_values():
    # Near the optimum the values differ by less than the model's noise floor, which held the GP
    # at about 1e-7 here; a quadratic fitted to the nearest values steps to the minimum itself.
    def bowl(trial):
        x = [trial.suggest_float(f"x{i}", -5, 5) for i in range(3)]
        return sum(w * (v - 1.234) ** 2 for v, w in zip(x, (1, 10, 100)))

    study = tv.create_study(sampler=tv.GPSampler(seed=1))
    study.optimize(bowl, n_trials=60)
    assert study.best_value < 1e-12


def test_a_reference_point_bounds_the_hypervolume_the_proposals_improve():
    def zdt1(trial):
        x, y = trial.suggest_float("x", 0, 1), trial.suggest_float("y", 0, 1)
        return x, (1 + y) * (1 - math.sqrt(x / (1 + y)))

    def low_x_share(reference_point):
        sampler = tv.GPSampler(seed=3, n_warmup=6, reference_point=reference_point)
        study = tv.create_study(directions=["minimize", "minimize"], sampler=sampler)
        study.optimize(zdt1, n_trials=30)
        return sum(t.params["x"] < 0.25 for t in study.trials[10:]) / 20

    # Where only the front's part with x below 0.25 counts, the proposals go there; where only
    # the part with f2 below 0.4 (x above 0.36) does, they go there instead.
    assert low_x_share([0.25, 1.1]) >= 0.8
    assert low_x_share([1.1, 0.4]) <= 0.2
    assert tv.GPSampler(reference_point=(1, 2.5)).config.reference_point == [1.0, 2.5]
    with pytest.raises(ValueError, match="reference_point must hold one finite number per objective"):
        tv.GPSampler(reference_point=[1.0, math.nan])
    with pytest.raises(TypeError, match="reference_point must be None or a sequence of numbers"):
        tv.GPSampler(reference_point=1.0)
    study = tv.create_study(directions=["minimize"] * 3, sampler=tv.GPSampler(reference_point=[1.0, 1.0]))
    with pytest.raises(ValueError, match="reference_point has 2 values; the study has 3 objectives"):
        study.optimize(lambda t: (t.suggest_float("x", 0, 1),) * 3, n_trials=1)


def test_without_a_reference_point_the_fronts_ends_still_extend():
    # ZDT1 in 6-D: f2 is lowest where x0 = 1 and the other five are 0. A point beyond the
    # reference gains nothing, so with a reference hugging the front its low-f2 end stayed where
    # the warm-up left it (f2 of 0.2 to 0.35 after 60 trials in most runs).
    def zdt1(trial):
        x = [trial.suggest_float(f"x{i}", 0, 1) for i in range(6)]
        g = 1 + 9 * sum(x[1:]) / 5
        return x[0], g * (1 - math.sqrt(x[0] / g))

    for seed in (1, 2):
        study = tv.create_study(directions=["minimize", "minimize"], sampler=tv.GPSampler(seed=seed))
        study.optimize(zdt1, n_trials=60)
        assert min(t.values[1] for t in study.trials) < 0.05


def test_objectives_that_vanish_along_edges_do_not_draw_the_search_there():
    # DTLZ2: each objective is exactly 0 along an edge of the first two parameters, whatever the
    # other four, whose distance from 0.5 scales the front. Counted as able to go below 0 there,
    # the edges took about three in four proposals after warm-up; bounded at 0, under half.
    def dtlz2(trial):
        x = [trial.suggest_float(f"x{i}", 0, 1) for i in range(6)]
        g = sum((v - 0.5) ** 2 for v in x[2:])
        a, b = x[0] * math.pi / 2, x[1] * math.pi / 2
        return (1 + g) * math.cos(a) * math.cos(b), (1 + g) * math.cos(a) * math.sin(b), (1 + g) * math.sin(a)

    def edge_share(seed):
        study = tv.create_study(directions=["minimize"] * 3, sampler=tv.GPSampler(seed=seed))
        study.optimize(dtlz2, n_trials=50)
        return sum(t.params["x0"] in (0, 1) or t.params["x1"] in (0, 1) for t in study.trials[20:]) / 30

    assert (edge_share(1) + edge_share(2)) / 2 < 0.55


def test_four_objectives_are_searched_by_their_hypervolume():
    # Four bowls centred on the corners of [0.3, 0.7]^2: the Pareto set is that square, a sixth
    # of the space, which random search would hit with about 2 of the 14 trials after warm-up.
    corners = [(0.3, 0.3), (0.3, 0.7), (0.7, 0.3), (0.7, 0.7)]

    def bowls(trial):
        x, y = trial.suggest_float("x", 0, 1), trial.suggest_float("y", 0, 1)
        return tuple((x - a) ** 2 + (y - b) ** 2 for a, b in corners)

    def run(seed):
        study = tv.create_study(directions=["minimize"] * 4, sampler=tv.GPSampler(seed=seed, n_warmup=6))
        study.optimize(bowls, n_trials=20)
        return study.trials

    trials = run(1)
    assert [t.params for t in trials] == [t.params for t in run(1)]
    assert sum(0.3 <= t.params["x"] <= 0.7 and 0.3 <= t.params["y"] <= 0.7 for t in trials[6:]) >= 11
