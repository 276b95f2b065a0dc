"""The bot interface and two example bots."""

from __future__ import annotations

import random
from typing import Optional

from .board import Board, Move


class Bot:
    """A player. Subclass it and implement choose_move; nothing else is needed."""

    name = "bot"

    def choose_move(self, board: Board, time_left_ms: int, depth: int) -> Move:
        """The move to play on `board`, a copy the bot may change; the bot plays as
        `board.to_move`. `time_left_ms` is what is left on this bot's clock, this turn's credit
        included (0: no time limit); answer well before it runs out, or the server disqualifies
        the bot. `depth` is the search depth limit (0: no limit). A tuple (x, y) or
        (x, y, choice) will do instead of a Move."""
        raise NotImplementedError


class RandomBot(Bot):
    """Any legal move, uniformly at random."""

    name = "random"

    def __init__(self, seed: Optional[int] = None) -> None:
        self.random = random.Random(seed)

    def choose_move(self, board: Board, time_left_ms: int, depth: int) -> Move:
        return self.random.choice(board.legal_moves())


class GreedyBot(Bot):
    """The move that leaves it furthest ahead of its strongest opponent right away; the first
    such move on a tie."""

    name = "greedy"

    def choose_move(self, board: Board, time_left_ms: int, depth: int) -> Move:
        me = board.to_move
        best, best_lead = None, None
        for move in board.legal_moves():
            after = board.after(move)
            rivals = [after.stones(p) for p in range(1, board.players + 1)
                      if p != me and p not in after.disqualified]
            lead = after.stones(me) - max(rivals, default=0)
            if best_lead is None or lead > best_lead:
                best, best_lead = move, lead
        return best


BOTS = {"random": RandomBot, "greedy": GreedyBot}
"""The example bots by name."""
