"""The map format: a reader that checks every rule the server checks, and a writer."""

from __future__ import annotations

from dataclasses import dataclass
from typing import List, Optional, Sequence, Tuple

MAX_PLAYERS = 8
MAX_SIZE = 50
MAX_STOCK = 255
"""Largest override count, bomb count, bomb strength, and stock plus bonus squares."""

TILES = "-0123456789cibx"
HOLE_TOKEN = "-"
SPACE = " \t\n\v\f\r"
"""The characters that separate tokens; no others (a no-break space is not one)."""
DIGITS = "0123456789"
"""The digits of a number; no others (a superscript or Arabic-Indic digit is not one)."""
END_OF_FILE_MARK = "\x1a"
"""Where a transition would start, ends the map: whatever follows is ignored."""

# Directions by number: 0 north, then clockwise.
DIRECTION_NAMES = ("N", "NE", "E", "SE", "S", "SW", "W", "NW")
DIRECTION_STEPS = ((0, -1), (1, -1), (1, 0), (1, 1), (0, 1), (-1, 1), (-1, 0), (-1, -1))


class MapError(ValueError):
    """A map text that breaks the format; `faults` lists every fault found."""

    def __init__(self, faults: Sequence[str]) -> None:
        super().__init__("; ".join(faults))
        self.faults = list(faults)


@dataclass(frozen=True)
class Transition:
    """Joins side `d1` of cell (x1, y1) to side `d2` of cell (x2, y2), both ways. A line that
    leaves the first cell through d1 enters the second through d2 and goes on away from d2."""

    x1: int
    y1: int
    d1: int
    x2: int
    y2: int
    d2: int

    def endpoints(self) -> Tuple[Tuple[int, int, int], Tuple[int, int, int]]:
        return (self.x1, self.y1, self.d1), (self.x2, self.y2, self.d2)

    def __str__(self) -> str:
        return f"{self.x1} {self.y1} {self.d1} <-> {self.x2} {self.y2} {self.d2}"


@dataclass(frozen=True)
class GameMap:
    """A valid map. `rows[y][x]` is the tile token of cell (x, y): "-" hole, "0" empty,
    "1" to "8" a starting stone, "c" choice, "i" inversion, "b" bonus, "x" expansion."""

    players: int
    overrides: int
    """Override stones each player starts with."""
    bombs: int
    """Bombs each player starts with."""
    bomb_strength: int
    """Blast radius in steps."""
    height: int
    width: int
    rows: Tuple[str, ...]
    transitions: Tuple[Transition, ...]

    def tile(self, x: int, y: int) -> str:
        return self.rows[y][x]

    def is_gap(self, x: int, y: int, d: int) -> bool:
        """Cell (x, y) faces a hole or the outside of the board in direction d."""
        nx, ny = x + DIRECTION_STEPS[d][0], y + DIRECTION_STEPS[d][1]
        return not (0 <= nx < self.width and 0 <= ny < self.height) or \
            self.rows[ny][nx] == HOLE_TOKEN

    def text(self) -> str:
        """The map as the server writes it (and sends it to every client)."""
        lines = [str(self.players), str(self.overrides), f"{self.bombs} {self.bomb_strength}",
                 f"{self.height} {self.width}"]
        lines += [" ".join(row) for row in self.rows]
        lines += [str(t) for t in self.transitions]
        return "\n".join(lines) + "\n"


class _Scanner:
    """Reads the tokens of a map text the way the server does."""

    def __init__(self, text: str) -> None:
        self.text = text
        self.at = 0

    def skip_space(self) -> None:
        while self.at < len(self.text) and self.text[self.at] in SPACE:
            self.at += 1

    def at_end(self) -> bool:
        """Only separators are left (they are skipped)."""
        self.skip_space()
        return self.at >= len(self.text)

    def peek(self) -> str:
        """The next character after separators, "" at the end."""
        self.skip_space()
        return self.text[self.at:self.at + 1]

    def number(self) -> int:
        """An unsigned decimal number; ValueError when there is none."""
        self.skip_space()
        start = self.at
        while self.at < len(self.text) and self.text[self.at] in DIGITS:
            self.at += 1
        if start == self.at:
            raise ValueError("no number")
        return int(self.text[start:self.at])

    def tile(self) -> str:
        """One tile token; a digit 1 to 9 starts a number, so "12" is one (invalid) token."""
        self.skip_space()
        if self.at >= len(self.text):
            raise ValueError("end of input")
        c = self.text[self.at]
        if c in "-0bcix":
            self.at += 1
            return c
        if c in DIGITS:
            value = self.number()
            if 1 <= value <= MAX_PLAYERS:
                return str(value)
        raise ValueError("invalid tile")

    def word(self) -> str:
        self.skip_space()
        start = self.at
        while self.at < len(self.text) and self.text[self.at] not in SPACE:
            self.at += 1
        return self.text[start:self.at]


def parse_map(text: str) -> GameMap:
    """Reads a map text; MapError listing every fault when it is not valid."""
    scan = _Scanner(text)
    try:
        players, overrides, bombs, strength, height, width = (scan.number() for _ in range(6))
    except ValueError:
        raise MapError(["the map header needs six numbers: players, overrides, bombs, "
                        "bomb strength, height, width"]) from None
    faults: List[str] = []
    if not 2 <= players <= MAX_PLAYERS:
        faults.append(f"Invalid number of players: {players}")
    if overrides > MAX_STOCK:
        faults.append(f"Invalid number of overrides: {overrides}")
    if bombs > MAX_STOCK:
        faults.append(f"Invalid number of bombs: {bombs}")
    if strength > MAX_STOCK:
        faults.append(f"Invalid bomb strength: {strength}")
    if not (1 <= height <= MAX_SIZE and 1 <= width <= MAX_SIZE):
        raise MapError(faults + [f"Invalid map dimensions: ({height} x {width})"])

    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            try:
                row.append(scan.tile())
            except ValueError:
                faults.append(f"Invalid tile at ({x}, {y})")
                row.append(HOLE_TOKEN)
        rows.append("".join(row))
    bonus = sum(row.count("b") for row in rows)
    if bombs + bonus > MAX_STOCK:
        faults.append(f"Sum of bonus-fields and bombs too large: {bombs + bonus}")
    if overrides + bonus > MAX_STOCK:
        faults.append(f"Sum of bonus-fields and overrides too large: {overrides + bonus}")
    if faults:
        raise MapError(faults)

    game_map = GameMap(players, overrides, bombs, strength, height, width, tuple(rows), ())
    transitions = []
    while not scan.at_end() and scan.peek() != END_OF_FILE_MARK:
        transition = _read_transition(scan)
        if transition is None:
            break
        problems = []
        for (x, y, d) in transition.endpoints():
            if not (x < width and y < height):
                problems.append(f"({x}, {y}) lies off the board")
            elif not game_map.is_gap(x, y, d):
                problems.append(f"({x}, {y}) does not face a hole or the edge in direction {d}")
        if transition.endpoints()[0] == transition.endpoints()[1]:
            problems.append("it leads back to its own endpoint")
        if problems:
            faults.append(f"transition {transition}: " + ", ".join(problems))
        transitions.append(transition)
    seen = {}
    for t in transitions:
        for end in set(t.endpoints()):
            if end in seen:
                faults.append(f"Duplicate transition endpoints: {seen[end]} vs {t}")
            seen[end] = t
    if faults:
        raise MapError(faults)
    return GameMap(players, overrides, bombs, strength, height, width, tuple(rows),
                   tuple(transitions))


def _read_transition(scan: _Scanner) -> Optional[Transition]:
    """The next transition; None when the text ends inside it (the server drops such a last
    transition, even one whose last number is out of range, and accepts the map). MapError
    for a malformed transition with more text after it."""
    values = []
    for item in ("x1", "y1", "d1", "<->", "x2", "y2", "d2"):
        try:
            if item == "<->":
                if scan.word() != "<->":
                    raise ValueError("Transition separator invalid: write x1 y1 d1 <-> x2 y2 d2")
                continue
            value = scan.number()
            if item.startswith("d") and value >= len(DIRECTION_NAMES):
                raise ValueError(f"Transition {item} invalid: directions run from 0 to 7")
        except ValueError as error:
            if scan.at >= len(scan.text):
                return None
            text = str(error)
            raise MapError([text if text.startswith("Transition") else
                            f"Transition {item} invalid"]) from None
        values.append(value)
    return Transition(*values)
