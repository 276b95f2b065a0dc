"""A match without a server, refereed the way the server does it: the same turn order and
phases, the same chess clock (a credit before every move, unused time kept), and a
disqualification for an illegal, late or missing answer."""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import List, Sequence

from .board import Board
from .bot import Bot, as_move
from .logger import log


@dataclass
class Seat:
    """One player of a local match."""

    bot: Bot
    clock_ms: int = 0
    """Time left on the player's clock after its last move."""


class LocalMatch:
    """One match of `bots` (one per player, in player order) on a board, refereed like the
    server does it. `time_ms` is the credit added before every move (0: no limit); `depth` is
    passed to the bots. A bot runs in this thread: an answer that comes too late is judged when
    it comes, and a bot that never answers holds the match up."""

    def __init__(self, board: Board, bots: Sequence[Bot], time_ms: int = 0,
                 depth: int = 0) -> None:
        if len(bots) != board.players:
            raise ValueError(f"the map is for {board.players} players, not {len(bots)}")
        self.board = board
        self.seats = [Seat(bot) for bot in bots]
        self.time_ms = time_ms
        self.depth = depth
        self.moves = 0
        """Moves played so far."""
        self.reasons = {}
        """Why each disqualified player was taken out, by player number."""

    def play(self) -> List[int]:
        """Plays to the end and returns the scores (index 0 for player 1; -1: disqualified)."""
        while not self.board.is_over():
            self.turn()
        return self.board.scores()

    def turn(self) -> None:
        """Asks the player in turn for a move and plays it, or disqualifies the player."""
        player = self.board.to_move
        seat = self.seats[player - 1]
        if self.time_ms:
            seat.clock_ms += self.time_ms
        start = time.monotonic()
        try:
            answer = seat.bot.choose_move(self.board.copy(), seat.clock_ms, self.depth)
        except Exception:
            log.exception("Player %d (%s) raised an exception", player, seat.bot.label())
            self.disqualify(player, "the bot raised an exception")
            return
        spent_ms = int((time.monotonic() - start) * 1000)
        move = as_move(answer)
        if move is None:
            self.disqualify(player, f"answered {answer!r} instead of a Move")
            return
        if self.time_ms:
            if spent_ms > seat.clock_ms:
                self.disqualify(player, f"timeout: {spent_ms} ms with {seat.clock_ms} ms left")
                return
            seat.clock_ms -= spent_ms
        reason = self.board.why_illegal(move)
        if reason:
            self.disqualify(player, f"illegal move {move}: {reason}")
            return
        phase = self.board.phase
        self.board.play(move)
        log.info("Move %d: player %d plays %s in %d ms", self.moves, player, move, spent_ms)
        self.moves += 1
        if phase is not self.board.phase and not self.board.is_over():
            log.info("The bombing phase begins")

    def disqualify(self, player: int, reason: str) -> None:
        log.warning("Player %d disqualified: %s", player, reason)
        self.reasons[player] = reason
        self.board.disqualify(player)
