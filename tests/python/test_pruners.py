import pytest

import _tarvex as tv

Min, Max = tv.StudyDirection.Minimize, tv.StudyDirection.Maximize


def curve_objective(epochs, log):
    """Trial k of every four is clearly worse; pruned trials raise as users do."""

    def objective(trial):
        bad = trial.number % 4 == 3
        value = 0.0
        for epoch in range(1, epochs + 1):
            value = (10.0 if bad else 1.0) + 1.0 / epoch
            trial.report(value, epoch)
            log.append(trial.number)
            if trial.should_prune():
                raise tv.TrialPruned()
        return value

    return objective


@pytest.mark.parametrize("pruner", [tv.MedianPruner(), tv.HyperbandPruner(max_resource=27)])
def test_pruners_stop_the_clearly_worse_trials(pruner):
    log = []
    study = tv.Study(Min, tv.RandomSampler(1), pruner)
    study.optimize(curve_objective(27, log), 24)
    states = {t.number: t.state for t in study.trials}
    pruned = [n for n, s in states.items() if s == tv.TrialState.Pruned]
    assert pruned and all(n % 4 == 3 for n in pruned)
    assert all(states[n] == tv.TrialState.Complete for n in states if n % 4 != 3)
    assert len(log) < 24 * 27  # pruning saved epochs
    assert all(t.values == [] for t in study.trials if t.state == tv.TrialState.Pruned)


def test_constructors_keywords_and_validation():
    tv.MedianPruner(n_startup_trials=0, n_warmup_steps=-3, percentile=150)  # accepted as given
    tv.MedianPruner(1, 2, 3)  # an int is fine for the float percentile
    tv.HyperbandPruner(min_resource=5, max_resource=3, reduction_factor=2, bootstrap_count=1)
    for kwargs in ({"reduction_factor": 1.0}, {"min_resource": 0}, {"max_resource": 2**31 - 1}):
        with pytest.raises(ValueError, match="HyperbandPruner: "):
            tv.HyperbandPruner(**kwargs)
    with pytest.raises(TypeError):
        tv.MedianPruner(n_startup_trials=1.5)
    assert isinstance(tv.HyperbandPruner(), tv.IPruner)


def test_one_pruner_serves_two_studies_on_workers():
    pruner = tv.MedianPruner(n_startup_trials=2)
    for direction in (Min, Max):  # the rule reads no direction: larger is always worse
        log = []
        study = tv.Study(direction, None, pruner)
        study.optimize(curve_objective(10, log), 16, n_jobs=3)
        assert len(study.trials) == 16
        assert any(t.state == tv.TrialState.Pruned for t in study.trials)
