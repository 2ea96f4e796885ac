import datetime

import pytest

import _tarvex as tv

Min = tv.StudyDirection.Minimize


def test_enqueue_converts_each_kind():
    study = tv.Study(Min)
    study.enqueue_trial({"a": True, "b": 2, "c": 2.5, "d": "x", 1: 0.25})
    got = {}

    def objective(trial):
        got["a"] = trial.suggest_int("a", 0, 5)
        got["b"] = trial.suggest_float("b", 0, 5)  # int served to a float parameter
        got["c"] = trial.suggest_int("c", 0, 5)  # 2.5 rounds away from zero
        got["d"] = trial.suggest_categorical("d", ["y"])
        got["1"] = trial.suggest_float("1", 0, 1)
        return 0.0

    study.optimize(objective, 1)
    assert got == {"a": 1, "b": 2.0, "c": 3, "d": "x", "1": 0.25}
    assert type(got["b"]) is float and type(got["a"]) is int


@pytest.mark.parametrize("bad", [{"x": None}, {"x": 2**40}, {"x": [1]}, {"ok": 1, "x": object()}])
def test_unconvertible_params_enqueue_nothing(bad):
    study = tv.Study(Min, tv.RandomSampler(5))
    with pytest.raises(RuntimeError, match="Unable to cast Python instance of type"):
        study.enqueue_trial(bad)
    study.optimize(lambda t: t.suggest_float("x", 10, 11), 1)
    assert 10 <= study.best_value <= 11
    with pytest.raises(TypeError):
        study.enqueue_trial([("x", 1)])


def test_add_trial_round_trip():
    study = tv.Study(Min)
    study.add_trial({"x": 1.5, "n": 3, "s": "t", "flag": False}, [0.3])
    assert study.best_params == {"x": 1.5, "n": 3, "s": "t", "flag": 0}
    assert study.best_value == 0.3
    with pytest.raises(ValueError, match="add_trial: got 2 values but study has 1 directions."):
        study.add_trial({}, [1, 2])
    with pytest.raises((TypeError, RuntimeError)):
        study.add_trial({}, [None])
    assert len(study.trials) == 1
    mo = tv.Study([Min, Min])
    mo.add_trial({}, (1, 2))
    mo.add_trial({}, (x for x in (2.0, 1.0)))
    assert [t.values for t in mo.pareto_front] == [[1.0, 2.0], [2.0, 1.0]]


def test_trial_fields_and_datetimes():
    study = tv.Study(Min)
    before = datetime.datetime.now()

    def objective(trial):
        assert trial.datetime_complete == datetime.datetime.fromtimestamp(0)  # not finished yet
        trial.report(1.0, 3)
        trial.report(0.5, 3)
        trial.set_user_attr("k", "v")
        return 2

    study.optimize(objective, 1)
    t = study.trials[0]
    assert before - datetime.timedelta(seconds=1) <= t.datetime_start <= t.datetime_complete
    assert t.datetime_complete <= datetime.datetime.now() and t.datetime_start.tzinfo is None
    assert t.intermediate_values == [(3, 1.0), (3, 0.5)]
    assert t.user_attrs == {"k": "v"} and t.get_user_attr("k") == "v"
    assert t.value == 2.0 and t.values == [2.0] and t.number == t.trial_id
    assert t.state == tv.TrialState.Complete and t.study_id == study.study_id
    a, b = study.trials[0], study.trials[0]
    assert a is not b and a.params == b.params and a.values == b.values
    with pytest.raises(AttributeError):
        a.value = 3
    a.user_attrs["k"] = "changed"
    assert study.trials[0].user_attrs == {"k": "v"}


def test_value_needs_exactly_one():
    study = tv.Study([Min, Min])
    study.optimize_mo(lambda t: [1, 2], 1)
    study.optimize_mo(lambda t: None, 1)
    msg = "value\\(\\) is only valid for single-objective trials; use values\\(\\) for multi-objective."
    for t in study.trials:
        with pytest.raises(RuntimeError, match=msg):
            t.value
    assert [t.values for t in study.trials] == [[1.0, 2.0], []]
