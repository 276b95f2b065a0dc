"""The kit's map reader against the server's, on maps at the edges of the format: both must
accept or refuse each one, as the table says."""

import os
import subprocess
import tempfile
import unittest

from reversi_bot import MapError, parse_map

ORACLE = os.environ.get("REVERSI_RULES_ORACLE")

# One row of two cells; (0, 0) faces the edge to the west (6), (1, 0) to the east (2).
BASE = b"2 0 0 0 1 2 1 2"
LINK = b" 0 0 6 <-> 1 0 2"

# (what, map bytes, accepted)
CASES = [
    ("plain", BASE + LINK + b"\n", True),
    ("carriage returns, tabs and vertical tabs", BASE.replace(b" ", b"\r\n\t\v") + b"\r\n", True),
    ("a trailing 0x1A", BASE + LINK + b"\n\x1a", True),
    ("0x1A where a transition would start, then anything", BASE + b"\x1a 0 0 6 <- junk", True),
    ("0x1A inside a transition", BASE + b" 0 0 6 <-> 1 0 \x1a", False),
    ("0x1A among the cells", b"2 0 0 0 1 2 1 \x1a", False),
    ("the last transition cut short", BASE + LINK + b"\n0 0 7 <-> 1 0", True),
    ("the last transition cut short before a line break", BASE + b" 0 0 6 <-> 1 0\n", True),
    ("the last transition cut inside its separator", BASE + b" 0 0 6 <-", True),
    ("a bad separator with more after it", BASE + b" 0 0 6 <- 1 0 2", False),
    ("a separator glued to the next number", BASE + b" 0 0 6 <->1 0 2", False),
    ("direction 8 at the very end", BASE + b" 0 0 6 <-> 1 0 8", True),
    ("direction 8 before a line break", BASE + b" 0 0 6 <-> 1 0 8\n", False),
    ("direction 8 first", BASE + b" 0 0 8 <-> 1 0 2", False),
    ("a number past 32 bits at the very end", BASE + b" 0 0 6 <-> 99999999999", True),
    ("a coordinate past 32 bits", BASE + b" 99999999999 0 6 <-> 1 0 2", False),
    ("a transition onto its own endpoint", BASE + b" 0 0 6 <-> 0 0 6", False),
    ("a side that faces a cell", BASE + b" 0 0 2 <-> 1 0 2", False),
    ("a side used twice", BASE + LINK + b" 0 0 6 <-> 1 0 1", False),
    ("a NUL byte after the cells", BASE + b"\0", False),
    ("a no-break space", b"2\xa00 0 0 1 2 1 2", False),
    ("an information separator (0x1C), white space to some readers", b"2\x1c0 0 0 1 2 1 2",
     False),
    ("an Arabic-Indic digit", b"\xd9\xa2 0 0 0 1 2 1 2", False),
    ("a superscript two", b"\xb2 0 0 0 1 2 1 2", False),
    ("a sign", b"+2 0 0 0 1 2 1 2", False),
    ("a header that ends the text", b"2 0 0 0 1 2", False),
    ("no text", b"", False),
    ("a stone of player 8 on a map for 2", b"2 0 0 0 1 3 1 2 8", True),
    ("cells glued together", b"2 0 0 0 1 4 08-b", True),
    ("a tile 12", b"2 0 0 0 1 2 12 0", False),
    ("bombs and bonus squares over 255", b"2 0 255 0 1 3 1 2 b", False),
    ("bombs and bonus squares at 255", b"2 0 254 0 1 3 1 2 b", True),
    ("a bomb strength over 255", b"2 0 0 256 1 2 1 2", False),
    ("a bad transition after a bad cell", b"2 0 0 0 1 2 1 9 0 0 6 <-> 0 0 6", False),
]


def kit_accepts(data: bytes) -> bool:
    try:
        parse_map(data.decode("latin-1"))
    except MapError:
        return False
    return True


@unittest.skipUnless(ORACLE, "REVERSI_RULES_ORACLE names the game model's helper program")
class MapReaderAgreesWithTheServer(unittest.TestCase):
    def test_edge_cases(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "edge.map")
            for what, data, accepted in CASES:
                with open(path, "wb") as out:
                    out.write(data)
                server = subprocess.run([ORACLE, path, "0", "0"], capture_output=True).returncode
                with self.subTest(what):
                    self.assertEqual(server == 0, accepted, "the server's reader")
                    self.assertEqual(kit_accepts(data), accepted, "the kit's reader")


class MapReaderOnText(unittest.TestCase):
    def test_digits_and_spaces_beyond_ascii_are_refused(self):
        # A str may hold what no byte does: an Arabic-Indic two, an em space.
        for text in ("\u0662 0 0 0 1 2 1 2", "2\u20030 0 0 1 2 1 2", "2 0 0 0 1 2 1 \u0662"):
            with self.subTest(text=text), self.assertRaises(MapError):
                parse_map(text)


if __name__ == "__main__":
    unittest.main()
