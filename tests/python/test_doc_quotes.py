"""Every line of the documents that quotes the server's console must be a line the server
really prints. The server plays a seven-player match on a small map in which five players
misbehave in five ways (so that every disqualification reason a test can provoke appears),
is started with a repeated option and on a map nobody can move on; each double-quoted text of
the documents (outside code, and other than a section name) must then match a console line.
In a quote a single letter stands for any word or number, a number for any number, and "..."
for anything."""

import os
import re
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from reversi_bot.protocol import Connection, MoveRequest, encode_group_id, encode_move

SERVER = os.environ.get("REVERSI_SERVER_BIN")
CLIENT = os.environ.get("REVERSI_CLIENT_BIN")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
DOCUMENTS = ["README.md", "docs/protocol.md", "docs/rules.md", "maps/README.md"]

# Reasons only a failed send gives: the test finds them in the server's sources instead.
SEND_FAILURES = {"Failed to propagate move", "Failed to send TERM to player",
                 "Failed to send FIN to player", "Failed to send moverequest to player",
                 "Failed to propagate disqualification to player", "Failed to send board"}

# Seven rows of three cells between rows of holes: on row k, player k + 1 can capture.
PLAYERS = 7
SCENARIO_MAP = f"{PLAYERS}\n0\n1 0\n{2 * PLAYERS - 1} 3\n" + "- - -\n".join(
    f"0 {p % PLAYERS + 1} {p}\n" for p in range(1, PLAYERS + 1))
FINAL_MAP = "2\n0\n0 0\n1 2\n1 2\n"
TIME_LIMIT = "1"
WAIT_SECONDS = 60


def fake_client(port: int, behaviour: str) -> None:
    """A client that misbehaves at its first move request (or before its group id)."""
    with Connection.connect("127.0.0.1", port) as connection:
        if behaviour == "no group id":
            return
        connection.send(encode_group_id(1))
        try:
            while not isinstance(connection.receive(WAIT_SECONDS), MoveRequest):
                pass
            if behaviour == "illegal":
                connection.send(encode_move(60000, 0, 0))
            elif behaviour == "silent":
                time.sleep(1)
            elif behaviour == "wrong message":
                connection.send(encode_group_id(1))
            elif behaviour == "vanish":
                return
            connection.receive(WAIT_SECONDS)
        except Exception:  # the server closed the connection: what the test waits for
            return


def strip_colours(text: str) -> str:
    return re.sub(r"\x1b\[[0-9;]*m", "", text)


def console_of_scenario(folder: str) -> str:
    map_path = os.path.join(folder, "scenario.map")
    with open(map_path, "w") as out:
        out.write(SCENARIO_MAP)
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        base = probe.getsockname()[1]
    log_path = os.path.join(folder, "server.log")
    with open(log_path, "w") as log:
        server = subprocess.Popen([SERVER, map_path, "-t", TIME_LIMIT, "-b", str(base),
                                   "--nocolor"], stdout=log, stderr=subprocess.STDOUT)
    helpers = []
    try:
        port = int(wait_for(log_path, r"Port number is (\d+)\n", 1).group(1))
        plan = ["no group id", "illegal", "silent", "wrong message", "vanish", "greedy",
                "random"]
        for seat, behaviour in enumerate(plan, start=1):
            if behaviour in ("greedy", "random"):
                helpers.append(subprocess.Popen([CLIENT, "-p", str(port), "-s", behaviour],
                                                stdout=subprocess.DEVNULL,
                                                stderr=subprocess.DEVNULL))
            else:
                thread = threading.Thread(target=fake_client, args=(port, behaviour),
                                          daemon=True)
                thread.start()
            wait_for(log_path, "Client connected", seat)
        server.wait(WAIT_SECONDS)
    finally:
        for process in [server] + helpers:
            if process.poll() is None:
                process.kill()
            process.wait()
    with open(log_path, errors="replace") as log:
        return log.read()


def wait_for(path: str, pattern: str, count: int) -> re.Match:
    end = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < end:
        with open(path, errors="replace") as text:
            found = list(re.finditer(pattern, text.read()))
        if len(found) >= count:
            return found[count - 1]
        time.sleep(0.02)
    raise AssertionError(f"{pattern!r} did not appear {count} times in the server's console")


def console_of_refusals(folder: str) -> str:
    final_path = os.path.join(folder, "final.map")
    with open(final_path, "w") as out:
        out.write(FINAL_MAP)
    text = ""
    for argv in ([final_path, "-t", "1", "-w", "1", "--nocolor", "--nocolor"],
                 [final_path, "-t", "1", "-w", "1"]):
        run = subprocess.run([SERVER] + argv, capture_output=True, text=True, timeout=30)
        text += run.stdout + run.stderr
    return text


def quotes(path: str) -> list:
    """The double-quoted texts of a document outside code, white space made single."""
    kept, previous_blank, in_fence = [], True, False
    with open(path) as source:
        for line in source:
            if line.lstrip().startswith("```"):
                in_fence = not in_fence
                continue
            indented_code = line.startswith("    ") and previous_blank
            previous_blank = not line.strip() or indented_code
            if not in_fence and not indented_code:
                kept.append(line)
    text = re.sub(r"`[^`]*`", "", " ".join(kept))
    return [" ".join(q.split()) for q in re.findall(r'"([^"]*)"', text)]


def headings() -> list:
    found = []
    for name in DOCUMENTS:
        with open(os.path.join(ROOT, name)) as source:
            found += [line.lstrip("#").strip() for line in source if line.startswith("#")]
    return found


def pattern_of(quote: str) -> str:
    parts = []
    for token in re.findall(r"\.\.\.|\b[A-Za-z]\b|\d+|.", quote):
        if token == "...":
            parts.append(".*")
        elif re.fullmatch(r"[A-Za-z]", token):
            parts.append(r"\w+")
        elif token.isdigit():
            parts.append(r"\d+")
        else:
            parts.append(re.escape(token))
    return "".join(parts)


def server_sources() -> str:
    """The server's sources and the shared header that holds its reason texts."""
    folder = os.path.join(ROOT, "src", "server")
    files = [os.path.join(folder, name) for name in sorted(os.listdir(folder))]
    files.append(os.path.join(ROOT, "src", "common", "ServerFacts.h"))
    text = ""
    for path in files:
        with open(path) as source:
            text += source.read()
    return text


@unittest.skipUnless(SERVER and CLIENT, "needs the server and the reference client")
class DocumentsQuoteTheRealConsole(unittest.TestCase):
    def test_every_quoted_console_line_is_printed_by_the_server(self):
        with tempfile.TemporaryDirectory() as folder:
            console = strip_colours(console_of_scenario(folder) + console_of_refusals(folder))
        lines = console.splitlines()
        sections = headings()
        sources = server_sources()
        checked = 0
        for name in DOCUMENTS:
            for quote in quotes(os.path.join(ROOT, name)):
                if any(h.startswith(quote) for h in sections):
                    continue
                checked += 1
                with self.subTest(document=name, quote=quote):
                    if quote in SEND_FAILURES:
                        self.assertIn(f'"{quote}"', sources)
                        continue
                    pattern = re.compile(pattern_of(quote))
                    self.assertTrue(any(pattern.search(line) for line in lines),
                                    f"no console line matches {pattern.pattern!r}")
        self.assertGreater(checked, 20)


if __name__ == "__main__":
    unittest.main()
