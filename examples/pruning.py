"""Early stopping on synthetic learning curves: the loss of a configuration decays towards a
floor set by its learning rate and width, so poor configurations are visible after a few epochs.
Runs the same search with no pruner, the median rule and successive halving."""

import math

import _tarvex as tv

EPOCHS = 81


def make_objective(epochs_run):
    def objective(trial):
        lr = trial.suggest_float("lr", 1e-4, 1.0, log=True)
        width = trial.suggest_int("width", 8, 256, log=True)
        floor = abs(math.log10(lr) + 2.0) * 0.3 + 32.0 / width  # best near lr = 0.01, wide nets
        loss = float("inf")
        for epoch in range(1, EPOCHS + 1):
            loss = floor + 2.0 * math.exp(-epoch / 10.0)
            epochs_run.append(1)
            trial.report(loss, epoch)
            if trial.should_prune():
                raise tv.TrialPruned()
        return loss

    return objective


def run(name, pruner):
    epochs_run = []
    study = tv.Study(tv.StudyDirection.Minimize, tv.RandomSampler(seed=3), pruner)
    study.optimize(make_objective(epochs_run), n_trials=100)
    pruned = sum(t.state == tv.TrialState.Pruned for t in study.trials)
    saved = 100 * EPOCHS - len(epochs_run)
    print(f"{name:>16}: best loss {study.best_value:.4f}, {pruned} of 100 trials pruned, "
          f"{saved} of {100 * EPOCHS} epochs saved ({100 * saved / (100 * EPOCHS):.0f}%)")


run("no pruning", None)
run("MedianPruner", tv.MedianPruner(n_startup_trials=5, n_warmup_steps=5))
run("HyperbandPruner", tv.HyperbandPruner(min_resource=1, max_resource=EPOCHS, reduction_factor=3.0))
