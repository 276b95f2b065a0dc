"""A match without a server: python3 -m reversi_bot.local MAP BOT BOT ...

Plays bots against each other on the kit's own rules, the way the server referees a match:
the same turn order and phases, the same chess clock (a credit before every move, unused time
kept), and a disqualification for an illegal, late or missing answer.
"""

from __future__ import annotations

import argparse
import sys
import time
from dataclasses import dataclass
from typing import List, Optional, Sequence

from .board import Board
from .bot import BOTS, Bot, as_move, load_bot
from .cli import Parser, ranged
from .gamemap import MapError, parse_map
from .logger import LOG_LEVELS, log, setup_logging

MAX_MAP_BYTES = 2012000
"""The longest map file read, as long as the longest map the server sends."""
HIGHEST_DEPTH = 255


@dataclass
class Seat:
    """One player of a local match."""

    bot: Bot
    clock_ms: int = 0
    """Time left on the player's clock after its last move."""


class LocalMatch:
    """One match of `bots` (one per player, in player order) on a board, refereed like the
    server does it. `time_ms` is the credit added before every move (0: no limit); `depth` is
    passed to the bots."""

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
        self.board.disqualify(player)


def _parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="python3 -m reversi_bot.local",
        description="Plays one match of bots against each other on the kit's own rules, "
        "without a server, and prints the final board and the scores. Exit status 0 after a "
        "match played to its end, 1 otherwise.")
    parser.add_argument("map", help="the map file")
    parser.add_argument("bots", nargs="+", metavar="BOT",
                        help=f"one per player, in player order: {', '.join(BOTS)}, or a Bot "
                        "subclass of your own as module:Class")
    parser.add_argument("-t", "--time-ms", type=ranged(0, 2**32 - 1, "the time"), default=0,
                        help="milliseconds credited to a player's clock before each of its "
                        "moves, like the server's -t (default: 0, no limit)")
    parser.add_argument("-d", "--depth", type=ranged(0, HIGHEST_DEPTH, "the depth"), default=0,
                        help="search depth limit passed to the bots (default: 0, no limit)")
    parser.add_argument("--seed", type=int, default=None,
                        help="seed of the random bots, the n-th seat's bot seeded seed + n")
    parser.add_argument("--log-level", choices=LOG_LEVELS, default="warning",
                        help="least important log messages shown, on standard error; info "
                        "shows every move (default: %(default)s)")
    return parser


def _read_map(path: str) -> Board:
    """The board of the map file; OSError or MapError."""
    with open(path, "rb") as source:
        data = source.read(MAX_MAP_BYTES + 1)
    if len(data) > MAX_MAP_BYTES:
        raise MapError([f"the map file is longer than {MAX_MAP_BYTES} bytes"])
    # One character per byte, as the server reads it: a byte outside ASCII is never valid.
    return Board(parse_map(data.decode("latin-1")))


def main(argv: Optional[List[str]] = None) -> int:
    """Runs the command line (default: sys.argv[1:]) and returns the exit status."""
    parser = _parser()
    args = parser.parse_args(argv)
    setup_logging(args.log_level)
    try:
        board = _read_map(args.map)
    except (OSError, MapError) as error:
        print(f"Cannot load the map {args.map}: {error}", file=sys.stderr)
        return 1
    if board.is_over():
        print(f"Nobody can move on the map {args.map}", file=sys.stderr)
        return 1
    try:
        seed = args.seed
        bots = [load_bot(name, None if seed is None else seed + n)
                for n, name in enumerate(args.bots, start=1)]
        match = LocalMatch(board, bots, args.time_ms, args.depth)
    except ValueError as error:
        parser.error(str(error))
    scores = match.play()
    print(board.text(), end="")
    for player, score in enumerate(scores, start=1):
        text = "disqualified" if score < 0 else f"{score} stones"
        print(f"Player {player} ({match.seats[player - 1].bot.label()}): {text}")
    winner = board.winner()
    print("Winner: " + (f"player {winner}" if winner else "none"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
