"""Directions as users spell them."""

from __future__ import annotations

from typing import Any

import _tarvex

StudyDirection = _tarvex.StudyDirection

_DIRECTIONS = {"minimize": StudyDirection.Minimize, "maximize": StudyDirection.Maximize}


def parse_direction(value: Any) -> StudyDirection:
    if isinstance(value, StudyDirection):
        return value
    if isinstance(value, str) and value.lower() in _DIRECTIONS:
        return _DIRECTIONS[value.lower()]
    raise ValueError(f"a direction is 'minimize' or 'maximize' (any case) or a tv.StudyDirection, got {value!r}")
