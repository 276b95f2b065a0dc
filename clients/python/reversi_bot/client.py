"""One match from the client's side: the conversation with the server, the board kept in
step with the announcements, and the bot asked for every move."""

from __future__ import annotations

import threading
import time
from typing import List, Optional

from .board import Board, IllegalMove, Move, Phase
from .bot import Bot, as_move
from .gamemap import MapError, parse_map
from .logger import log
from .protocol import (Connection, Disqualification, Fin, MapText, MoveAnnouncement,
                       MoveRequest, PlayerNumber, ProtocolError, Terminal, encode_group_id,
                       encode_move)

# An answer this close to the end of the budget may arrive late at the server.
NEAR_LIMIT_MS = 20
NEAR_LIMIT_SHARE = 0.1


class Client:
    """Plays one match for a bot over a connection, which it closes at the end."""

    def __init__(self, bot: Bot, connection: Connection, group: int = 1) -> None:
        self.bot = bot
        self.connection = connection
        self.group = group
        self.board: Optional[Board] = None
        self.me: Optional[int] = None
        self.trouble: Optional[str] = None
        """What the package saw go wrong with the bot's last answer, if anything."""
        self.pending: List[int] = []
        """Players dropped whose disqualification came before a move announcement: the
        server may have dropped them while announcing that move, after it was applied."""
        self.started = False
        """A move was requested or announced: disqualifications are no longer admission's."""

    def play(self) -> bool:
        """True after the server's end message; False when the server went away, broke the
        protocol or disqualified this bot, or the bot failed (each logged)."""
        try:
            with self.connection:
                self.connection.send(encode_group_id(self.group))
                log.info("Connected as group %d", self.group)
                while True:
                    message = self.connection.receive()
                    if isinstance(message, Fin):
                        return self._finish()
                    if not self._handle(message):
                        return False
        except ProtocolError as error:
            log.error("The server went away or broke the protocol: %s", error)
            return False

    def _handle(self, message) -> bool:
        if isinstance(message, MapText):
            return self._on_map(message.text)
        if isinstance(message, Disqualification):
            return self._on_disqualification(message.player)
        if isinstance(message, MoveAnnouncement) and self.board is not None and \
                message.player == self.board.to_move:
            # The move was pending when the players were dropped: the server applied it first.
            accepted = self._on_announcement(message)
            self._apply_pending()
            return accepted
        self._apply_pending()
        if self.board is None:
            log.error("The server sent %s before the map", type(message).__name__)
            return False
        if isinstance(message, PlayerNumber):
            if not 1 <= message.player <= self.board.players or self.me is not None:
                log.error("The server sent an unexpected player number %d", message.player)
                return False
            self.me = message.player
            log.info("Playing as player %d with %s", self.me, self.bot.label())
            return True
        if isinstance(message, MoveRequest):
            return self._on_request(message)
        if isinstance(message, MoveAnnouncement):
            return self._on_announcement(message)
        if isinstance(message, Terminal):
            log.info("The bombing phase begins")
            if self.board.phase is Phase.BUILD:
                log.warning("The local board had not reached the bombing phase by itself")
            self.board.start_bombing()
            return True
        log.error("Unexpected message from the server: %s", message)
        return False

    def _on_map(self, text: str) -> bool:
        if self.board is not None:
            log.error("The server sent a second map")
            return False
        try:
            self.board = Board(parse_map(text))
        except MapError as error:
            log.error("The server sent a map this package cannot read: %s", error)
            return False
        log.info("Received a %d-player map of %d x %d cells", self.board.players,
                 self.board.height, self.board.width)
        return True

    def _on_request(self, request: MoveRequest) -> bool:
        received = time.monotonic()
        self.started = True
        if self.me is None:
            log.error("The server asked for a move before sending the player number")
            return False
        board = self.board
        if board.to_move != self.me:
            log.warning("Asked for a move while the local board expects player %d",
                        board.to_move)
        view = board.copy()
        view.to_move = self.me
        watchdog = None
        if request.time_ms:
            watchdog = threading.Timer(request.time_ms / 1000, log.error, (
                "The bot is still thinking after its whole budget of %d ms: the server "
                "disqualifies it for a timeout now", request.time_ms))
            watchdog.daemon = True
            watchdog.start()
        try:
            move = self.bot.choose_move(view, request.time_ms, request.depth)
        except Exception:
            log.exception("The bot raised an exception; leaving the game")
            return False
        finally:
            if watchdog:
                watchdog.cancel()
        spent_ms = int((time.monotonic() - received) * 1000)
        move = self._checked(move, request, spent_ms)
        self.connection.send(encode_move(move.x, move.y, move.choice))
        log.info("Answered %s in %d ms (time left %d ms, depth limit %d)", move, spent_ms,
                 request.time_ms, request.depth)
        return True

    def _checked(self, move, request: MoveRequest, spent_ms: int) -> Move:
        """The bot's move as it can go on the wire, with every problem the package can see
        logged (and kept for the report if the server disqualifies this bot)."""
        self.trouble = None
        answer, move = move, as_move(move)
        if move is None:
            self.trouble = f"the bot answered {answer!r} instead of a Move"
            log.error("%s; sending (0, 0)", self.trouble)
            return Move(0, 0)
        reason = self.board.why_illegal(move, self.me)
        if reason:
            self.trouble = f"illegal move {move}: {reason}"
            log.error("The bot chose an illegal move %s: %s. The server will disqualify it",
                      move, reason)
        limit = request.time_ms
        if limit and spent_ms > limit:
            self.trouble = f"the move took {spent_ms} ms with only {limit} ms left"
            log.error("The move took %d ms, but only %d ms were left: the server disqualifies "
                      "the bot for a timeout", spent_ms, limit)
        elif limit and limit - spent_ms < max(NEAR_LIMIT_MS, limit * NEAR_LIMIT_SHARE):
            log.warning("The move took %d of the %d ms left: the answer may arrive too late",
                        spent_ms, limit)
        if not (0 <= move.x <= 0xFFFF and 0 <= move.y <= 0xFFFF and 0 <= move.choice <= 0xFF):
            self.trouble = f"{move} does not fit the message"
            log.error("%s: x and y must lie from 0 to 65535, the choice from 0 to 255; "
                      "sending (0, 0)", self.trouble)
            return Move(0, 0)
        return move

    def _on_announcement(self, ann: MoveAnnouncement) -> bool:
        self.started = True
        move = Move(ann.x, ann.y, ann.choice)
        if not 1 <= ann.player <= self.board.players:
            log.error("The server announced a move of an unknown player %d", ann.player)
            return False
        if ann.player != self.board.to_move:
            log.warning("Player %d moved while the local board expected player %d",
                        ann.player, self.board.to_move)
        try:
            self.board.play(move, ann.player)
        except IllegalMove as error:
            log.error("The local board refused the announced move %s of player %d (%s): its "
                      "rules differ from the server's", move, ann.player, error)
            return True
        log.debug("Player %d played %s", ann.player, move)
        return True

    def _on_disqualification(self, player: int) -> bool:
        # Until this client has its number, the server announces no one else's.
        if player == self.me or self.me is None:
            cause = f" (the package saw: {self.trouble})" if self.trouble else ""
            log.error("This bot was disqualified by the server%s", cause)
            return False
        log.info("Player %d was disqualified", player)
        if self.started:
            # Applied with the next message: after a move announcement of the player in turn
            # that follows it, before anything else.
            self.pending.append(player)
        else:
            self.board.disqualify(player)
        return True

    def _apply_pending(self) -> None:
        for player in self.pending:
            self.board.disqualify(player)
        self.pending.clear()

    def _finish(self) -> bool:
        if self.board is None:
            log.error("The server ended before the game began")
            return False
        self._apply_pending()
        log.info("The game is over. Final board:\n%s", self.board.text().rstrip("\n"))
        for p, score in enumerate(self.board.scores(), start=1):
            mark = " (this bot)" if p == self.me else ""
            text = "disqualified" if score < 0 else f"{score} points"
            log.info("Player %d: %s%s", p, text, mark)
        return True
