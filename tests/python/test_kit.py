"""The kit's own API: take-backs, the end of the game, the clock helper, the local match
runner, the server's address from the environment, the bot's name in the log, and the turn
after a player dropped while a move was being announced."""

import contextlib
import io
import os
import random
import re
import tarfile
import tempfile
import time
import unittest

from reversi_bot import (Board, Bot, Client, Deadline, IllegalMove, Move, Phase, as_move,
                         main, parse_map)
from reversi_bot.local import main as local_main
from reversi_bot.pack import main as pack_main, pack
from reversi_bot.series import opening
from reversi_bot.protocol import (Disqualification, Fin, MapText, MoveAnnouncement,
                                  PlayerNumber)

# Player 1 plays (0, 4), is in turn again and plays (1, 0); then only player 3 can place a
# stone, at (0, 0).
DROP_MAP = "4\n0\n1 0\n5 3\n0 0 3\n- 2 -\n- 1 -\n- - -\n0 2 1\n"
LINE = "2 0 0 0 1 4 0 2 1 0"


class Scripted:
    """A connection that hands out a fixed list of messages and keeps what is sent."""

    def __init__(self, messages):
        self.messages = list(messages)
        self.sent = []

    def send(self, data):
        self.sent.append(data)

    def receive(self, timeout=None):
        return self.messages.pop(0)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        pass


class Board_(unittest.TestCase):
    def test_push_and_pop_restore_every_part_of_the_position(self):
        board = Board(parse_map("2 1 1 1 1 5 0 2 1 2 b"))
        before = (board.text(), board.to_move, board.phase, list(board.bombs),
                  list(board.overrides))
        board.push(Move(4, 0, 20))
        self.assertEqual((board.to_move, board.bombs[1]), (2, 2))
        board.push(Move(4, 0))  # over a stone of player 1: player 2's override stone
        self.assertNotEqual(board.text(), before[0])
        board.pop()
        board.pop()
        self.assertEqual((board.text(), board.to_move, board.phase, board.bombs,
                          board.overrides), before)
        with self.assertRaises(IllegalMove):
            board.push(Move(1, 0))
        with self.assertRaises(IndexError):
            board.pop()
        self.assertEqual(board.copy()._history, [])

    def test_the_end_the_winner_and_the_leader(self):
        board = Board(parse_map(LINE))
        self.assertEqual((board.is_over(), board.winner(), board.leader()), (False, None, 1))
        board.play(Move(0, 0))
        self.assertEqual((board.is_over(), board.winner(), board.scores()), (True, 1, [3, 0]))
        tie = Board(parse_map("3 0 0 0 1 6 1 2 3 0 2 3"))
        tie.disqualify(1)
        self.assertEqual(tie.leader(), 2)  # 2 and 3 hold two stones each: the lower number

    def test_stones_of_a_player_the_map_does_not_have_is_an_error(self):
        board = Board(parse_map(LINE))
        self.assertEqual(board.stones(2), 1)
        for player in (0, 3, 9):
            with self.assertRaises(ValueError):
                board.stones(player)


class DeadlineHelper(unittest.TestCase):
    def test_budget_and_expiry(self):
        self.assertEqual(Deadline.for_move(1000).budget_ms, 470)
        self.assertEqual(Deadline.for_move(40).budget_ms, 0)
        self.assertTrue(Deadline.for_move(40).expired())
        unlimited = Deadline.for_move(0)
        self.assertFalse(unlimited.expired())
        self.assertEqual(unlimited.left_ms(), float("inf"))
        short = Deadline(20)
        self.assertFalse(short.expired())
        time.sleep(0.03)
        self.assertTrue(short.expired())


class Raiser(Bot):
    def choose_move(self, board, time_left_ms, depth):
        raise RuntimeError("no idea")


class AnswersOfBots(unittest.TestCase):
    def test_only_whole_numbers_make_a_move(self):
        cases = [(Move(1, 2), Move(1, 2)), ((1, 2), Move(1, 2)), ((1, 2, 21), Move(1, 2, 21)),
                 (Move(1.5, 2), None), ((1, "2"), None), ((1,), None), ([1, 2], None),
                 (None, None)]
        for answer, move in cases:
            self.assertEqual(as_move(answer), move, answer)


class LocalRunner(unittest.TestCase):
    def run_local(self, map_text, *argv):
        with tempfile.NamedTemporaryFile("w", suffix=".map", delete=False) as out:
            out.write(map_text)
        self.addCleanup(os.unlink, out.name)
        stdout, stderr = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(stdout), contextlib.redirect_stderr(stderr):
            try:
                status = local_main([out.name, *argv])
            except SystemExit as leaving:
                status = leaving.code
        return status, stdout.getvalue(), stderr.getvalue()

    def test_plays_to_the_end_and_reports(self):
        status, out, _ = self.run_local(LINE, "greedy", "random", "--seed", "1", "-t", "1000")
        self.assertEqual(status, 0)
        self.assertEqual(out, "1110\nPlayer 1 (the greedy bot): 3 stones\n"
                         "Player 2 (the random bot): 0 stones\nWinner: player 1\n")

    def test_a_failing_bot_is_disqualified_and_bad_input_refused(self):
        with self.assertLogs("reversi_bot") as logs:
            status, out, err = self.run_local(LINE, "test_kit:Raiser", "greedy")
        self.assertEqual(status, 0)
        self.assertIn("Player 1 (the bot test_kit.Raiser): disqualified", out)
        self.assertIn("Player 1 disqualified: the bot raised an exception", "\n".join(logs.output))
        cases = [((LINE, "greedy"), "the map is for 2 players, not 1"),
                 (("2 0 0 0 1 2 1 9", "greedy", "greedy"), "Cannot load the map"),
                 (("2 0 0 0 1 2 1 2", "greedy", "greedy"), "Nobody can move on the map")]
        for args, text in cases:
            status, _, err = self.run_local(*args)
            self.assertEqual(status, 1, args)
            self.assertIn(text, err, args)


SQUARE = "2\n0\n0 0\n6 6\n0 0 0 0 0 0\n0 0 0 0 0 0\n0 0 1 2 0 0\n0 0 2 1 0 0\n" \
         "0 0 0 0 0 0\n0 0 0 0 0 0\n"


class LocalSeries(LocalRunner):
    def test_seats_rotate_and_the_summary_adds_up(self):
        status, out, _ = self.run_local(SQUARE, "greedy", "random", "--games", "4", "--seed", "7")
        self.assertEqual(status, 0)
        games = [line for line in out.splitlines() if line.startswith("Game ")]
        self.assertEqual(len(games), 4)
        firsts = [line.split(": ", 1)[1].split(" ")[1] for line in games]
        self.assertEqual(firsts, ["greedy", "random", "greedy", "random"])
        self.assertIn("(4 plies of opening)", games[0])
        rows = {line.split()[1]: line.split()[2:] for line in out.splitlines()
                if line.startswith(("1 greedy", "2 random"))}
        for name in ("greedy", "random"):
            played, wins, draws, losses = (int(v) for v in rows[name][:4])
            self.assertEqual((played, wins + draws + losses), (4, 4), out)
        self.assertEqual(sum(float(r[4]) for r in rows.values()), 4.0, out)
        _, again, _ = self.run_local(SQUARE, "greedy", "random", "--games", "4", "--seed", "7")
        self.assertEqual(re.sub(r" on \S+ ", " ", again), re.sub(r" on \S+ ", " ", out))

    def test_openings_differ_and_disqualifications_are_counted(self):
        board = Board(parse_map(SQUARE))
        rng = random.Random(1)
        openings = {tuple(opening(board, 4, rng)) for _ in range(6)}
        self.assertGreater(len(openings), 1)
        self.assertTrue(all(len(o) == 4 for o in openings))
        with self.assertLogs("reversi_bot"):
            status, out, _ = self.run_local(SQUARE, "test_kit:Raiser", "greedy", "-n", "2")
        self.assertEqual(status, 0)
        self.assertRegex(out, r"1 test_kit:Raiser +2 +0 +0 +2 +0\.0 +2\n")
        self.assertIn("1 test_kit:Raiser disqualified 2x: the bot raised an exception", out)

    def test_a_bot_loads_from_a_path_and_bad_lists_are_refused(self):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "helper_for_path_bot.py"), "w") as helper:
                helper.write("FIRST = 0\n")
            with open(os.path.join(folder, "path_bot.py"), "w") as source:
                source.write("from reversi_bot import Bot\nfrom helper_for_path_bot import FIRST"
                             "\n\n\nclass Mine(Bot):\n    def choose_move(self, board, t, d):\n"
                             "        return board.legal_moves()[FIRST]\n")
            for named in (os.path.join(folder, "path_bot.py:Mine"),
                          os.path.join(folder, "path_bot:Mine")):
                status, out, err = self.run_local(SQUARE, named, "greedy")
                self.assertEqual(status, 0, err)
                self.assertIn("Player 1 (the bot path_bot.Mine):", out)
        cases = [(("greedy", "random", "extra.map"), "comes after the bots"),
                 (("greedy", "nowhere/bot.py:Bot"), "no file nowhere/bot.py"),
                 (("--games", "0", "greedy", "greedy"), "the number of games must lie from 1")]
        for args, text in cases:
            status, _, err = self.run_local(SQUARE, *args)
            self.assertEqual(status, 1, args)
            self.assertIn(text, err, args)


class Packing(unittest.TestCase):
    def test_a_bot_is_packed_with_the_kit_and_a_run_script(self):
        with tempfile.TemporaryDirectory() as folder:
            bot = os.path.join(folder, "bot")
            os.makedirs(os.path.join(bot, "__pycache__"))
            with open(os.path.join(bot, "mine.py"), "w") as source:
                source.write("from reversi_bot import GreedyBot as Mine\n")
            out = os.path.join(folder, "bot.tar.gz")
            self.assertEqual(pack_main([bot, "--bot", "mine:Mine", "-o", out]), 0)
            with tarfile.open(out) as archive:
                names = archive.getnames()
                run = archive.extractfile("run").read().decode()
            self.assertIn("mine.py", names)
            self.assertIn("reversi_bot/board.py", names)
            self.assertFalse(any("__pycache__" in n for n in names), names)
            self.assertEqual(run, '#!/bin/sh\nexec python3 -m reversi_bot --bot mine:Mine "$@"\n')
            with self.assertRaisesRegex(ValueError, "no run script"):
                pack(bot, None, out)
            with open(os.path.join(bot, "run"), "w") as script:
                script.write("exec python3 mine.py\n")
            with self.assertRaisesRegex(ValueError, "has a run script already"):
                pack(bot, "mine:Mine", out)


class Environment(unittest.TestCase):
    def test_host_and_port_come_from_the_environment_unless_given(self):
        env = {"REVERSI_HOST": "127.0.0.1", "REVERSI_PORT": "1"}
        cases = [([], "Connecting to 127.0.0.1 port 1"),
                 (["--port", "2"], "Connecting to 127.0.0.1 port 2"),
                 (["--host", "localhost"], "Connecting to localhost port 1")]
        for argv, text in cases:
            with self.assertLogs("reversi_bot") as logs:
                status = main(argv + ["--connect-timeout", "1"], Bot(), env)
            self.assertEqual(status, 1)
            self.assertIn(text, "\n".join(logs.output))
        with contextlib.redirect_stderr(io.StringIO()) as err, self.assertRaises(SystemExit):
            main([], Bot(), {"REVERSI_PORT": "seven"})
        self.assertIn("the port must be a whole number, not 'seven'", err.getvalue())


class Named(Bot):
    name = "careful"


class ClientTurns(unittest.TestCase):
    def play(self, bot, messages):
        client = Client(bot, Scripted(messages + [Fin()]))
        with self.assertLogs("reversi_bot") as logs:
            self.assertTrue(client.play())
        return client, "\n".join(logs.output)

    def test_the_log_names_the_bot(self):
        start = [MapText(LINE), PlayerNumber(2)]
        for bot, text in [(Bot(), "with the bot reversi_bot.bot.Bot"),
                          (Named(), "with the careful bot")]:
            self.assertIn(f"Playing as player 2 {text}", self.play(bot, start)[1])

    def test_a_player_dropped_while_a_move_is_announced_leaves_the_turn_as_the_server_does(self):
        # The server applies player 1's move (the turn goes to player 3), fails to send it to
        # player 3 and drops it: the bombing phase begins after player 3, with player 4.
        # Player 4 hears of the drop before the move.
        start = [MapText(DROP_MAP), PlayerNumber(4), MoveAnnouncement(0, 4, 0, 1)]
        client, log = self.play(Bot(), start + [Disqualification(3),
                                                MoveAnnouncement(1, 0, 0, 1)])
        self.assertEqual((client.board.phase, client.board.to_move), (Phase.BOMBING, 4))
        self.assertNotIn("local board", log)
        # Player 2 hears of it after the move: the same turn.
        client, _ = self.play(Bot(), [MapText(DROP_MAP), PlayerNumber(2),
                                      MoveAnnouncement(0, 4, 0, 1), MoveAnnouncement(1, 0, 0, 1),
                                      Disqualification(3)])
        self.assertEqual((client.board.phase, client.board.to_move), (Phase.BOMBING, 4))
        # A player dropped in turn, then the next player's move: the drop came first.
        client, log = self.play(Bot(), start + [MoveAnnouncement(1, 0, 0, 1),
                                                Disqualification(3), MoveAnnouncement(0, 0, 0, 4)])
        self.assertEqual((client.board.to_move, client.board.cells[:3]), (1, [255, 1, 3]))
        self.assertNotIn("local board", log)


if __name__ == "__main__":
    unittest.main()
