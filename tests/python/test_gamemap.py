"""The map reader: every feature read and written back, and every fault reported."""

import unittest

from reversi_bot import MapError, Transition, parse_map

EXAMPLE = "2\n1\n1 2\n3 4\n- 0 1 -\n0 2 1 b\n- 0 c x\n1 0 0 <-> 1 2 4\n"


class MapReader(unittest.TestCase):
    def test_reads_every_feature_and_writes_the_same_text(self):
        game_map = parse_map(EXAMPLE)
        self.assertEqual((game_map.players, game_map.overrides, game_map.bombs,
                          game_map.bomb_strength, game_map.height, game_map.width),
                         (2, 1, 1, 2, 3, 4))
        self.assertEqual(game_map.rows, ("-01-", "021b", "-0cx"))
        self.assertEqual(game_map.transitions, (Transition(1, 0, 0, 1, 2, 4),))
        self.assertEqual(game_map.text(), EXAMPLE)
        # Line breaks carry no meaning; "08" is two cells and "<->" may follow a digit.
        squeezed = parse_map("2 1 1 2 3 4 -01- 0 2 1b -0cx 1 0 0<-> 1 2 4")
        self.assertEqual(squeezed.text(), EXAMPLE)
        self.assertEqual(parse_map("2 0 0 0 1 2 08").rows, ("08",))

    def test_reports_every_fault(self):
        cases = [
            ("1 0 0 0 1 2 1 2", "Invalid number of players: 1"),
            ("9 0 0 0 1 2 1 2", "Invalid number of players: 9"),
            ("2 256 0 0 1 2 1 2", "Invalid number of overrides: 256"),
            ("2 0 0 0 1 51 1 2", "Invalid map dimensions: (1 x 51)"),
            ("2 0 0 0 1 2 1 9", "Invalid tile at (1, 0)"),
            ("2 0 0 0 1 2 12 0", "Invalid tile at (0, 0)"),
            ("2 0 0 0 1 1", "Invalid tile at (0, 0)"),
            ("2 0 255 0 1 2 1 b", "Sum of bonus-fields and bombs too large: 256"),
            ("2 0 0 0 1 2 1 2 0 0 2 <-> 1 0 2", "(0, 0) does not face a hole or the edge"),
            ("2 0 0 0 1 2 1 2 0 0 6 <-> 1 0 2\n0 0 6 <-> 1 0 0", "Duplicate transition"),
            ("2 0 0 0 1 2 1 2 0 0 6 -> 1 0 2", "Transition separator invalid"),
            ("2 0 0 0 1 2 1 2 0 0 8 <-> 1 0 2", "Transition d1 invalid"),
            ("2 0 0 0 1 2 1 2 5 0 6 <-> 1 0 2", "(5, 0) lies off the board"),
        ]
        for text, fault in cases:
            with self.assertRaises(MapError, msg=text) as caught:
                parse_map(text)
            self.assertTrue(any(f.startswith(fault) or fault in f for f in caught.exception.faults),
                            f"{text}: {caught.exception.faults}")


if __name__ == "__main__":
    unittest.main()
