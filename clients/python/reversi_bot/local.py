"""A match without a server: python3 -m reversi_bot.local MAP BOT BOT ...

Plays bots against each other on the kit's own rules (see referee.LocalMatch)."""

from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from .board import Board
from .bot import BOTS, load_bot
from .cli import Parser, ranged
from .gamemap import MapError, parse_map
from .logger import LOG_LEVELS, setup_logging
from .referee import LocalMatch

MAX_MAP_BYTES = 2012000
"""The longest map file read, as long as the longest map the server sends."""
HIGHEST_DEPTH = 255


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
