"""The command line: python3 -m reversi_bot --host H --port P --bot greedy."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Callable, List, Mapping, Optional

from .bot import BOTS, Bot, load_bot
from .client import Client
from .logger import LOG_LEVELS, log, setup_logging
from .protocol import Connection

DEFAULT_HOST = "localhost"
DEFAULT_PORT = 7777
HOST_VARIABLE = "REVERSI_HOST"
"""The environment variable that gives the server's name when --host does not."""
PORT_VARIABLE = "REVERSI_PORT"
"""The environment variable that gives the server's port when --port does not."""
HIGHEST_PORT = 65535
HIGHEST_GROUP = 255


class Parser(argparse.ArgumentParser):
    """Refuses bad input with a message and status 1."""

    def error(self, message: str) -> None:
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: error: {message}\n")


def ranged(low: int, high: int, what: str) -> Callable[[str], int]:
    """An argparse type: a whole number from low to high, else a message naming `what`."""
    def convert(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{what} must be a whole number, not {text!r}")
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"{what} must lie from {low} to {high}, not {value}")
        return value
    return convert


def _parser(with_bot: bool, env: Mapping[str, str]) -> argparse.ArgumentParser:
    parser = Parser(prog="python3 -m reversi_bot",
                    description="Connects a bot to a match server and plays one match. "
                    "Exit status 0 after the game was played to its end, 1 otherwise.")
    parser.add_argument("--host", default=env.get(HOST_VARIABLE) or DEFAULT_HOST,
                        help=f"server name or address (default: ${HOST_VARIABLE}, else "
                        f"{DEFAULT_HOST})")
    parser.add_argument("--port", type=ranged(1, HIGHEST_PORT, "the port"),
                        default=env.get(PORT_VARIABLE) or str(DEFAULT_PORT),
                        help="server port, as the server prints it in \"OK. Port number is "
                        f"N\" (default: ${PORT_VARIABLE}, else {DEFAULT_PORT})")
    if with_bot:
        parser.add_argument("--bot", default="greedy", metavar="NAME|MODULE:CLASS",
                            help=f"the bot: {', '.join(BOTS)}, or a Bot subclass of your own "
                            "as module:Class, e.g. mybot:MyBot (default: %(default)s)")
    parser.add_argument("--group", type=ranged(0, HIGHEST_GROUP, "the group id"), default=1,
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


def main(argv: Optional[List[str]] = None, bot: Optional[Bot] = None,
         env: Optional[Mapping[str, str]] = None) -> int:
    """Runs the command line (default: sys.argv[1:]) and returns the exit status. With `bot`
    given, the --bot option is left out and that bot plays. `env` (default: os.environ) gives
    REVERSI_HOST and REVERSI_PORT; the options win over them."""
    parser = _parser(with_bot=bot is None, env=os.environ if env is None else env)
    args = parser.parse_args(argv)
    if bot is None:
        try:
            bot = load_bot(args.bot, args.seed)
        except ValueError as error:
            parser.error(str(error))
    setup_logging(args.log_level)
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
