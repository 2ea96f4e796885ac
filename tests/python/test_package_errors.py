"""The package's errors: what it raises for bad arguments and missing extras, and its own types."""

import sys

import pytest

import tarvex as tv


def quadratic(trial):
    return (trial.suggest_float("x", -3, 3) - 1) ** 2


@pytest.mark.parametrize(
    "call",
    [
        lambda: tv.create_study("up"),
        lambda: tv.create_study(directions=["min"]),
        lambda: tv.create_study(directions=[]),
        lambda: tv.create_study("maximize", directions=["minimize"]),
        lambda: tv.RandomSampler(seed=-1),
        lambda: tv.GPSampler(kernel="linear"),
        lambda: tv.MedianPruner(percentile=120),
        lambda: tv.HyperbandPruner(reduction_factor=1),
        lambda: tv.create_study().optimize(quadratic, n_trials=-1),
        lambda: tv.create_study().optimize(quadratic, 1, n_jobs=0),
        lambda: tv.create_study(storage="mysql://u@h/db"),
    ],
)
def test_bad_arguments_are_named(call):
    with pytest.raises(ValueError, match=r"direction|seed|kernel|percentile|reduction_factor|n_trials|n_jobs|storage"):
        call()


def test_values_given_by_hand_name_the_call_and_callbacks_must_be_a_list():
    study = tv.create_study(directions=["minimize", "minimize"])
    with pytest.raises(TypeError, match=r"^add_trial was given 'a'; it must be a number$"):
        tv.create_study().add_trial({"x": 1.0}, "a")
    with pytest.raises(ValueError, match=r"^tell was given 3 values; the study has 2 directions$"):
        study.tell(study.ask(), [1.0, 2.0, 3.0])
    with pytest.raises(TypeError, match="callbacks must be a list of callables, got <function"):
        tv.create_study().optimize(quadratic, 1, callbacks=quadratic)  # one callback, not in a list


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda t: t.suggest_int("n", 10, 1e3), TypeError, r"suggest_int\('n'\): high must be an int, got 1000.0"),
        (lambda t: t.suggest_int("n", 0, 2**31), ValueError, r"high must fit a 32-bit int"),
        (lambda t: t.suggest_float("x", "a", 1), TypeError, r"suggest_float\('x'\): low must be a number, got 'a'"),
        (
            lambda t: (t.suggest_float("x", 0, 1), t.suggest_int("x", 0, 1)),
            ValueError,
            r"'x' was suggested in this trial as a float in \[0, 1\], and is now asked as an int in \[0, 1\]",
        ),
        (
            lambda t: (t.suggest_float("x", 0, 1), t.suggest_float("x", 5, 6)),
            ValueError,
            r"as a float in \[0, 1\], and is now asked as a float in \[5, 6\]",
        ),
        (
            lambda t: (t.suggest_categorical("c", ["a"]), t.suggest_categorical("c", ["a", "b"])),
            ValueError,
            "as a categorical of 1 choices, and is now asked as a categorical of 2 choices",
        ),
        (
            lambda t: t.suggest_categorical("c", []),
            ValueError,
            r"suggest_categorical\('c'\): choices must not be empty",
        ),
    ],
)
def test_suggest_mistakes_get_one_line_naming_the_parameter(call, error, message):
    study = tv.create_study()
    with pytest.raises(error, match=message) as raised:
        study.optimize(call, 1)
    assert "\n" not in str(raised.value)
    study.enqueue_trial({"x": "text"})
    with pytest.raises(ValueError, match="""the value enqueued for 'x' is the text "text", not a number"""):
        study.optimize(lambda t: t.suggest_float("x", 0, 1), 1)
    for bad in (
        lambda: tv.HyperbandPruner(min_resource=100, max_resource=10),
        lambda: study.optimize(quadratic, 1, n_jobs=2**31 - 1),
    ):
        with pytest.raises(ValueError, match="min_resource must be at most max_resource|n_jobs must be"):
            bad()


def test_package_errors_are_their_own_types_and_the_standard_ones(tmp_path):
    url = f"sqlite:///{tmp_path}/s.db"
    with pytest.raises(tv.exceptions.StudyNotFoundError) as missing:
        tv.load_study(study_name="nope", storage=tv.DatabaseStorage(url, create=True))
    assert isinstance(missing.value, KeyError) and "no study named 'nope'" in str(missing.value)
    with pytest.raises(KeyError):
        tv.delete_study(study_name="nope", storage=url)
    tv.create_study(study_name="a", storage=url)
    with pytest.raises(tv.exceptions.DuplicateStudyError) as duplicate:
        tv.create_study(study_name="a", storage=url)
    assert isinstance(duplicate.value, ValueError)
    study = tv.create_study()
    study.enqueue_trial({"x": "text"})
    caught = []

    def objective(trial):
        try:
            trial.suggest_float("x", 0, 1)
        except ValueError as error:
            caught.append(error)
        return 0

    study.optimize(objective, n_trials=1)
    assert isinstance(caught[0], tv.exceptions.ParamKindError)
    assert issubclass(tv.exceptions.StorageError, RuntimeError)


@pytest.mark.parametrize("sampler", [tv.RandomSampler(seed=1), tv.GPSampler(seed=1)], ids=["random", "gp"])
def test_a_bad_distribution_gets_one_message_naming_the_call_whatever_the_sampler(sampler):
    study = tv.create_study(sampler=sampler)
    for call, message in (
        (lambda t: t.suggest_float("x", 2, 1), r"suggest_float\('x'\): low must be <= high, got low=2 and high=1\."),
        (lambda t: t.suggest_int("n", 0, 4, log=True), r"suggest_int\('n'\): low must be above 0 on a log scale"),
        (lambda t: t.suggest_float("x", 0, 1, step=-1), r"suggest_float\('x'\): step must be a finite number above 0"),
    ):
        with pytest.raises(ValueError, match=message):
            study.optimize(call, n_trials=1)


def test_missing_extras_name_what_to_install(monkeypatch):
    study = tv.create_study()
    study.optimize(quadratic, 1)
    for module, extra, call in (
        ("tqdm", "progress", lambda: study.optimize(quadratic, 1, progress=True)),
        ("pandas", "dataframe", study.to_dataframe),
    ):
        monkeypatch.setitem(sys.modules, module, None)
        with pytest.raises(ImportError, match=rf"pip install 'tarvex\[{extra}\]'"):
            call()
    # The integrations, imported when first asked for, say the same of the library they need.
    import tarvex.integration

    for module, extra, name in (
        ("lightgbm", "lightgbm", "LightGBMCallback"),
        ("xgboost", "xgboost", "XGBoostCallback"),
    ):
        monkeypatch.setitem(sys.modules, module, None)
        with pytest.raises(ImportError, match=rf"{name} needs {module}.*pip install 'tarvex\[{extra}\]'"):
            tarvex.integration.__getattr__(name)
