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
from .bot import BOTS, Bot, GreedyBot, RandomBot
from .cli import main, run
from .client import Client
from .gamemap import GameMap, MapError, Transition, parse_map
from .protocol import Connection, MessageTimeout, ConnectionClosed, ProtocolError

__all__ = [
    "BOMB", "BONUS", "CHOICE", "EMPTY", "EXPANSION", "HOLE", "INVERSION", "NO_CHOICE",
    "OVERRIDE", "Board", "IllegalMove", "Move", "Phase", "BOTS", "Bot", "GreedyBot", "RandomBot",
    "main", "run", "Client", "GameMap", "MapError", "Transition", "parse_map", "Connection",
    "MessageTimeout", "ConnectionClosed", "ProtocolError",
]
__version__ = "1.0.0"
