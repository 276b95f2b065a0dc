"""The kit's rules against the game model: random games on random maps with transitions,
special squares and bombs; at every position the player in turn, the phase, every legal move
and the board each one leads to must be the same on both sides. Players are disqualified
between moves and, as the server drops a player it cannot tell of a move, right after one."""

import os
import random
import subprocess
import tempfile
import unittest

from reversi_bot import Board, Bot, Client, Move, parse_map
from reversi_bot.protocol import Disqualification, MoveAnnouncement
from reversi_bot.gamemap import DIRECTION_STEPS

ORACLE = os.environ.get("REVERSI_RULES_ORACLE")
MAPS = 80
MAX_PLIES = 60


def random_map(rng: random.Random) -> str:
    """A valid map: 2 to 5 players, up to 9 x 9 cells, every kind of tile, and transitions
    between random sides that face a hole or the edge."""
    players = rng.randint(2, 5)
    height, width = rng.randint(2, 9), rng.randint(2, 9)
    tiles = ["-"] * 2 + ["0"] * 9 + [str(p) for p in range(1, players + 1)] * 3 + \
        ["c", "i", "b", "x", "7"]
    rows = [[rng.choice(tiles) for _ in range(width)] for _ in range(height)]
    gaps = [(x, y, d) for y in range(height) for x in range(width) if rows[y][x] != "-"
            for d, (dx, dy) in enumerate(DIRECTION_STEPS)
            if not (0 <= x + dx < width and 0 <= y + dy < height)
            or rows[y + dy][x + dx] == "-"]
    rng.shuffle(gaps)
    count = rng.randint(0, min(8, len(gaps) // 2))
    transitions = [f"{a[0]} {a[1]} {a[2]} <-> {b[0]} {b[1]} {b[2]}"
                   for a, b in zip(gaps[:count], gaps[count:2 * count])]
    header = [str(players), str(rng.randint(0, 2)), f"{rng.randint(0, 2)} {rng.randint(0, 2)}",
              f"{height} {width}"]
    return "\n".join(header + [" ".join(r) for r in rows] + transitions) + "\n"


def stock(board: Board) -> str:
    return "stock " + " ".join(f"{board.bombs[p]} {board.overrides[p]}"
                               for p in range(1, board.players + 1))


class OracleReader:
    """The oracle's output, line by line."""

    def __init__(self, text: str, height: int) -> None:
        self.lines = text.splitlines()
        self.at = 0
        self.height = height

    def line(self) -> str:
        self.at += 1
        return self.lines[self.at - 1]

    def peek(self) -> str:
        return self.lines[self.at]

    def board(self) -> str:
        rows = [self.line() for _ in range(self.height)]
        return "\n".join(rows) + "\n" + self.line()

    def move(self, word: str) -> Move:
        parts = self.line().split()
        assert parts[0] == word, parts
        return Move(*map(int, parts[1:]))


@unittest.skipUnless(ORACLE, "REVERSI_RULES_ORACLE names the game model's helper program")
class RulesAgainstTheGameModel(unittest.TestCase):
    def test_every_legal_move_and_every_resulting_board(self):
        rng = random.Random(15)
        with tempfile.TemporaryDirectory() as folder:
            for number in range(MAPS):
                text = random_map(rng)
                path = os.path.join(folder, f"map{number}.map")
                with open(path, "w") as out:
                    out.write(text)
                with self.subTest(map=text):
                    self.replay(text, path, rng.randrange(1 << 30))

    def replay(self, text: str, path: str, seed: int) -> None:
        result = subprocess.run([ORACLE, path, str(seed), str(MAX_PLIES)], capture_output=True,
                                text=True, check=True)
        board = Board(parse_map(text))
        oracle = OracleReader(result.stdout, board.height)
        while True:
            self.assertEqual(oracle.line(), f"position {board.to_move} {board.phase.value}")
            self.assertEqual(oracle.board(), board.text() + stock(board))
            word = oracle.line()
            if word == "end":
                return
            expected = []
            for _ in range(int(word.split()[1])):
                expected.append(oracle.move("move"))
                self.assertEqual(oracle.board(), self.after(board, expected[-1]),
                                 f"after {expected[-1]}")
            self.assertEqual(board.legal_moves(), expected)
            word, *values = oracle.line().split()
            if word == "disqualify":
                board.disqualify(int(values[0]))
                continue
            move = Move(*map(int, values))
            if not oracle.peek().startswith("dropped"):
                board.play(move)
                continue
            # The players after the dropped one hear of it before the move: the client must
            # put the two back in the server's order.
            dropped = int(oracle.line().split()[1])
            client = Client(Bot(), connection=None)
            client.board, client.me, client.started = board, 0, True
            mover = board.to_move
            for message in (Disqualification(dropped),
                            MoveAnnouncement(move.x, move.y, move.choice, mover)):
                self.assertTrue(client._handle(message))

    @staticmethod
    def after(board: Board, move: Move) -> str:
        after = board.after(move)
        return after.text() + stock(after)


if __name__ == "__main__":
    unittest.main()
