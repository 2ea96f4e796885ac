"""The package's logger, "tarvex". Until the application configures logging, its warnings (a
failed trial, a trial presumed lost) show on stderr, one line each; once the root logger has a
handler they go there instead, and logging.getLogger("tarvex").setLevel(logging.ERROR) quiets them.
"""

from __future__ import annotations

import logging
import sys


class _UntilConfigured(logging.Handler):
    """Writes records to stderr while neither the root logger nor the tarvex logger has another
    handler: Python's own last-resort handler stays silent once a library adds any handler."""

    def __init__(self) -> None:
        super().__init__()
        self.setFormatter(logging.Formatter("%(name)s %(levelname)s: %(message)s"))

    def emit(self, record: logging.LogRecord) -> None:
        logger = logging.getLogger("tarvex")
        if logging.getLogger().handlers or (logger.propagate is False and len(logger.handlers) > 1):
            return
        if any(h is not self for h in logger.handlers):
            return
        try:
            sys.stderr.write(self.format(record) + "\n")
        except Exception:  # noqa: BLE001 - a closed stderr must not fail the run
            self.handleError(record)


def install() -> None:
    logger = logging.getLogger("tarvex")
    if not any(isinstance(h, _UntilConfigured) for h in logger.handlers):
        logger.addHandler(_UntilConfigured())
