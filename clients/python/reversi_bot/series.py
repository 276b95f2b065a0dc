"""A series of local matches: seats rotated, random openings, maps in turn, and a tally of
wins, points and disqualifications per bot."""

from __future__ import annotations

import random
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence, Tuple

from .board import Board, Move, Phase
from .bot import load_bot
from .referee import LocalMatch

MAX_OPENING = 40
"""The longest random opening, in plies."""


@dataclass
class Tally:
    """What one bot of a series did."""

    bot: str
    games: int = 0
    wins: int = 0
    draws: int = 0
    losses: int = 0
    points: float = 0.0
    disqualified: int = 0
    reasons: Dict[str, int] = field(default_factory=dict)
    """Disqualifications by reason."""


def places(scores: Sequence[int]) -> List[int]:
    """Each seat's place, 1 for the most stones; equal scores share a place, and a disqualified
    seat (score -1) comes after every seat still in."""
    return [1 + sum(other > mine for other in scores) for mine in scores]


def points(scores: Sequence[int]) -> List[float]:
    """Each seat's points: every pair of seats shares one point (half each on a tie), divided
    by a seat's number of opponents, so that a win in two seats is worth 1."""
    n = len(scores)
    return [sum(1.0 if mine > other else 0.5 if mine == other else 0.0
                for k, other in enumerate(scores) if k != i) / (n - 1)
            for i, mine in enumerate(scores)]


def opening(board: Board, plies: int, rng: random.Random) -> List[Move]:
    """Up to `plies` random legal moves from the board's start that leave the game in its
    building phase; fewer when the map runs out of them."""
    moves: List[Move] = []
    position = board.copy()
    for _ in range(plies):
        legal = position.legal_moves()
        if not legal or position.phase is not Phase.BUILD:
            break
        move = rng.choice(legal)
        after = position.after(move)
        if after.phase is not Phase.BUILD:
            break
        moves.append(move)
        position = after
    return moves


class Series:
    """Games of `names` (bots as load_bot knows them, one per player) on `boards` ((name,
    board) pairs, all for len(names) players). Each opening is played in every rotation of the
    seats, so that no bot keeps the first move; the maps are taken in turn."""

    def __init__(self, boards: Sequence[Tuple[str, Board]], names: Sequence[str],
                 time_ms: int = 0, depth: int = 0, seed: Optional[int] = None) -> None:
        self.boards = list(boards)
        self.names = list(names)
        self.time_ms = time_ms
        self.depth = depth
        self.seed = seed
        self.rng = random.Random(seed)
        self.tallies = [Tally(f"{k} {bot}") for k, bot in enumerate(names, start=1)]

    def play(self, games: int, plies: int) -> None:
        """Plays `games` games, printing one line per game."""
        players = len(self.names)
        moves: List[Move] = []
        for game in range(games):
            block, rotation = divmod(game, players)
            name, start = self.boards[block % len(self.boards)]
            if rotation == 0:
                moves = opening(start, plies, self.rng)
            seated = [(rotation + seat) % players for seat in range(players)]
            board = start.copy()
            for move in moves:
                board.play(move)
            scores, reasons = self.game(board, seated, game)
            self.count(seated, scores, reasons)
            shown = ", ".join(f"{self.tallies[b].bot} "
                              f"{'disqualified' if score < 0 else score}"
                              for b, score in zip(seated, scores))
            print(f"Game {game + 1} on {name} ({len(moves)} plies of opening): {shown}")

    def game(self, board: Board, seated: List[int], game: int) -> Tuple[List[int], Dict]:
        """One game; the scores and the disqualifications' reasons, by seat."""
        players = len(seated)
        bots = [load_bot(self.names[b],
                         None if self.seed is None else self.seed + game * players + seat + 1)
                for seat, b in enumerate(seated)]
        match = LocalMatch(board, bots, self.time_ms, self.depth)
        scores = match.play()
        return scores, {player - 1: reason for player, reason in match.reasons.items()}

    def count(self, seated: List[int], scores: List[int], reasons: Dict[int, str]) -> None:
        place = places(scores)
        firsts = place.count(1)
        for seat, (b, share) in enumerate(zip(seated, points(scores))):
            tally = self.tallies[b]
            tally.games += 1
            tally.points += share
            if place[seat] == 1 and firsts == 1:
                tally.wins += 1
            elif place[seat] == 1:
                tally.draws += 1
            else:
                tally.losses += 1
            if seat in reasons:
                tally.disqualified += 1
                tally.reasons[reasons[seat]] = tally.reasons.get(reasons[seat], 0) + 1

    def summary(self) -> None:
        """Prints the tally of every bot, most points first, then why bots were
        disqualified."""
        width = max(len(t.bot) for t in self.tallies)
        print(f"{'Bot':<{width}}  Games  Wins  Draws  Losses  Points  Disqualified")
        for t in sorted(self.tallies, key=lambda t: -t.points):
            print(f"{t.bot:<{width}}  {t.games:>5}  {t.wins:>4}  {t.draws:>5}  {t.losses:>6}  "
                  f"{t.points:>6.1f}  {t.disqualified:>12}")
        for t in self.tallies:
            for reason, count in sorted(t.reasons.items()):
                print(f"{t.bot} disqualified {count}x: {reason}")
