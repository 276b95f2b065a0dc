"""Time management: how long to think about one move, and a clock to watch while thinking."""

from __future__ import annotations

import math
import time
from typing import Optional

SAFETY_MARGIN_MS = 30
"""Kept back from every budget for the answer's trip to the server and the kit's own work."""
SHARE_OF_TIME_LEFT = 0.5
"""The part of the time left that one move may use. The server adds the same credit before
every request and keeps what is not used, so spending half of what is left settles at
spending one credit per move with one credit in reserve."""


class Deadline:
    """A point in time to answer by. Without a limit it never expires."""

    def __init__(self, budget_ms: Optional[float]) -> None:
        """A deadline `budget_ms` milliseconds from now; None: no limit."""
        self.start = time.monotonic()
        self.budget_ms = budget_ms
        """The milliseconds granted from the start, or None."""

    @classmethod
    def for_move(cls, time_left_ms: int, share: float = SHARE_OF_TIME_LEFT,
                 margin_ms: float = SAFETY_MARGIN_MS) -> "Deadline":
        """The deadline for one move, given the `time_left_ms` of the move request: `share` of
        it minus `margin_ms` (never less than 0); no limit when the request says 0."""
        if time_left_ms == 0:
            return cls(None)
        return cls(max(0.0, time_left_ms * share - margin_ms))

    def elapsed_ms(self) -> float:
        """Milliseconds since the start."""
        return (time.monotonic() - self.start) * 1000

    def left_ms(self) -> float:
        """Milliseconds until the deadline (0 once passed); infinity without a limit."""
        if self.budget_ms is None:
            return math.inf
        return max(0.0, self.budget_ms - self.elapsed_ms())

    def expired(self) -> bool:
        """The deadline has passed; a search checks it between steps and answers at once."""
        return self.left_ms() <= 0
