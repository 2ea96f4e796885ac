"""tarvex: hyperparameter optimisation with a compiled core.

import tarvex as tv

def objective(trial):
    lr = trial.suggest_float("lr", 1e-5, 1e-1, log=True)
    layers = trial.suggest_int("layers", 1, 8)
    return train_and_score(lr, layers)

study = tv.create_study(direction="minimize", sampler=tv.GPSampler(seed=1))
study.optimize(objective, n_trials=50)
print(study.best_value, study.best_params)
"""

import _tarvex

from . import _logging, dashboard, exceptions, importance, integration, report, visualization
from ._auto import AutoSampler
from ._cmaes import CMAESSampler
from ._create import create_study, load_study
from ._custom_sampler import CustomSampler, Distribution, History
from ._distributions import CategoricalDist, FloatDist, IntDist
from ._grid import GridSampler
from ._hypervolume import hypervolume
from ._nsga2 import NSGA2Sampler
from ._pruners import HyperbandPruner, MedianPruner
from ._samplers import GPSampler, RandomSampler
from ._sobol import SobolSampler
from ._storage import DatabaseStorage, delete_study, study_names
from ._study import Study
from ._tpe import TPESampler
from ._trial import FrozenTrial, Trial
from ._version import __version__

StudyDirection = _tarvex.StudyDirection
TrialState = _tarvex.TrialState
TrialPruned = _tarvex.TrialPruned
KernelType = _tarvex.KernelType
AcquisitionType = _tarvex.AcquisitionType

# Warnings show on stderr until the application configures logging (see tarvex._logging).
_logging.install()

__all__ = [
    "AcquisitionType",
    "AutoSampler",
    "CMAESSampler",
    "CategoricalDist",
    "CustomSampler",
    "DatabaseStorage",
    "Distribution",
    "FloatDist",
    "FrozenTrial",
    "History",
    "GPSampler",
    "GridSampler",
    "HyperbandPruner",
    "IntDist",
    "KernelType",
    "MedianPruner",
    "NSGA2Sampler",
    "RandomSampler",
    "SobolSampler",
    "Study",
    "StudyDirection",
    "TPESampler",
    "Trial",
    "TrialPruned",
    "TrialState",
    "__version__",
    "create_study",
    "dashboard",
    "delete_study",
    "exceptions",
    "hypervolume",
    "importance",
    "integration",
    "load_study",
    "report",
    "study_names",
    "visualization",
]
