"""
tarvex — high-performance hyperparameter optimisation
"""
from __future__ import annotations
import collections.abc
import datetime
import typing
__all__: list[str] = ['AcquisitionType', 'AutoSampler', 'CMAESProgress', 'CMAESSampler', 'DatabaseStorage', 'DuplicateStudyError', 'GPSampler', 'GPSamplerConfig', 'GridSampler', 'HyperbandPruner', 'HyperbandPrunerOptions', 'IPruner', 'ISampler', 'KernelType', 'MedianPruner', 'MedianPrunerOptions', 'NSGA2Progress', 'NSGA2Sampler', 'ParamKindError', 'RandomSampler', 'SobolSampler', 'StorageError', 'Study', 'StudyDirection', 'StudyNotFoundError', 'StudyRecord', 'TPESampler', 'TPESamplerConfig', 'Trial', 'TrialPruned', 'TrialState', 'hypervolume', 'trials_table']
class TrialPruned(Exception):
    """
    Raised by an objective to end its trial as pruned.
    """
class StudyNotFoundError(KeyError, IndexError):
    """
    No study of that name in the storage (a KeyError and an IndexError).
    """
class StorageError(RuntimeError):
    """
    The storage failed: the database refused a statement, or the connection was lost or timed out.
    """
class ParamKindError(ValueError, RuntimeError):
    """
    A parameter asked for as another kind than the value it holds (a ValueError and a RuntimeError).
    """
class TrialState:
    """
    Running, then Complete, Pruned or Failed.
    
    Members:
    
      Running
    
      Complete
    
      Pruned
    
      Failed
    """
    Complete: typing.ClassVar[TrialState]
    Failed: typing.ClassVar[TrialState]
    Pruned: typing.ClassVar[TrialState]
    Running: typing.ClassVar[TrialState]
    __members__: typing.ClassVar[dict[str, TrialState]]
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsInt) -> None:
        ...
    def __int__(self) -> int:
        ...
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsInt) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class StudyDirection:
    """
    Whether a value is minimised or maximised.
    
    Members:
    
      Minimize
    
      Maximize
    """
    Maximize: typing.ClassVar[StudyDirection]
    Minimize: typing.ClassVar[StudyDirection]
    __members__: typing.ClassVar[dict[str, StudyDirection]]
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsInt) -> None:
        ...
    def __int__(self) -> int:
        ...
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsInt) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class Trial:
    def __getstate__(self) -> tuple:
        ...
    def __setstate__(self, arg0: tuple) -> None:
        ...
    def fix_param(self, name: str, value: typing.Any) -> None:
        """
        Fixes the value that the trial's first suggestion of name returns, as an enqueued value does.
        """
    def fixed_value(self, name: str) -> typing.Any:
        """
        The value fixed for name (enqueued), or None.
        """
    def get_user_attr(self, arg0: str) -> str:
        ...
    def report(self, value: typing.SupportsFloat, step: typing.SupportsInt) -> None:
        ...
    def set_user_attr(self, arg0: str, arg1: str) -> None:
        ...
    def should_prune(self) -> bool:
        ...
    def suggest_categorical(self, name: str, choices: collections.abc.Sequence[str]) -> str:
        ...
    def suggest_categorical_kw(self, name: str, choices: collections.abc.Sequence[str]) -> str:
        """
        One of choices, given as the texts that the package makes of them.
        """
    def suggest_float(self, name: str, low: typing.SupportsFloat, high: typing.SupportsFloat, log: bool = False) -> float:
        ...
    def suggest_float_kw(self, name: str, low: typing.Any, high: typing.Any, step: typing.Any = None, log: bool = False) -> float:
        """
        A float in [low, high]: uniform, on a log scale (log=True, low > 0), or on the grid low, low + step, ... (step).
        """
    def suggest_int(self, name: str, low: typing.SupportsInt, high: typing.SupportsInt, log: bool = False, step: typing.SupportsInt = 1) -> int:
        ...
    def suggest_int_kw(self, name: str, low: typing.Any, high: typing.Any, step: typing.Any = 1, log: bool = False) -> int:
        """
        An int in [low, high] on the grid low, low + step, ..., or on a log scale (log=True, low > 0).
        """
    @property
    def constraints(self) -> list[float]:
        """
        The constraint values of the trial, set once its objective returns: feasible when each is <= 0. Empty: no constraints.
        """
    @constraints.setter
    def constraints(self, arg1: collections.abc.Sequence[typing.SupportsFloat]) -> None:
        ...
    @property
    def datetime_complete(self) -> datetime.datetime:
        ...
    @property
    def datetime_start(self) -> datetime.datetime:
        ...
    @property
    def distributions(self) -> dict:
        """
        Each parameter's distribution as the objective asked for it: a dict with kind ('float', 'int' or 'categorical') and low, high, log, step or choices.
        """
    @property
    def fail_reason(self) -> str | None:
        """
        Why a Failed trial failed (the exception's type and message); None for the others.
        """
    @property
    def feasible(self) -> bool:
        ...
    @property
    def intermediate_values(self) -> list[tuple[int, float]]:
        ...
    @property
    def number(self) -> int:
        ...
    @property
    def params(self) -> dict:
        """
        The parameter values, in the order the trial got them.
        """
    @property
    def state(self) -> TrialState:
        ...
    @property
    def study_id(self) -> int:
        ...
    @property
    def system_attrs(self) -> dict[str, str]:
        """
        What the system noted about the trial, such as presumed_lost for a trial declared lost that its process finished after all.
        """
    @property
    def trial_id(self) -> int:
        ...
    @property
    def user_attrs(self) -> dict[str, str]:
        ...
    @property
    def value(self) -> float:
        ...
    @property
    def values(self) -> list[float]:
        ...
class DuplicateStudyError(ValueError):
    """
    A study of that name exists already in the storage.
    """
class StudyRecord:
    """
    A study kept in a DatabaseStorage.
    """
    def __repr__(self) -> str:
        ...
    @property
    def directions(self) -> list[StudyDirection]:
        ...
    @property
    def id(self) -> int:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def objective_names(self) -> list[str]:
        """
        One name per direction, or empty.
        """
class DatabaseStorage:
    """
    Studies kept by name in a database that processes and hosts share: sqlite:///path.db or postgresql://user@host:port/database. Running trials keep a heartbeat; one whose process has been silent for heartbeat_grace seconds (at least 0.5) is marked failed ("heartbeat lost"). Every wait for the database gives up after timeout seconds, and on Ctrl-C. Only create=True makes a missing database; otherwise a missing SQLite file raises FileNotFoundError. A read_only storage writes nothing (it marks no trial lost and upgrades no schema) and refuses what would write with StorageError.
    """
    def __init__(self, url: str, heartbeat_grace: typing.SupportsFloat = 60.0, *, timeout: typing.SupportsFloat = 60.0, create: bool = False, read_only: bool = False) -> None:
        ...
    def __repr__(self) -> str:
        ...
    def create_study(self, name: str, directions: collections.abc.Sequence[StudyDirection], *, objective_names: collections.abc.Sequence[str] = []) -> StudyRecord:
        """
        Raises DuplicateStudyError (a ValueError) when a study of that name exists. objective_names: one distinct name per direction, or none.
        """
    def delete_study(self, name: str) -> None:
        """
        Deletes the study and its trials; raises IndexError when there is none.
        """
    def interrupt(self) -> None:
        """
        Gives up, within a second, every wait for the database in every thread (after a Ctrl-C taken elsewhere).
        """
    def load_study(self, name: str) -> StudyRecord:
        """
        Raises IndexError when there is none.
        """
    def set_study_user_attr(self, study: StudyRecord, key: str, value: str) -> None:
        """
        Sets one of the study's own user attributes (text).
        """
    def studies(self) -> list[StudyRecord]:
        ...
    def study_user_attrs(self, study: StudyRecord) -> dict[str, str]:
        """
        The study's own user attributes.
        """
    @property
    def heartbeat_grace(self) -> float:
        ...
    @property
    def read_only(self) -> bool:
        ...
    @property
    def timeout(self) -> float:
        ...
    @property
    def url(self) -> str:
        """
        The URL, every password replaced by ***.
        """
class Study:
    @staticmethod
    def in_storage(storage: DatabaseStorage, study: StudyRecord, sampler: ISampler | None = None, pruner: IPruner | None = None) -> Study:
        """
        The study of record kept in storage; its trials are read from there and new ones written there.
        """
    @typing.overload
    def __init__(self, direction: StudyDirection, sampler: ISampler | None = None, pruner: IPruner | None = None) -> None:
        ...
    @typing.overload
    def __init__(self, directions: collections.abc.Sequence[StudyDirection], sampler: ISampler | None = None, pruner: IPruner | None = None) -> None:
        ...
    def add_trial(self, params: dict, values: collections.abc.Sequence[typing.SupportsFloat]) -> None:
        ...
    def ask(self, trial_type: typing.Any = None) -> typing.Any:
        """
        A new running trial for a loop the caller drives (an instance of trial_type, a subclass of Trial, when given); finish it with tell.
        """
    def copy_trial(self, trial: Trial) -> int:
        """
        Stores the trial as it is (state, parameters, values, reports, attributes, times) as this study's next trial; returns its number.
        """
    def enqueue_trial(self, params: dict) -> None:
        ...
    def optimize(self, objective: collections.abc.Callable, n_trials: typing.SupportsInt, n_jobs: typing.SupportsInt = 1, timeout: typing.SupportsFloat | None = None) -> None:
        ...
    def optimize_mo(self, objective: collections.abc.Callable, n_trials: typing.SupportsInt, n_jobs: typing.SupportsInt = 1) -> None:
        ...
    def run(self, objective: collections.abc.Callable, n_trials: typing.SupportsInt, n_jobs: typing.SupportsInt = 1, timeout: typing.SupportsFloat | None = None, multi_objective: bool = False, on_trial_end: collections.abc.Callable | None = None, trial_type: typing.Any = None) -> None:
        """
        optimize or optimize_mo (multi_objective), calling on_trial_end(trial) with every finished trial once it is stored. A KeyboardInterrupt in the objective (its trial fails, "interrupted") or in on_trial_end stops the run and is raised again once the running trials have ended. The objective receives instances of trial_type, a subclass of Trial, when given.
        """
    def stop(self) -> None:
        """
        Stops the run in progress from starting trials; those running finish.
        """
    def table(self, decode: collections.abc.Callable, *, intermediate: bool = False) -> dict:
        """
        The trials as a dict of columns, each a list: number, state, value (or values_0, values_1, ...), params_NAME, datetime_start and datetime_complete (local time, nanoseconds), user_attrs_KEY, fail_reason and, with intermediate, intermediate_values (a dict {step: value} per trial); texts decoded by decode; missing values None, other missing cells NaN.
        """
    def tell(self, trial: Trial, state: TrialState, values: collections.abc.Sequence[typing.SupportsFloat] = [], fail_reason: str | None = None) -> None:
        """
        Finishes an asked trial: Complete with one value per direction, or Pruned or Failed with none.
        """
    def trials_since(self, cursor: typing.SupportsInt) -> tuple:
        """
        The trials stored or changed since cursor (0: every trial), oldest change first, and the cursor that follows them: how a reader that keeps what it read fetches only what is new. A trial changed twice comes once, in its newest version.
        """
    @property
    def best_params(self) -> dict:
        ...
    @property
    def best_trial(self) -> Trial:
        ...
    @property
    def best_value(self) -> float:
        ...
    @property
    def directions(self) -> list[StudyDirection]:
        ...
    @property
    def n_directions(self) -> int:
        ...
    @property
    def n_trials(self) -> int:
        """
        How many trials the study holds (with a database storage, running ones included).
        """
    @property
    def pareto_front(self) -> list[Trial]:
        ...
    @property
    def study_id(self) -> int:
        ...
    @property
    def trials(self) -> list[Trial]:
        ...
class ISampler:
    """
    The sampler interface. A Python subclass defines sample_independent(trial, name, distribution) -> value, and may define propose(history, trial) -> dict (a whole configuration when a trial first asks; names outside it go to sample_independent), after_trial(trial) and before_study(directions).
    """
    class History:
        """
        What propose reads of the study, copied for the call.
        """
        @property
        def directions(self) -> list[StudyDirection]:
            ...
        @property
        def pending(self) -> list:
            """
            The configurations of the study's other running trials, as dicts.
            """
        @property
        def trials(self) -> list:
            """
            The study's stored trials, ascending number: finished ones, and running ones that a database keeps.
            """
    def __init__(self) -> None:
        ...
    def restore_state(self, state: bytes) -> None:
        """
        Takes back what saved_state of the same kind of sampler returned; ValueError for anything else.
        """
    def saved_state(self) -> bytes:
        """
        What the sampler itself carries between calls (its random generators), for restore_state of a copy; what a study keeps for the sampler is not part of it.
        """
class RandomSampler(ISampler):
    """
    Independent uniform draws (on the log scale where asked).
    """
    def __init__(self, seed: typing.SupportsInt = 0) -> None:
        ...
class SobolSampler(ISampler):
    """
    Quasi-random search: a scrambled Sobol sequence.
    """
    def __init__(self, seed: typing.SupportsInt = 0, scramble: bool = True) -> None:
        ...
class GridSampler(ISampler):
    """
    Every combination of the given values, each once, in a shuffled order.
    """
    def __init__(self, grid: collections.abc.Mapping[str, collections.abc.Sequence[typing.SupportsFloat | typing.SupportsInt | str]], seed: typing.SupportsInt = 0) -> None:
        ...
    def __len__(self) -> int:
        ...
class AcquisitionType:
    """
    The acquisition function a GPSampler maximises.
    
    Members:
    
      EI
    
      LogEI
    
      UCB
    
      PI
    """
    EI: typing.ClassVar[AcquisitionType]
    LogEI: typing.ClassVar[AcquisitionType]
    PI: typing.ClassVar[AcquisitionType]
    UCB: typing.ClassVar[AcquisitionType]
    __members__: typing.ClassVar[dict[str, AcquisitionType]]
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsInt) -> None:
        ...
    def __int__(self) -> int:
        ...
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsInt) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class KernelType:
    """
    The covariance kernel of a GPSampler's model.
    
    Members:
    
      RBF
    
      Matern52
    """
    Matern52: typing.ClassVar[KernelType]
    RBF: typing.ClassVar[KernelType]
    __members__: typing.ClassVar[dict[str, KernelType]]
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsInt) -> None:
        ...
    def __int__(self) -> int:
        ...
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsInt) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class GPSamplerConfig:
    """
    A GPSampler's settings; constructed bare, the package's defaults.
    """
    def __init__(self) -> None:
        ...
    @property
    def acq(self) -> AcquisitionType:
        ...
    @property
    def auto_beta(self) -> bool:
        ...
    @property
    def beta(self) -> float:
        ...
    @property
    def fit_noise(self) -> bool:
        ...
    @property
    def kernel(self) -> KernelType:
        ...
    @property
    def multi_objective(self) -> bool:
        ...
    @property
    def n_cand(self) -> int:
        ...
    @property
    def n_restarts(self) -> int:
        ...
    @property
    def n_warmup(self) -> int:
        ...
    @property
    def noise_var(self) -> float:
        ...
    @property
    def principal_axes(self) -> bool:
        ...
    @property
    def quadratic_mean(self) -> bool:
        ...
    @property
    def random_scalarisations(self) -> bool:
        ...
    @property
    def reference_point(self) -> list[float]:
        ...
    @property
    def seed(self) -> int:
        ...
    @property
    def trust_region(self) -> bool:
        ...
    @property
    def use_priors(self) -> bool:
        ...
    @property
    def warp_values(self) -> bool:
        ...
    @property
    def xi(self) -> float:
        ...
class GPSampler(ISampler):
    def __init__(self, kernel: KernelType = KernelType.Matern52, acq: AcquisitionType = AcquisitionType.LogEI, n_warmup: typing.SupportsInt = 8, xi: typing.SupportsFloat = 0.003, beta: typing.SupportsFloat = 2.0, n_cand: typing.SupportsInt = 1024, n_restarts: typing.SupportsInt = 2, use_priors: bool = True, fit_noise: bool = False, noise_var: typing.SupportsFloat = 0.0001, seed: typing.SupportsInt = 0, warp_values: bool = False, multi_objective: bool = False, random_scalarisations: bool = False, trust_region: bool = False, reference_point: collections.abc.Sequence[typing.SupportsFloat] = [], principal_axes: bool = False, quadratic_mean: bool = False) -> None:
        ...
    @property
    def config(self) -> GPSamplerConfig:
        ...
class TPESamplerConfig:
    """
    A TPESampler's settings; constructed bare, the defaults.
    """
    def __init__(self) -> None:
        ...
    @property
    def constant_liar(self) -> bool:
        ...
    @property
    def multivariate(self) -> bool:
        ...
    @property
    def n_ei_candidates(self) -> int:
        ...
    @property
    def n_startup_trials(self) -> int:
        ...
    @property
    def prior_weight(self) -> float:
        ...
    @property
    def seed(self) -> int:
        ...
class TPESampler(ISampler):
    def __init__(self, n_startup_trials: typing.SupportsInt = 10, n_ei_candidates: typing.SupportsInt = 24, multivariate: bool = True, prior_weight: typing.SupportsFloat = 1.0, constant_liar: bool = True, gamma: collections.abc.Callable[[typing.SupportsInt], int] | None = None, seed: typing.SupportsInt = 0) -> None:
        ...
    @property
    def config(self) -> TPESamplerConfig:
        ...
class CMAESProgress:
    """
    Where a study's CMA-ES search stands.
    """
    @property
    def generation(self) -> int:
        ...
    @property
    def popsize(self) -> int:
        ...
    @property
    def restarts(self) -> int:
        ...
    @property
    def sigma(self) -> float:
        ...
class CMAESSampler(ISampler):
    def __init__(self, x0: collections.abc.Mapping[str, typing.SupportsFloat | typing.SupportsInt | str] = {}, sigma0: typing.SupportsFloat = 0.2, n_startup_trials: typing.SupportsInt = 1, popsize: typing.SupportsInt = 0, restart_strategy: str | None = 'ipop', inc_popsize: typing.SupportsInt = 2, with_margin: bool = True, separable: bool = False, bounds: str = 'resample', warm_start: collections.abc.Sequence[collections.abc.Mapping[str, typing.SupportsFloat | typing.SupportsInt | str]] = [], independent_sampler: ISampler | None = None, seed: typing.SupportsInt = 0, surrogate: bool = False, tol_fun: typing.SupportsFloat = 1e-12) -> None:
        ...
    def progress(self, study: Study) -> CMAESProgress:
        """
        Where the search of study (which uses this sampler) stands; read it between runs.
        """
    @property
    def popsize(self) -> int:
        ...
    @property
    def separable(self) -> bool:
        ...
    @property
    def sigma0(self) -> float:
        ...
    @property
    def surrogate(self) -> bool:
        ...
    @property
    def tol_fun(self) -> float:
        ...
class NSGA2Progress:
    """
    Where a study's NSGA-II search stands.
    """
    @property
    def generation(self) -> int:
        ...
    @property
    def population(self) -> int:
        ...
class NSGA2Sampler(ISampler):
    def __init__(self, population_size: typing.SupportsInt = 50, mutation_prob: typing.SupportsFloat | None = None, crossover_prob: typing.SupportsFloat = 0.9, swapping_prob: typing.SupportsFloat = 0.5, crossover_eta: typing.SupportsFloat = 15.0, mutation_eta: typing.SupportsFloat = 20.0, selection: str = 'hypervolume', reference_divisions: typing.SupportsInt = 0, independent_sampler: ISampler | None = None, seed: typing.SupportsInt = 0) -> None:
        ...
    def progress(self, study: Study) -> NSGA2Progress:
        """
        Where the search of study (which uses this sampler) stands; read it between runs.
        """
    @property
    def population_size(self) -> int:
        ...
class AutoSampler(ISampler):
    def __init__(self, max_gp_trials: typing.SupportsInt = 100, max_gp_trials_multi_objective: typing.SupportsInt = 200, seed: typing.SupportsInt = 0) -> None:
        ...
    @property
    def max_gp_trials(self) -> int:
        ...
    @property
    def max_gp_trials_multi_objective(self) -> int:
        ...
class IPruner:
    pass
class MedianPrunerOptions:
    """
    MedianPruner's settings; the package's defaults.
    """
    def __init__(self, *, n_startup_trials: typing.SupportsInt = 5, n_warmup_steps: typing.SupportsInt = 0, percentile: typing.SupportsFloat = 50.0) -> None:
        ...
    @property
    def n_startup_trials(self) -> int:
        ...
    @property
    def n_warmup_steps(self) -> int:
        ...
    @property
    def percentile(self) -> float:
        ...
class MedianPruner(IPruner):
    @typing.overload
    def __init__(self, n_startup_trials: typing.SupportsInt = 5, n_warmup_steps: typing.SupportsInt = 0, percentile: typing.SupportsFloat = 50.0) -> None:
        ...
    @typing.overload
    def __init__(self, options: MedianPrunerOptions) -> None:
        """
        With options checked: ValueError naming the first one out of range.
        """
class HyperbandPrunerOptions:
    """
    HyperbandPruner's settings; the package's defaults.
    """
    def __init__(self, *, min_resource: typing.SupportsInt = 1, max_resource: typing.SupportsInt = 81, reduction_factor: typing.SupportsFloat = 3.0, bootstrap_count: typing.SupportsInt = 0) -> None:
        ...
    @property
    def bootstrap_count(self) -> int:
        ...
    @property
    def max_resource(self) -> int:
        ...
    @property
    def min_resource(self) -> int:
        ...
    @property
    def reduction_factor(self) -> float:
        ...
class HyperbandPruner(IPruner):
    @typing.overload
    def __init__(self, min_resource: typing.SupportsInt = 1, max_resource: typing.SupportsInt = 81, reduction_factor: typing.SupportsFloat = 3.0, bootstrap_count: typing.SupportsInt = 0) -> None:
        ...
    @typing.overload
    def __init__(self, options: HyperbandPrunerOptions) -> None:
        """
        With options checked: ValueError naming the first one out of range.
        """
def hypervolume(points: collections.abc.Sequence[collections.abc.Sequence[typing.SupportsFloat]], reference: collections.abc.Sequence[typing.SupportsFloat]) -> float:
    """
    The volume the points dominate up to reference, every objective minimised; exact.
    """
def trials_table(trials: collections.abc.Sequence, n_values: typing.SupportsInt, decode: collections.abc.Callable, *, intermediate: bool = False) -> dict:
    """
    Study.table's columns for the given trials (in the order given) of a study with n_values directions.
    """
