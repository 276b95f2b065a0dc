"""A kit for writing bots for the Reversi match server: the protocol, the map format, the
rules, and a client that plays a match for a Bot subclass.

The smallest bot::

    from reversi_bot import Bot, run

    class FirstMove(Bot):
        def choose_move(self, board, time_left_ms, depth):
            return board.legal_moves()[0]

    run(FirstMove())
"""

from .board import (BOMB, BONUS, CHOICE, EMPTY, EXPANSION, HOLE, INVERSION, NO_CHOICE, OVERRIDE,
                    Board, IllegalMove, Move, Phase)
from .bot import BOTS, Bot, GreedyBot, RandomBot, as_move, load_bot
from .cli import main, run
from .client import Client
from .gamemap import GameMap, MapError, Transition, parse_map
from .referee import LocalMatch
from .logger import log, setup_logging
from .protocol import Connection, ConnectionClosed, MessageTimeout, ProtocolError
from .timing import Deadline

__all__ = [
    "BOMB", "BONUS", "CHOICE", "EMPTY", "EXPANSION", "HOLE", "INVERSION", "NO_CHOICE",
    "OVERRIDE", "Board", "IllegalMove", "Move", "Phase", "BOTS", "Bot", "GreedyBot", "RandomBot",
    "as_move", "load_bot", "main", "run", "Client", "GameMap", "MapError", "Transition",
    "parse_map", "LocalMatch", "log", "setup_logging", "Connection", "ConnectionClosed",
    "MessageTimeout", "ProtocolError", "Deadline",
]
__version__ = "1.0.0"
