"""Where studies are kept: this process's memory, or a database that processes and hosts share."""

from __future__ import annotations

from typing import Any

import _tarvex

from ._values import check_text

DatabaseStorage = _tarvex.DatabaseStorage


def open_storage(storage: Any, where: str, create: bool = False) -> DatabaseStorage:
    """The database storage a storage argument names: a URL or an opened tv.DatabaseStorage.
    Only with create is a missing database made (FileNotFoundError otherwise, for SQLite)."""
    if isinstance(storage, DatabaseStorage):
        return storage
    if isinstance(storage, str):
        return DatabaseStorage(storage, create=create)
    raise TypeError(
        f"{where}: storage must be a URL (sqlite:///path.db or postgresql://user@host:port/database) "
        f"or a tv.DatabaseStorage, got {type(storage).__name__}"
    )


def check_name(name: Any, where: str) -> str:
    if type(name) is not str:
        raise TypeError(f"{where}: study_name must be a str, got {type(name).__name__}")
    return check_text(name, f"{where}: study_name")


def find_study(storage: DatabaseStorage, name: str) -> _tarvex.StudyRecord:
    """The stored study of that name; tv.exceptions.StudyNotFoundError (a KeyError) when there is none."""
    return storage.load_study(name)


def delete_study(*, study_name: str, storage: str | DatabaseStorage) -> None:
    """Deletes the stored study and all its trials. Raises tv.exceptions.StudyNotFoundError (a KeyError)
    when there is none."""
    db = open_storage(storage, "delete_study")
    db.delete_study(check_name(study_name, "delete_study"))


def study_names(storage: str | DatabaseStorage) -> list[str]:
    """The names of the studies kept in storage, oldest first."""
    return [record.name for record in open_storage(storage, "study_names").studies()]
