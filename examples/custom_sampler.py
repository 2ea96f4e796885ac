"""A sampler of your own: an evolution strategy written in Python as a tv.CustomSampler.

Once a few trials have completed, each new trial is a mutation of one of the best completed
ones (chosen at random among the top five); categorical parameters are copied from that parent
or, now and then, drawn afresh. Until then, and for any parameter the proposal leaves out, values are drawn uniformly.
"""

import math
import random
import threading

import tarvex as tv


class MutationSampler(tv.CustomSampler):
    def __init__(self, seed=None, n_startup=8, spread=0.15):
        self.rng = random.Random(seed)
        self.lock = threading.Lock()  # trials of two threads may ask at once
        self.n_startup = n_startup
        self.spread = spread

    def propose(self, history, trial):
        done = [t for t in history.trials if t.state == tv.TrialState.Complete]
        if len(done) < self.n_startup:
            return None
        sign = 1 if history.directions[0] == tv.StudyDirection.Minimize else -1
        with self.lock:
            parent = self.rng.choice(sorted(done, key=lambda t: sign * t.value)[:5])
            proposal = {}
            for name, value in parent.params.items():
                dist = history.distribution(parent, name)
                if dist.kind == "categorical":
                    proposal[name] = value if self.rng.random() > 0.2 else self.rng.choice(dist.choices)
                    continue
                if dist.log:
                    v = math.exp(math.log(value) + self.rng.gauss(0, self.spread) * math.log(dist.high / dist.low))
                else:
                    v = value + self.rng.gauss(0, self.spread) * (dist.high - dist.low)
                v = min(dist.high, max(dist.low, v))
                proposal[name] = round(v) if dist.kind == "int" else v
            return proposal

    def sample(self, trial, name, distribution):
        with self.lock:
            if distribution.kind == "categorical":
                return self.rng.choice(distribution.choices)
            if distribution.kind == "int":
                return self.rng.randint(distribution.low, distribution.high)
            if distribution.log:
                return math.exp(self.rng.uniform(math.log(distribution.low), math.log(distribution.high)))
            return self.rng.uniform(distribution.low, distribution.high)


def objective(trial):
    lr = trial.suggest_float("lr", 1e-5, 1e-1, log=True)
    layers = trial.suggest_int("layers", 1, 8)
    activation = trial.suggest_categorical("activation", ["relu", "tanh", "gelu"])
    return (math.log10(lr) + 3) ** 2 + (layers - 4) ** 2 / 4 + (activation != "gelu")


if __name__ == "__main__":
    study = tv.create_study(sampler=MutationSampler(seed=1))
    study.optimize(objective, n_trials=80, n_jobs=2)
    print(f"best value {study.best_value:.4f} with {study.best_params}")
