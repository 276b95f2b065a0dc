"""The board and the full rules: legal moves with their choices, stone moves, bombs, turns
and phases.

Cells hold the number of the player who owns the stone on them (not a colour), so an
inversion or a choice swap relabels stones on the board; `board.text()` prints the board
exactly like the server's log.
"""

from __future__ import annotations

import enum
from dataclasses import dataclass
from typing import List, Optional

from .gamemap import DIRECTION_STEPS, GameMap

# Cell contents; 1 to 8 is a stone of that player.
EMPTY = 0
EXPANSION = 9
INVERSION = 10
CHOICE = 11
BONUS = 12
HOLE = 255

TOKEN_SQUARE = {"-": HOLE, "0": EMPTY, "x": EXPANSION, "i": INVERSION, "c": CHOICE,
                "b": BONUS}
SQUARE_TOKEN = {square: token for token, square in TOKEN_SQUARE.items()}

# Choices: a player number 1 to 8 on a choice square, or the reward on a bonus square.
NO_CHOICE = 0
BOMB = 20
OVERRIDE = 21

NO_CELL = -1


class Phase(enum.Enum):
    BUILD = "build"
    """Stones are placed."""
    BOMBING = "bombing"
    """Every move is a bomb throw."""
    FINAL = "final"
    """The game is over."""


@dataclass(frozen=True)
class Move:
    """A stone at (x, y) or a bomb thrown at it; x is the column, y the row, both from 0."""

    x: int
    y: int
    choice: int = NO_CHOICE
    """The player to swap with on a choice square, BOMB or OVERRIDE on a bonus square,
    otherwise (and for every bomb throw) NO_CHOICE."""

    def __str__(self) -> str:
        text = f"({self.x}, {self.y})"
        return text if self.choice == NO_CHOICE else f"{text} choice {self.choice}"


class IllegalMove(ValueError):
    """A move the rules refuse; the message says why."""


class Board:
    """A position: cells, stocks, disqualifications, whose turn it is and the phase.

    A new board is the map's starting position with the turn given to the first player who
    can place a stone, as the server does.
    """

    def __init__(self, game_map: GameMap) -> None:
        self.map = game_map
        self.width = game_map.width
        self.height = game_map.height
        self.players = game_map.players
        self.cells: List[int] = [
            TOKEN_SQUARE[t] if t in TOKEN_SQUARE else int(t) for row in game_map.rows for t in row]
        self.bombs = [0] + [game_map.bombs] * self.players
        """Bombs held, by player (slot 0 unused)."""
        self.overrides = [0] + [game_map.overrides] * self.players
        """Override stones held, by player (slot 0 unused)."""
        self.disqualified: set = set()
        self.phase = Phase.BUILD
        self.to_move = 0
        """The player whose turn it is (after the end: whoever was next)."""
        self._cells_left = sum(1 for c in self.cells if c != HOLE)
        self._step_to, self._step_dir = self._step_table()
        self._history: List[tuple] = []
        self._pass_turn()

    def copy(self) -> "Board":
        """An independent board in the same position, with no moves to pop."""
        other = Board.__new__(Board)
        other.__dict__.update(self.__dict__)
        other.cells = list(self.cells)
        other.bombs = list(self.bombs)
        other.overrides = list(self.overrides)
        other.disqualified = set(self.disqualified)
        other._history = []
        return other

    # Search: play and take back

    def push(self, move: Move, player: Optional[int] = None) -> None:
        """Plays the move like play() and remembers the position before it, so that pop()
        takes it back; IllegalMove, with the board unchanged and nothing remembered, when the
        rules refuse it. Cheaper than after() in a search: only the board is saved, not built."""
        saved = self._snapshot()
        self.play(move, player)
        self._history.append(saved)

    def pop(self) -> None:
        """Takes back the last move played with push(); IndexError when there is none."""
        if not self._history:
            raise IndexError("pop() without a move pushed")
        (cells, self.bombs, self.overrides, self.disqualified, self.phase, self.to_move,
         self._cells_left) = self._history.pop()
        self.cells = cells

    def _snapshot(self) -> tuple:
        return (list(self.cells), list(self.bombs), list(self.overrides), set(self.disqualified),
                self.phase, self.to_move, self._cells_left)

    # The end

    def is_over(self) -> bool:
        """The game is over: nobody left can move, or at most one player is left."""
        return self.phase is Phase.FINAL

    def leader(self) -> Optional[int]:
        """The player ahead now, as the server names it: most stones among the players still in
        the game, the lowest number on a tie; None when every player is disqualified."""
        scores = self.scores()
        best = max(scores)
        return None if best < 0 else scores.index(best) + 1

    def winner(self) -> Optional[int]:
        """The leader once the game is over; None while it goes on."""
        return self.leader() if self.is_over() else None

    # Cells

    def index(self, x: int, y: int) -> int:
        """y * width + x, or NO_CELL off the board."""
        if 0 <= x < self.width and 0 <= y < self.height:
            return y * self.width + x
        return NO_CELL

    def __getitem__(self, xy) -> int:
        """board[x, y]: EMPTY, HOLE, a special square, or the owner of the stone there;
        IndexError off the board."""
        i = self.index(*xy)
        if i == NO_CELL:
            raise IndexError(f"({xy[0]}, {xy[1]}) lies off the board")
        return self.cells[i]

    def stones(self, player: int) -> int:
        """The stones the player owns; ValueError for a number outside 1 to `players`."""
        if not 1 <= player <= self.players:
            raise ValueError(f"there is no player {player} on a map for {self.players}")
        return self.cells.count(player)

    def scores(self) -> List[int]:
        """Stones per player, index 0 for player 1; -1 for a disqualified player."""
        return [-1 if p in self.disqualified else self.stones(p)
                for p in range(1, self.players + 1)]

    def text(self) -> str:
        """One line per row, one character per cell, as in the server's log."""
        rows = []
        for y in range(self.height):
            row = self.cells[y * self.width:(y + 1) * self.width]
            rows.append("".join(SQUARE_TOKEN.get(c) or str(c) for c in row))
        return "\n".join(rows) + "\n"

    # Moves

    def legal_moves(self, player: Optional[int] = None) -> List[Move]:
        """Every legal move of the player (default: the one to move), cell by cell row by
        row, and within a cell by choice; empty when the game is over."""
        p = self.to_move if player is None else player
        if self.phase is Phase.FINAL or not 1 <= p <= self.players:
            return []
        w = self.width
        if self.phase is Phase.BOMBING:
            if self.bombs[p] == 0:
                return []
            return [Move(i % w, i // w) for i, c in enumerate(self.cells) if c != HOLE]
        moves = []
        for i in range(len(self.cells)):
            if self._can_place(p, i):
                x, y = i % w, i // w
                c = self.cells[i]
                if c == CHOICE:
                    moves += [Move(x, y, q) for q in range(1, self.players + 1)]
                elif c == BONUS:
                    moves += [Move(x, y, BOMB), Move(x, y, OVERRIDE)]
                else:
                    moves.append(Move(x, y))
        return moves

    def why_illegal(self, move: Move, player: Optional[int] = None) -> Optional[str]:
        """None for a legal move of the player (default: the one to move), else the reason."""
        p = self.to_move if player is None else player
        if self.phase is Phase.FINAL:
            return "the game is over"
        if not 1 <= p <= self.players:
            return f"there is no player {p}"
        i = self.index(move.x, move.y)
        if i == NO_CELL:
            return f"{move} lies off the board of {self.width} x {self.height} cells"
        c = self.cells[i]
        if c == HOLE:
            return f"{move} is a hole"
        if self.phase is Phase.BOMBING:
            if self.bombs[p] == 0:
                return f"player {p} has no bomb left"
            if move.choice != NO_CHOICE:
                return f"a bomb throw carries choice 0, not {move.choice}"
            return None
        occupied = 1 <= c <= EXPANSION
        if occupied and self.overrides[p] == 0:
            what = "an expansion square" if c == EXPANSION else "a stone"
            return f"{move} holds {what}, and player {p} has no override stone left"
        if c != EXPANSION and not self._has_line(p, i):
            return f"a stone of player {p} at {move} would enclose no line of other stones"
        if c == CHOICE and not 1 <= move.choice <= self.players:
            return (f"a choice square needs the number of the player to swap with, "
                    f"1 to {self.players}, not {move.choice}")
        if c == BONUS and move.choice not in (BOMB, OVERRIDE):
            return f"a bonus square needs choice {BOMB} (bomb) or {OVERRIDE} (override), " \
                f"not {move.choice}"
        if c not in (CHOICE, BONUS) and move.choice != NO_CHOICE:
            return f"only choice and bonus squares take a choice: send 0, not {move.choice}"
        return None

    def after(self, move: Move, player: Optional[int] = None) -> "Board":
        """A new board with the move played; IllegalMove when it is not legal."""
        board = self.copy()
        board.play(move, player)
        return board

    def play(self, move: Move, player: Optional[int] = None) -> None:
        """Plays the move for the player (default: the one to move) and passes the turn. A
        move out of turn is played as if it were that player's turn. IllegalMove, with the
        board unchanged, when the rules refuse it."""
        p = self.to_move if player is None else player
        reason = self.why_illegal(move, p)
        if reason:
            raise IllegalMove(reason)
        self.to_move = p
        i = self.index(move.x, move.y)
        if self.phase is Phase.BOMBING:
            self._blast(p, i)
        else:
            self._place(p, i, move.choice)
        self._pass_turn()

    def disqualify(self, player: int) -> None:
        """Takes the player out: its stones stay on the board. With at most one player left
        the game is over; otherwise the turn passes when it was the player's."""
        if not 1 <= player <= self.players or player in self.disqualified:
            return
        self.disqualified.add(player)
        if self.players - len(self.disqualified) <= 1:
            self.phase = Phase.FINAL
        elif player == self.to_move:
            self._pass_turn()

    def start_bombing(self) -> None:
        """Enters the bombing phase (the server's TERMINAL message); no effect on a game in
        that phase or over."""
        if self.phase is Phase.BUILD:
            self.phase = Phase.BOMBING

    def can_place(self, player: int) -> bool:
        """The player has a legal stone move."""
        return any(self._can_place(player, i) for i in range(len(self.cells)))

    def can_bomb(self, player: int) -> bool:
        return self._cells_left > 0 and self.bombs[player] > 0

    # Internals

    def _step_table(self):
        """For every cell and direction, the cell one step away and the direction of travel
        after the step (a transition can turn it), or NO_CELL."""
        w, h = self.width, self.height
        to = [NO_CELL] * (w * h * 8)
        direction = [0] * (w * h * 8)
        for i, c in enumerate(self.cells):
            x, y = i % w, i // w
            for d, (dx, dy) in enumerate(DIRECTION_STEPS):
                nx, ny = x + dx, y + dy
                direction[i * 8 + d] = d
                if 0 <= nx < w and 0 <= ny < h and self.cells[ny * w + nx] != HOLE:
                    to[i * 8 + d] = ny * w + nx
        for t in self.map.transitions:
            a, b = t.y1 * w + t.x1, t.y2 * w + t.x2
            # Entering a cell through its side s, a line travels on away from s.
            to[a * 8 + t.d1], direction[a * 8 + t.d1] = b, (t.d2 + 4) % 8
            to[b * 8 + t.d2], direction[b * 8 + t.d2] = a, (t.d1 + 4) % 8
        return to, direction

    def _line(self, start: int, d: int, p: int) -> list:
        """The stones a stone of p at start encloses in direction d (empty when none)."""
        cells, to, nd = self.cells, self._step_to, self._step_dir
        passed = []
        cell = start
        # Every walk on a valid map ends or returns to its start; the bound is a safeguard.
        for _ in range(len(cells) * 8):
            e = cell * 8 + d
            cell, d = to[e], nd[e]
            if cell == NO_CELL or cell == start:
                return []
            s = cells[cell]
            if s == p:
                return passed
            if not 1 <= s <= EXPANSION:
                return []
            passed.append(cell)
        return []

    def _has_line(self, p: int, i: int) -> bool:
        return any(self._line(i, d, p) for d in range(8))

    def _can_place(self, p: int, i: int) -> bool:
        c = self.cells[i]
        if c == HOLE:
            return False
        if 1 <= c <= EXPANSION and self.overrides[p] == 0:
            return False
        return c == EXPANSION or self._has_line(p, i)

    def _place(self, p: int, i: int, choice: int) -> None:
        before = self.cells[i]
        # Every line is found on the board as it was before any stone turns.
        captured = [cell for d in range(8) for cell in self._line(i, d, p)]
        for cell in captured:
            self.cells[cell] = p
        self.cells[i] = p
        if 1 <= before <= EXPANSION:
            self.overrides[p] -= 1
        n = self.players
        if before == INVERSION:
            self.cells = [c % n + 1 if 1 <= c <= n else c for c in self.cells]
        elif before == CHOICE and choice != p:
            swap = {p: choice, choice: p}
            self.cells = [swap.get(c, c) for c in self.cells]
        elif before == BONUS:
            if choice == OVERRIDE:
                self.overrides[p] += 1
            else:
                self.bombs[p] += 1

    def _blast(self, p: int, target: int) -> None:
        self.bombs[p] -= 1
        # Layer k of the queue holds the cells k steps from the target; a cell queued twice
        # is a hole by its second turn and is skipped.
        queue = [target]
        remaining = self.map.bomb_strength
        layer_end, read = 1, 0
        while read < len(queue):
            cell = queue[read]
            read += 1
            if self.cells[cell] != HOLE:
                self.cells[cell] = HOLE
                self._cells_left -= 1
                if remaining:
                    for d in range(8):
                        nxt = self._step_to[cell * 8 + d]
                        if nxt != NO_CELL and self.cells[nxt] != HOLE:
                            queue.append(nxt)
            if read == layer_end:
                if remaining == 0 or len(queue) == layer_end:
                    break
                remaining -= 1
                layer_end = len(queue)

    def _pass_turn(self) -> None:
        if len(self.disqualified) == self.players:
            return
        n = self.players
        player = self.to_move % n + 1
        start = player
        # Players who cannot move are skipped; a whole round without one ends the phase, and
        # the next phase skips from there.
        stages = ((Phase.BUILD, self.can_place, Phase.BOMBING),
                  (Phase.BOMBING, self.can_bomb, Phase.FINAL))
        for phase, can_move, after in stages:
            if self.phase is not phase:
                continue
            while player in self.disqualified or not can_move(player):
                player = player % n + 1
                if player == start:
                    self.phase = after
                    break
        self.to_move = player
