"""The package's errors. Each subclasses the standard type raised for it before it had its own,
so existing except clauses keep catching it."""

import _tarvex

#: No study of that name in the storage (a KeyError; an IndexError too, as the compiled module raised).
StudyNotFoundError = _tarvex.StudyNotFoundError
#: create_study with the name of a stored study and load_if_exists=False (a ValueError).
DuplicateStudyError = _tarvex.DuplicateStudyError
#: The storage failed: the database refused a statement, or the connection was lost or timed out (a RuntimeError).
StorageError = _tarvex.StorageError
#: A parameter asked for as another kind than the value it holds or was enqueued with (a ValueError).
ParamKindError = _tarvex.ParamKindError


class WorkerLostError(RuntimeError):
    """The worker process or Dask worker running a trial died, or the trial was cancelled by a
    second Ctrl-C; the trial failed and the run went on."""


__all__ = ["DuplicateStudyError", "ParamKindError", "StorageError", "StudyNotFoundError", "WorkerLostError"]
