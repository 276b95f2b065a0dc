"""The command line: python3 -m reversi_bot --host H --port P --bot greedy."""

from __future__ import annotations

import argparse
import importlib
import logging
import sys
from typing import List, Optional

from .bot import BOTS, Bot
from .client import Client
from .protocol import Connection

LOG_LEVELS = ("debug", "info", "warning", "error")


class _Parser(argparse.ArgumentParser):
    """Refuses bad input with a message and status 1."""

    def error(self, message: str) -> None:
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: error: {message}\n")


def _ranged(low: int, high: int, what: str):
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be a whole number, not {text!r}")
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"{what} must lie from {low} to {high}, not {value}")
        return value
    return convert


def _parser(with_bot: bool) -> argparse.ArgumentParser:
    parser = _Parser(prog="python3 -m reversi_bot",
                     description="Connects a bot to a match server and plays one match. "
                     "Exit status 0 after the game was played to its end, 1 otherwise.")
    parser.add_argument("--host", default="localhost",
                        help="server name or address (default: %(default)s)")
    parser.add_argument("--port", type=_ranged(1, 65535, "the port"), default=7777,
                        help="server port, as the server prints it in \"OK. Port number is "
                        "N\" (default: %(default)s)")
    if with_bot:
        parser.add_argument("--bot", default="greedy", metavar="NAME|MODULE:CLASS",
                            help="the bot: random, greedy, or a Bot subclass of your own as "
                            "module:Class, e.g. mybot:MyBot (default: %(default)s)")
    parser.add_argument("--group", type=_ranged(0, 255, "the group id"), default=1,
                        help="group id sent to the server, 0 to 255; 255 marks a human "
                        "player, whose time the server does not limit (default: %(default)s)")
    parser.add_argument("--seed", type=int, default=None,
                        help="random seed of the random bot (default: a new one every run)")
    parser.add_argument("--connect-timeout", type=float, default=10.0, metavar="SECONDS",
                        help="give up when the server does not accept the connection within "
                        "this time (default: %(default)s)")
    parser.add_argument("--log-level", choices=LOG_LEVELS, default="info",
                        help="least important log messages shown, on standard error "
                        "(default: %(default)s)")
    return parser


def _load_bot(name: str, seed: Optional[int]) -> Bot:
    """The named example bot, or module:Class; ValueError with the reason."""
    if name in BOTS:
        return BOTS[name](seed) if name == "random" else BOTS[name]()
    module_name, _, class_name = name.partition(":")
    if not module_name or not class_name:
        raise ValueError(f"unknown bot {name!r}: choose {', '.join(BOTS)} or module:Class")
    try:
        cls = getattr(importlib.import_module(module_name), class_name)
    except (ImportError, AttributeError) as error:
        raise ValueError(f"cannot load the bot {name}: {error}") from None
    if not (isinstance(cls, type) and issubclass(cls, Bot)):
        raise ValueError(f"{name} is not a subclass of reversi_bot.Bot")
    return cls()


def main(argv: Optional[List[str]] = None, bot: Optional[Bot] = None) -> int:
    """Runs the command line (default: sys.argv[1:]) and returns the exit status. With `bot`
    given, the --bot option is left out and that bot plays."""
    parser = _parser(with_bot=bot is None)
    args = parser.parse_args(argv)
    if bot is None:
        try:
            bot = _load_bot(args.bot, args.seed)
        except ValueError as error:
            parser.error(str(error))
    logging.basicConfig(level=args.log_level.upper(), stream=sys.stderr,
                        format="[%(levelname)5s] %(asctime)s %(message)s", datefmt="%H:%M:%S")
    log = logging.getLogger("reversi_bot")
    log.info("Connecting to %s port %d", args.host, args.port)
    try:
        connection = Connection.connect(args.host, args.port, args.connect_timeout)
    except OSError as error:
        log.error("Could not connect to the server at %s port %d: %s", args.host, args.port,
                  error)
        return 1
    return 0 if Client(bot, connection, args.group).play() else 1


def run(bot: Bot, argv: Optional[List[str]] = None) -> None:
    """Plays one match with `bot`, configured by the command line, and exits with its status."""
    sys.exit(main(argv, bot))
