"""The bot interface and two example bots."""

from __future__ import annotations

import importlib
import importlib.machinery
import types
import os
import random
import sys
from typing import Optional

from .board import Board, Move


class Bot:
    """A player. Subclass it and implement choose_move; nothing else is needed."""

    name = ""
    """The bot's name in the log; empty: the name of its class."""

    def label(self) -> str:
        """How the log names the bot: "the greedy bot", or "the bot mybot.MyBot" for a class
        without a name of its own."""
        if self.name:
            return f"the {self.name} bot"
        cls = type(self)
        return f"the bot {cls.__module__}.{cls.__qualname__}"

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


def as_move(answer) -> Optional[Move]:
    """A bot's answer as a Move: a Move, or a tuple (x, y) or (x, y, choice), of whole numbers;
    None for anything else."""
    if isinstance(answer, Move):
        answer = (answer.x, answer.y, answer.choice)
    if isinstance(answer, tuple) and len(answer) in (2, 3) and all(
            isinstance(v, int) for v in answer):
        return Move(*answer)
    return None


def _import(module_name: str):
    """A module by its name, or from a file when the name is a path ("bots/mine.py" or
    "bots/mine"); the file's folder is put on sys.path first, so that it imports its
    neighbours as it would when run from there."""
    if "/" not in module_name and os.sep not in module_name and not module_name.endswith(".py"):
        return importlib.import_module(module_name)
    path = module_name if module_name.endswith(".py") else module_name + ".py"
    if not os.path.isfile(path):
        raise ImportError(f"no file {path}")
    folder = os.path.dirname(os.path.abspath(path))
    if folder not in sys.path:
        sys.path.insert(0, folder)
    stem = os.path.splitext(os.path.basename(path))[0]
    loaded = sys.modules.get(stem)
    if loaded is not None and getattr(loaded, "__file__", None) == os.path.abspath(path):
        return loaded
    loader = importlib.machinery.SourceFileLoader(stem, path)
    module = types.ModuleType(stem)
    module.__file__ = os.path.abspath(path)
    sys.modules[stem] = module
    loader.exec_module(module)
    return module


def load_bot(name: str, seed: Optional[int] = None) -> Bot:
    """A new bot: an example bot by its name in BOTS (`seed` seeds the random one), or a Bot
    subclass of your own as "module:Class", where the module may be a file's path
    ("bots/mine.py:Mine"); ValueError with the reason otherwise."""
    if name in BOTS:
        return BOTS[name](seed) if name == "random" else BOTS[name]()
    module_name, _, class_name = name.rpartition(":")
    if not module_name or not class_name:
        raise ValueError(f"unknown bot {name!r}: choose {', '.join(BOTS)} or module:Class")
    try:
        cls = getattr(_import(module_name), class_name)
    except (ImportError, AttributeError, SyntaxError) as error:
        raise ValueError(f"cannot load the bot {name}: {error}") from None
    if not (isinstance(cls, type) and issubclass(cls, Bot)):
        raise ValueError(f"{name} is not a subclass of reversi_bot.Bot")
    return cls()
