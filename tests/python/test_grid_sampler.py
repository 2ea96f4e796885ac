"""GridSampler through the package: values of every kind, and processes sharing a database."""

import pytest

import tarvex as tv
from conftest import run_processes

GRID = {"lr": [0.1, 0.01], "layers": [1, 2, 3], "act": ["relu", None, True]}


def objective(trial):
    act = trial.suggest_categorical("act", ["relu", None, True])
    return trial.suggest_float("lr", 0, 1) * trial.suggest_int("layers", 1, 3) + (act is None)


def combos(study):
    return {(t.params["lr"], t.params["layers"], t.params["act"]) for t in study.trials}


def test_every_combination_once_with_values_decoded_and_bad_grids_named():
    study = tv.create_study(sampler=tv.GridSampler(GRID, seed=2))
    study.optimize(objective, n_trials=100, n_jobs=2)
    assert len(study.trials) == 18 and len(combos(study)) == 18
    assert {t.params["act"] for t in study.trials} == {"relu", None, True}
    assert len(tv.GridSampler(GRID)) == 18
    with pytest.raises(ValueError, match=r"grid\['x'\] must be a non-empty list of values"):
        tv.GridSampler({"x": []})
    with pytest.raises(ValueError, match="grid must be a non-empty mapping"):
        tv.GridSampler({})


def test_numbers_in_the_grid_serve_the_kind_asked_for_and_each_point_is_run_once():
    grid = {"batch": [16, 64], "scale": [0.5, 1.0, 1e-08], "lr": [1, 2]}
    study = tv.create_study(sampler=tv.GridSampler(grid, seed=1))

    def objective(trial):
        batch = trial.suggest_categorical("batch", [16, 32, 64])
        scale = trial.suggest_categorical("scale", [1e-08, 0.5, 1])  # 1.0 in the grid is the choice 1
        return batch * scale * trial.suggest_float("lr", 0.5, 2.0)  # the ints 1 and 2 as 1.0 and 2.0

    study.optimize(objective, n_trials=20)
    assert len(study.trials) == 12  # each point seen as taken, so the run ends with the grid
    assert {(t.params["batch"], t.params["scale"], t.params["lr"]) for t in study.trials} == {
        (b, s, lr) for b in (16, 64) for s in (0.5, 1, 1e-08) for lr in (1.0, 2.0)
    }
    assert all(type(t.params["batch"]) is int and type(t.params["lr"]) is float for t in study.trials)
    with pytest.raises(ValueError, match="holds one value twice, at positions 0 and 1"):
        tv.GridSampler({"x": [1, 1.0]})


def run_worker(url):
    study = tv.load_study(study_name="grid", storage=url, sampler=tv.GridSampler(GRID, seed=7))
    study.optimize(objective, n_trials=50)


def test_processes_sharing_a_database_split_the_grid(tmp_path):
    url = f"sqlite:///{tmp_path / 'grid.db'}"
    tv.create_study(study_name="grid", storage=url)
    run_processes(run_worker, [(url,), (url,)])
    study = tv.load_study(study_name="grid", storage=url)
    assert len(combos(study)) == 18
    assert len(study.trials) <= 20  # a worker may start one trial as the other takes the last point
