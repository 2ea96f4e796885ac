"""Ask and tell: the study proposes, an external loop evaluates (here a simulated batch queue that
returns results out of order), and the results are told back when they arrive."""

import random

import tarvex as tv

study = tv.create_study(sampler=tv.GPSampler(seed=5))
queue = random.Random(0)
running = []
for step in range(30):
    trial = study.ask()
    x, y = trial.suggest_float("x", -2.0, 2.0), trial.suggest_float("y", -2.0, 2.0)
    running.append((trial, (x - 0.7) ** 2 + (y + 1.1) ** 2))
    if len(running) == 3 or step == 29:  # a batch of three comes back in any order
        queue.shuffle(running)
        for finished, value in running:
            study.tell(finished, value)
        running.clear()
print(f"told {len(study.trials)} trials; best value {study.best_value:.5f} at {study.best_params}")
