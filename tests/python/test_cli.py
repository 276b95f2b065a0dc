"""The command line, and what the package's log tells a bot author before and after the
server disqualifies the bot (against a scripted server)."""

import contextlib
import io
import socket
import struct
import threading
import time
import unittest

from reversi_bot import Bot, Move, main

CLASSIC = ("2\n0\n0 0\n8 8\n" + "0 0 0 0 0 0 0 0\n" * 3 + "0 0 0 2 1 0 0 0\n"
           "0 0 0 1 2 0 0 0\n" + "0 0 0 0 0 0 0 0\n" * 3).encode()


def message(msg_type: int, payload: bytes = b"") -> bytes:
    return struct.pack(">BI", msg_type, len(payload)) + payload


class ScriptedServer(threading.Thread):
    """Accepts one client, reads its group id, then sends the map, player number 1 and a move
    request with 100 ms; reads the answer, then disqualifies player 1. With `vanish` it closes
    the connection right after the player number instead."""

    def __init__(self, vanish: bool = False) -> None:
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.vanish = vanish
        self.answer = b""

    def run(self) -> None:
        connection, _ = self.listener.accept()
        with connection, self.listener:
            connection.recv(6)
            connection.sendall(message(2, CLASSIC) + message(3, b"\x01"))
            if self.vanish:
                return
            connection.sendall(message(4, struct.pack(">IB", 100, 0)))
            while len(self.answer) < 10:
                self.answer += connection.recv(10)
            connection.sendall(message(7, b"\x01"))


class Corner(Bot):
    def choose_move(self, board, time_left_ms, depth):
        return Move(0, 0)


class Slow(Bot):
    def choose_move(self, board, time_left_ms, depth):
        time.sleep(0.3)
        return board.legal_moves()[0]


def run(argv, bot=None):
    """Exit status, standard error."""
    errors = io.StringIO()
    with contextlib.redirect_stderr(errors):
        try:
            status = main(argv, bot)
        except SystemExit as leaving:
            status = leaving.code
    return status, errors.getvalue()


class CommandLine(unittest.TestCase):
    def test_help_names_every_option(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status, _ = run(["--help"])
        self.assertEqual(status, 0)
        for option in ["--host", "--port", "--bot", "--group", "--seed", "--connect-timeout",
                       "--log-level"]:
            self.assertIn(option, out.getvalue())

    def test_bad_input_is_a_message_and_status_1(self):
        cases = [
            (["--port", "0"], "the port must lie from 1 to 65535, not 0"),
            (["--port", "x"], "the port must be a whole number"),
            (["--group", "256"], "the group id must lie from 0 to 255"),
            (["--bot", "clever"], "unknown bot 'clever'"),
            (["--bot", "no_such_module:Bot"], "cannot load the bot no_such_module:Bot"),
            (["--bot", "reversi_bot:Move"], "reversi_bot:Move is not a subclass"),
            (["stray"], "unrecognized arguments: stray"),
        ]
        for argv, text in cases:
            status, errors = run(argv)
            self.assertEqual(status, 1, argv)
            self.assertIn(text, errors, argv)

    def test_no_server_is_status_1_with_the_reason(self):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with self.assertLogs("reversi_bot") as logs:
            status, _ = run(["--host", "127.0.0.1", "--port", str(port)])
        self.assertEqual(status, 1)
        self.assertIn(f"Could not connect to the server at 127.0.0.1 port {port}",
                      "\n".join(logs.output))


class WhatTheLogTells(unittest.TestCase):
    def test_the_log_says_why_before_the_server_disqualifies(self):
        cases = [
            (Corner(), False, ["The bot chose an illegal move (0, 0): a stone of player 1 at "
                               "(0, 0) would enclose no line of other stones",
                               "This bot was disqualified by the server (the package saw: "
                               "illegal move (0, 0)"]),
            (Slow(), False, ["The bot is still thinking after its whole budget of 100 ms",
                             "but only 100 ms were left: the server disqualifies the bot for a "
                             "timeout"]),
            (Corner(), True, ["The server went away or broke the protocol: the server closed "
                              "the connection"]),
        ]
        for bot, vanish, texts in cases:
            server = ScriptedServer(vanish)
            server.start()
            with self.assertLogs("reversi_bot") as logs:
                status, _ = run(["--host", "127.0.0.1", "--port", str(server.port)], bot)
            server.join(5)
            self.assertEqual(status, 1)
            for text in texts:
                self.assertIn(text, "\n".join(logs.output))
            if not vanish:
                self.assertEqual(len(server.answer), 10)


if __name__ == "__main__":
    unittest.main()
