"""Matches without a server: python3 -m reversi_bot.local MAP [MAP ...] BOT BOT ... [--games N]

Plays bots against each other on the kit's own rules (see referee.LocalMatch), one match or a
series with a summary (see series.Series)."""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional, Tuple

from .board import Board
from .bot import BOTS, load_bot
from .cli import Parser, ranged
from .gamemap import MapError, parse_map
from .logger import LOG_LEVELS, setup_logging
from .referee import LocalMatch
from .series import MAX_OPENING, Series

MAX_MAP_BYTES = 2012000
"""The longest map file read, as long as the longest map the server sends."""
HIGHEST_DEPTH = 255
MAX_GAMES = 1000000
"""The most games one run plays."""
SERIES_OPENING = 4
"""Random plies before the bots take over in a series, unless --openings says otherwise."""


def _parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="python3 -m reversi_bot.local",
        description="Plays bots against each other on the kit's own rules, without a server. "
        "One match prints the final board and the scores; with --games, or with several "
        "maps, a series with the seats rotated and random openings, and a summary per bot. "
        "Exit status 0 after the matches were played to their end, 1 otherwise.")
    parser.add_argument("items", nargs="+", metavar="MAP [MAP ...] BOT",
                        help="one or more map files, then one bot per player, in player order: "
                        f"{', '.join(BOTS)}, or a Bot subclass of your own as module:Class "
                        "(the module may be a file's path: bots/mine.py:Mine)")
    parser.add_argument("-n", "--games", type=ranged(1, MAX_GAMES, "the number of games"),
                        default=1, help="games to play: each opening is played once in every "
                        "rotation of the seats, the maps taken in turn (default: %(default)s)")
    parser.add_argument("--openings", type=ranged(0, MAX_OPENING, "the opening's plies"),
                        default=None, metavar="PLIES",
                        help="random legal plies played before the bots take over, a new "
                        f"opening for every rotation (default: 0 for one game, "
                        f"{SERIES_OPENING} for a series)")
    parser.add_argument("-t", "--time-ms", type=ranged(0, 2**32 - 1, "the time"), default=0,
                        help="milliseconds credited to a player's clock before each of its "
                        "moves, like the server's -t (default: 0, no limit)")
    parser.add_argument("-d", "--depth", type=ranged(0, HIGHEST_DEPTH, "the depth"), default=0,
                        help="search depth limit passed to the bots (default: 0, no limit)")
    parser.add_argument("--seed", type=int, default=None,
                        help="seed of the openings and of the random bots, the n-th seat's bot "
                        "seeded seed + n (default: a new one every run)")
    parser.add_argument("--log-level", choices=LOG_LEVELS, default="warning",
                        help="least important log messages shown, on standard error; info "
                        "shows every move (default: %(default)s)")
    return parser


def _is_bot(item: str) -> bool:
    """A bot is an example bot's name or module:Class; anything else is a map file."""
    return item in BOTS or ":" in item


def _split(items: List[str]) -> Tuple[List[str], List[str]]:
    """(maps, bots) from the positional arguments; ValueError when they are not maps first,
    then bots."""
    count = next((k for k, item in enumerate(items) if _is_bot(item)), len(items))
    maps, bots = items[:count], items[count:]
    if not maps:
        raise ValueError("name a map file before the bots")
    if not bots:
        raise ValueError(f"name one bot per player: {', '.join(BOTS)} or module:Class")
    stray = next((item for item in bots if not _is_bot(item)), None)
    if stray is not None:
        raise ValueError(f"{stray!r} comes after the bots: name the maps first")
    return maps, bots


def _read_map(path: str) -> Board:
    """The board of the map file; OSError or MapError."""
    with open(path, "rb") as source:
        data = source.read(MAX_MAP_BYTES + 1)
    if len(data) > MAX_MAP_BYTES:
        raise MapError([f"the map file is longer than {MAX_MAP_BYTES} bytes"])
    # One character per byte, as the server reads it: a byte outside ASCII is never valid.
    return Board(parse_map(data.decode("latin-1")))


def _load_maps(paths: List[str]) -> List[Tuple[str, Board]]:
    """(name, board) of every map; OSError or MapError, the map named."""
    boards = []
    for path in paths:
        try:
            board = _read_map(path)
        except (OSError, MapError) as error:
            raise MapError([f"Cannot load the map {path}: {error}"]) from None
        if board.is_over():
            raise MapError([f"Nobody can move on the map {path}"])
        boards.append((os.path.splitext(os.path.basename(path))[0], board))
    return boards


def _one_match(board: Board, names: List[str], args) -> int:
    seed = args.seed
    bots = [load_bot(name, None if seed is None else seed + n)
            for n, name in enumerate(names, start=1)]
    match = LocalMatch(board, bots, args.time_ms, args.depth)
    scores = match.play()
    print(board.text(), end="")
    for player, score in enumerate(scores, start=1):
        text = "disqualified" if score < 0 else f"{score} stones"
        print(f"Player {player} ({match.seats[player - 1].bot.label()}): {text}")
    winner = board.winner()
    print("Winner: " + (f"player {winner}" if winner else "none"))
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    """Runs the command line (default: sys.argv[1:]) and returns the exit status."""
    parser = _parser()
    args = parser.parse_args(argv)
    setup_logging(args.log_level)
    try:
        paths, names = _split(args.items)
    except ValueError as error:
        parser.error(str(error))
    try:
        boards = _load_maps(paths)
    except MapError as error:
        print(error.faults[0], file=sys.stderr)
        return 1
    try:
        for name, board in boards:
            if board.players != len(names):
                raise ValueError(f"the map is for {board.players} players, "
                                 f"not {len(names)} ({name})")
        if args.games == 1 and len(boards) == 1 and not args.openings:
            return _one_match(boards[0][1], names, args)
        openings = SERIES_OPENING if args.openings is None else args.openings
        series = Series(boards, names, args.time_ms, args.depth, args.seed)
        series.play(args.games, openings)
    except ValueError as error:
        parser.error(str(error))
    series.summary()
    return 0


if __name__ == "__main__":
    sys.exit(main())
