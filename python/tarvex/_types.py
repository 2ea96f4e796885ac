"""Types that modules share without importing one another."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Protocol

import _tarvex

if TYPE_CHECKING:
    from ._trial import FrozenTrial


class StudyView(Protocol):
    """What plots, importances and reports read of a study: a tv.Study, or any object with the
    study's directions and the trials to show."""

    @property
    def directions(self) -> list[_tarvex.StudyDirection]: ...

    @property
    def trials(self) -> list[FrozenTrial]: ...


class ReportedStudy(StudyView, Protocol):
    """What a report reads of a study besides its trials: a tv.Study."""

    @property
    def study_name(self) -> str: ...

    @property
    def storage(self) -> _tarvex.DatabaseStorage | None: ...

    @property
    def best_trial(self) -> FrozenTrial: ...

    @property
    def best_trials(self) -> list[FrozenTrial]: ...

    @property
    def user_attrs(self) -> dict[str, Any]: ...

    def columns(self, *, intermediate_values: bool = False) -> dict[str, list[Any]]: ...
