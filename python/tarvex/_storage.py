"""Where studies are kept: this process's memory, or a database that processes and hosts share."""

from __future__ import annotations

from typing import Any

import _tarvex

from ._custom_sampler import CustomSampler
from ._values import check_text

DatabaseStorage = _tarvex.DatabaseStorage


def open_storage(storage: Any, where: str, create: bool = False) -> DatabaseStorage:
    """The database storage a storage argument names: a URL or an opened tv.DatabaseStorage.
    Only with create is a missing database made (FileNotFoundError otherwise, for SQLite)."""
    if isinstance(storage, DatabaseStorage):
        return storage
    if isinstance(storage, str):
        return DatabaseStorage(storage, create=create)
    raise TypeError(f"{where}: storage must be a URL (sqlite:///path.db or postgresql://user@host:port/database) "
                    f"or a tv.DatabaseStorage, got {type(storage).__name__}")


def check_name(name: Any, where: str) -> str:
    if type(name) is not str:
        raise TypeError(f"{where}: study_name must be a str, got {type(name).__name__}")
    return check_text(name, f"{where}: study_name")


def find_study(storage: DatabaseStorage, name: str) -> _tarvex.StudyRecord:
    try:
        return storage.load_study(name)
    except IndexError as e:
        raise KeyError(str(e)) from None


def load_study(*, study_name: str, storage: str | DatabaseStorage, sampler: _tarvex.ISampler | CustomSampler | None = None,
               pruner: _tarvex.IPruner | None = None):
    """The stored study of that name, continued where it stopped: its trials are read from the
    storage, new ones are written there. Raises KeyError when there is none.

    Args:
        study_name: the study's name.
        storage: a URL (sqlite:///path.db, postgresql://user@host:port/database) or a tv.DatabaseStorage.
        sampler, pruner: as for tv.create_study; they learn from the stored trials.
    """
    from ._study import study_in_storage

    db = open_storage(storage, "load_study")
    return study_in_storage(db, find_study(db, check_name(study_name, "load_study")), sampler, pruner)


def delete_study(*, study_name: str, storage: str | DatabaseStorage) -> None:
    """Deletes the stored study and all its trials. Raises KeyError when there is none."""
    db = open_storage(storage, "delete_study")
    try:
        db.delete_study(check_name(study_name, "delete_study"))
    except IndexError as e:
        raise KeyError(str(e)) from None


def study_names(storage: str | DatabaseStorage) -> list[str]:
    """The names of the studies kept in storage, oldest first."""
    return [record.name for record in open_storage(storage, "study_names").studies()]
