"""Studies that move: copied into a storage, with their own attributes and learning curves."""

import copy
import json
import math
import pickle
import subprocess
import sys

import pytest

import tarvex as tv
from tarvex.exceptions import DuplicateStudyError

TrialState = tv.TrialState


def _x_at_most_0_8(trial):
    return [trial.params["x"] - 0.8]


def _varied_study(storage=None, name=None):
    """A study with a trial in every finished state, reports, attributes of both kinds and constraints."""
    study = tv.create_study(
        directions=["minimize", "maximize"],
        objective_names=["error", "speed"],
        storage=storage,
        study_name=name,
        sampler=tv.RandomSampler(seed=3),
        constraints=_x_at_most_0_8,
    )
    study.set_user_attr("owner", {"name": "ana", "tags": ["a", "b"]})

    def objective(trial):
        x = trial.suggest_float("x", 0, 1)
        trial.suggest_categorical("kind", ["a", "b", None])
        trial.set_user_attr("x_squared", x * x)
        for step in range(3):
            trial.report(x + step, step)
        if trial.number == 3:
            raise tv.TrialPruned()
        if trial.number == 4:
            raise ValueError("bad x")
        return x, 1 - x

    study.optimize(objective, n_trials=8, catch=ValueError)
    study.add_trial({"x": 0.5, "kind": "b"}, [0.5, 0.5])
    return study


def _record(t):
    return (
        t.number,
        t.state,
        t.params,
        t.distributions,
        t.values,
        t.intermediate_values,
        t.user_attrs,
        t.system_attrs,
        t.constraints,
        t.fail_reason,
        t.datetime_start,
        t.datetime_complete,
    )


@pytest.mark.parametrize("source_in_database", [False, True])
def test_copy_to_keeps_every_trial_and_the_study_exactly(url, tmp_path, source_in_database):
    source = _varied_study(f"sqlite:///{tmp_path}/source.db" if source_in_database else None, "source")
    source.copy_to(url, "copy")
    copy = tv.load_study(study_name="copy", storage=url)
    assert copy.directions == source.directions and copy.objective_names == ["error", "speed"]
    assert copy.user_attrs == {"owner": {"name": "ana", "tags": ["a", "b"]}}
    assert [_record(t) for t in copy.trials] == [_record(t) for t in source.trials]
    assert {t.state for t in copy.trials} == {TrialState.Complete, TrialState.Pruned, TrialState.Failed}
    assert [t.number for t in copy.best_trials] == [t.number for t in source.best_trials]
    # The copy goes on from where the source stopped.
    copy.optimize(lambda t: (t.suggest_float("x", 0, 1), 0.0), n_trials=2)
    assert [t.number for t in copy.trials] == list(range(11))
    with pytest.raises(DuplicateStudyError):
        source.copy_to(url, "copy")
    assert len(tv.load_study(study_name="copy", storage=url).trials) == 11  # untouched


def test_copy_to_checks_its_arguments(tmp_path):
    study = _varied_study()
    with pytest.raises(TypeError, match="copy_to: storage must be a URL"):
        study.copy_to(None, "x")
    with pytest.raises(TypeError, match="copy_to: study_name must be a str"):
        study.copy_to(f"sqlite:///{tmp_path}/s.db", 3)


def test_study_attributes_are_stored_with_the_study(url):
    study = tv.create_study(storage=url, study_name="s")
    assert study.user_attrs == {}
    study.set_user_attr("dataset", "digits")
    study.set_user_attr("dataset", "iris")  # replaces
    study.set_user_attr("folds", 5)
    assert tv.load_study(study_name="s", storage=url).user_attrs == {"dataset": "iris", "folds": 5}
    with pytest.raises(TypeError, match="JSON-serialisable"):
        study.set_user_attr("bad", object())
    memory = tv.create_study()
    value = {"a": [1]}
    memory.set_user_attr("v", value)
    value["a"].append(2)  # the study keeps what was set, not the caller's object
    assert memory.user_attrs == {"v": {"a": [1]}}


def test_learning_curves_in_tables_and_exports(tmp_path):
    url = f"sqlite:///{tmp_path}/s.db"
    study = _varied_study(url, "curves")
    plain = study.to_dataframe()
    assert "intermediate_values" not in plain.columns
    frame = study.to_dataframe(intermediate_values=True)
    assert frame["intermediate_values"].tolist() == [dict(t.intermediate_values) for t in study.trials]
    assert frame["intermediate_values"][1] == {
        0: pytest.approx(frame["params_x"][1]),
        1: pytest.approx(frame["params_x"][1] + 1),
        2: pytest.approx(frame["params_x"][1] + 2),
    }
    with pytest.raises(TypeError, match="intermediate_values must be True or False"):
        study.columns(intermediate_values="yes")

    def cli(*args):
        return subprocess.run(
            [sys.executable, "-m", "tarvex", *args], capture_output=True, text=True, check=True, timeout=60
        ).stdout

    records = json.loads(cli("trials", "--storage", url, "--study", "curves", "--format", "json", "--intermediate"))
    assert records[0]["intermediate_values"] == {str(s): v for s, v in study.trials[0].intermediate_values}
    assert records[-1]["intermediate_values"] == {}  # added by hand: no reports
    assert (
        "intermediate_values"
        not in json.loads(cli("trials", "--storage", url, "--study", "curves", "--format", "json"))[0]
    )
    listing = cli("studies", "--storage", url)
    assert '{"owner": {"name": "ana"' in listing
    study.report(str(tmp_path / "r.html"))
    assert "<th>Attribute owner</th><td>{&quot;name&quot;: &quot;ana&quot;" in (tmp_path / "r.html").read_text()
    assert math.isfinite(records[0]["values_error"])


@pytest.mark.parametrize(
    "make",
    [
        lambda: tv.RandomSampler(seed=1),
        lambda: tv.RandomSampler(),
        lambda: tv.GPSampler(seed=1, n_warmup=3),
        lambda: tv.GPSampler(n_warmup=3),
        lambda: tv.TPESampler(seed=1, n_startup_trials=3),
        lambda: tv.TPESampler(n_startup_trials=3),
        lambda: tv.SobolSampler(seed=1),
        lambda: tv.CMAESSampler(seed=1),
        lambda: tv.NSGA2Sampler(seed=1, population_size=4),
        lambda: tv.AutoSampler(),
        lambda: tv.GridSampler({"x": [0.0, 0.5, 1.0], "k": [0, 2]}, seed=1),
    ],
    ids=lambda make: repr(make()),
)
def test_samplers_copy_and_pickle_with_the_state_they_carry(make):
    """A copy made after the sampler has run proposes what the original goes on to propose, also
    where no seed was given: its generators come with it."""

    def proposals(s):
        study = tv.create_study(sampler=s)
        study.optimize(lambda t: (t.suggest_float("x", 0, 1) - 0.3) ** 2 + t.suggest_int("k", 0, 3), n_trials=4)
        return [t.params for t in study.trials]

    sampler = make()
    proposals(sampler)
    copies = [copy.deepcopy(sampler), pickle.loads(pickle.dumps(sampler))]
    assert all(type(c) is type(sampler) and repr(c) == repr(sampler) for c in copies)
    expected = proposals(sampler)
    for c in copies:
        assert proposals(c) == expected
    with pytest.raises(ValueError, match="not a state that this kind of sampler saved"):
        sampler.restore_state(b"7:garbage")


def test_pruners_and_in_memory_studies_round_trip(tmp_path):
    pruner = pickle.loads(pickle.dumps(tv.HyperbandPruner(min_resource=2, max_resource=30)))
    assert repr(pruner) == repr(tv.HyperbandPruner(min_resource=2, max_resource=30))
    assert repr(copy.deepcopy(tv.MedianPruner(n_warmup_steps=3))) == repr(tv.MedianPruner(n_warmup_steps=3))

    study = _varied_study()
    for restored in (pickle.loads(pickle.dumps(study)), copy.deepcopy(study)):
        assert [_record(t) for t in restored.trials] == [_record(t) for t in study.trials]
        assert restored.objective_names == study.objective_names and restored.user_attrs == study.user_attrs
        assert restored.study_name == study.study_name
        restored.optimize(lambda t: (t.suggest_float("x", 0, 1), 0.0), n_trials=1)
        assert len(restored.trials) == len(study.trials) + 1  # the original is untouched
    (tmp_path / "study.pkl").write_bytes(pickle.dumps(study))


def test_a_pickled_stored_study_reconnects_without_its_password(tmp_path):
    url = f"sqlite:///{tmp_path}/s.db"
    study = tv.create_study(storage=url, study_name="s")
    study.optimize(lambda t: t.suggest_float("x", 0, 1), n_trials=3)
    data = pickle.dumps(study)
    assert b"s.db" in data
    again = pickle.loads(data)
    again.optimize(lambda t: t.suggest_float("x", 0, 1), n_trials=1)
    assert len(study.trials) == 4  # the same stored study
    from tarvex._study_moves import without_password

    assert without_password("postgresql://ana:***@db:5432/x") == "postgresql://ana@db:5432/x"
    assert without_password("postgresql://db/x?password=***&sslmode=require") == "postgresql://db/x?sslmode=require"
    assert without_password("postgresql://db/x?sslmode=require&password=***") == "postgresql://db/x?sslmode=require"
