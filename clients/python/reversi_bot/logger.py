"""The kit's log: one logger, "reversi_bot", writing to standard error.

A bot logs through it (or a child such as logging.getLogger("reversi_bot.mybot")) and never
to standard output, which a bot started by the arena may not own::

    from reversi_bot import log
    log.info("searching %d moves", len(moves))
"""

from __future__ import annotations

import logging
import sys

LOG_LEVELS = ("debug", "info", "warning", "error")
"""The levels the command line's --log-level accepts, least important first."""
LOG_FORMAT = "[%(levelname)5s] %(asctime)s %(message)s"
"""Each line: the level, the time of day, the message."""

log = logging.getLogger("reversi_bot")
"""The kit's logger; the command line sets its level."""


def setup_logging(level: str = "info") -> None:
    """Sends the log, from `level` (one of LOG_LEVELS) on, to standard error in LOG_FORMAT. Does
    nothing to a logging set-up the program has made itself."""
    logging.basicConfig(level=level.upper(), stream=sys.stderr, format=LOG_FORMAT,
                        datefmt="%H:%M:%S")
