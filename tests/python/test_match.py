"""Whole matches through the real server: the kit's greedy bot against reference clients on
every example map. The bot must never be disqualified, and its board at the end must equal
the last board the server logged."""

import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = os.environ.get("REVERSI_SERVER_BIN")
CLIENT = os.environ.get("REVERSI_CLIENT_BIN")
MAPS = os.environ.get("REVERSI_MAPS")

# Map name: the seat of the kit's bot (its connection order) and the number of players.
SEATS = {"classic8": (1, 2), "quad10": (2, 4), "torus8": (2, 2), "bombs10": (3, 3),
         "big50": (5, 8)}
MATCH_SECONDS = 240


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(path: str, pattern: str, count: int = 1, seconds: float = 30) -> re.Match:
    """The count-th match of pattern in the file, waiting until it appears."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        with open(path) as text:
            found = list(re.finditer(pattern, text.read()))
        if len(found) >= count:
            return found[count - 1]
        time.sleep(0.02)
    raise AssertionError(f"{pattern!r} did not appear {count} times in {path}")


def board_after(text: str, marker: str, height: int) -> str:
    """The `height` lines that follow the last line ending in marker."""
    lines = text.splitlines()
    last = max(i for i, line in enumerate(lines) if line.endswith(marker))
    return "\n".join(lines[last + 1:last + 1 + height])


@unittest.skipUnless(SERVER and CLIENT and MAPS, "needs the server, the client and the maps")
class Match(unittest.TestCase):
    map_name = ""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait()
        self.folder.cleanup()

    def start(self, command, log_name, env=None):
        path = os.path.join(self.folder.name, log_name)
        with open(path, "w") as log:
            self.processes.append(subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT,
                                                   env=env))
        return path

    def test_greedy_bot_plays_to_the_end_in_step_with_the_server(self):
        seat, players = SEATS[self.map_name]
        map_path = os.path.join(MAPS, self.map_name + ".map")
        server_log = self.start([SERVER, map_path, "-t", "1", "-b", str(free_port())],
                                "server.log")
        port = wait_for(server_log, r"OK\. Port number is (\d+)\n").group(1)
        for k in range(1, players + 1):
            if k == seat:
                bot_log = self.start([sys.executable, "-m", "reversi_bot", "--host", "127.0.0.1",
                                      "--port", port, "--bot", "greedy"], "bot.log")
            else:
                strategy = "greedy" if k % 2 else "random"
                self.start([CLIENT, "-p", port, "-s", strategy, "--seed", str(k)],
                           f"client{k}.log")
            wait_for(server_log, "Client connected", k)

        server, bot = self.processes[0], self.processes[seat]
        server.wait(MATCH_SECONDS)
        bot.wait(30)
        with open(server_log) as text:
            server_text = text.read()
        with open(bot_log) as text:
            bot_text = text.read()
        self.assertEqual(server.returncode, 0, server_text)
        self.assertEqual(bot.returncode, 0, bot_text)
        self.assertNotIn("disqualified", server_text)
        self.assertNotIn("ERROR", bot_text)
        # Every disagreement of the kit's turn order or phase with the server's says so.
        self.assertNotIn("local board", bot_text)
        height = int(open(map_path).read().split()[4])
        self.assertEqual(board_after(bot_text, "Final board:", height),
                         board_after(server_text, "Board", height))


# One test class per example map, so that CTest can run them side by side.
for _name in SEATS:
    globals()[f"MatchOn_{_name}"] = type(f"MatchOn_{_name}", (Match,), {"map_name": _name})
del Match

if __name__ == "__main__":
    unittest.main()
