"""The wire protocol: message framing, typed messages, and one connection to the server.

Every message is a five-byte header (type byte, payload length as a big-endian unsigned
32-bit number) followed by the payload; every number is big-endian and nothing is padded.
"""

from __future__ import annotations

import enum
import socket
import struct
import time
from dataclasses import dataclass
from typing import Optional, Union

HEADER = struct.Struct(">BI")
"""Type byte and payload length."""
MOVE_REQUEST = struct.Struct(">IB")
"""Time left in milliseconds, depth limit."""
MOVE = struct.Struct(">HHB")
"""x, y, choice."""
MOVE_ANNOUNCE = struct.Struct(">HHBB")
"""x, y, choice, the player who moved."""
MAX_MAP_LENGTH = 2012000
"""The longest map text the server sends or a receiver accepts."""


class MsgType(enum.IntEnum):
    """The message types; the comment names the sender."""

    GROUP_ID = 1  # client
    MAP = 2  # server
    PLAYER_NUMBER = 3  # server
    MOVE_REQUEST = 4  # server
    MOVE = 5  # client
    MOVE_ANNOUNCE = 6  # server
    DISQUALIFICATION = 7  # server
    TERMINAL = 8  # server
    FIN = 9  # server


# The only payload length a receiver accepts for each type (the map: 1 to MAX_MAP_LENGTH).
PAYLOAD_LENGTH = {
    MsgType.GROUP_ID: 1,
    MsgType.PLAYER_NUMBER: 1,
    MsgType.MOVE_REQUEST: MOVE_REQUEST.size,
    MsgType.MOVE: MOVE.size,
    MsgType.MOVE_ANNOUNCE: MOVE_ANNOUNCE.size,
    MsgType.DISQUALIFICATION: 1,
    MsgType.TERMINAL: 0,
    MsgType.FIN: 0,
}


class ProtocolError(Exception):
    """The peer broke the protocol, or the connection failed."""


class ConnectionClosed(ProtocolError):
    """The peer closed the connection (possibly in the middle of a message)."""


class MessageTimeout(ProtocolError):
    """No whole message arrived within the time-out."""


@dataclass(frozen=True)
class MapText:
    """The map, as the text the server's map writer prints."""

    text: str


@dataclass(frozen=True)
class PlayerNumber:
    """The number this client plays as, 1 to 8."""

    player: int


@dataclass(frozen=True)
class MoveRequest:
    """It is this client's turn."""

    time_ms: int
    """Milliseconds left on this client's clock, this turn's credit included; 0: no limit."""
    depth: int
    """Search depth limit (the low 8 bits of the server's setting); 0: no limit."""


@dataclass(frozen=True)
class MoveAnnouncement:
    """A move that the server accepted and applied; sent to every player, the mover too."""

    x: int
    y: int
    choice: int
    player: int


@dataclass(frozen=True)
class Disqualification:
    """A player left the game; when it is this client, the server closes the connection."""

    player: int


@dataclass(frozen=True)
class Terminal:
    """The building phase is over: from now on every move is a bomb throw."""


@dataclass(frozen=True)
class Fin:
    """The game is over; the server closes the connection."""


Message = Union[MapText, PlayerNumber, MoveRequest, MoveAnnouncement, Disqualification,
                Terminal, Fin]


def frame(msg_type: int, payload: bytes = b"") -> bytes:
    """One whole message on the wire."""
    return HEADER.pack(msg_type, len(payload)) + payload


def encode_group_id(group: int) -> bytes:
    """The client's first message: its group id, 0 to 255 (255 marks a human player)."""
    return frame(MsgType.GROUP_ID, bytes([group]))


def encode_move(x: int, y: int, choice: int) -> bytes:
    """The answer to a move request."""
    return frame(MsgType.MOVE, MOVE.pack(x, y, choice))


def check_header(msg_type: int, length: int) -> None:
    """Raises ProtocolError unless the length is the one the type requires."""
    if msg_type == MsgType.MAP:
        if not 1 <= length <= MAX_MAP_LENGTH:
            raise ProtocolError(f"map message with bad length {length}")
        return
    try:
        expected = PAYLOAD_LENGTH[MsgType(msg_type)]
    except ValueError:
        raise ProtocolError(f"unknown message type {msg_type}") from None
    if length != expected:
        raise ProtocolError(
            f"{MsgType(msg_type).name} message with length {length} instead of {expected}")


def decode(msg_type: int, payload: bytes) -> Message:
    """The typed message of a payload whose header passed check_header."""
    if msg_type == MsgType.MAP:
        return MapText(payload.decode("ascii", errors="replace"))
    if msg_type == MsgType.PLAYER_NUMBER:
        return PlayerNumber(payload[0])
    if msg_type == MsgType.MOVE_REQUEST:
        return MoveRequest(*MOVE_REQUEST.unpack(payload))
    if msg_type == MsgType.MOVE_ANNOUNCE:
        return MoveAnnouncement(*MOVE_ANNOUNCE.unpack(payload))
    if msg_type == MsgType.DISQUALIFICATION:
        return Disqualification(payload[0])
    if msg_type == MsgType.TERMINAL:
        return Terminal()
    if msg_type == MsgType.FIN:
        return Fin()
    raise ProtocolError(f"the server sent a {MsgType(msg_type).name} message, "
                        "which only clients send")


class Connection:
    """One TCP connection to the server, speaking whole messages. Owns its socket."""

    def __init__(self, sock: socket.socket) -> None:
        self._sock = sock
        self._buffer = bytearray()

    @classmethod
    def connect(cls, host: str, port: int, timeout: float = 10.0) -> "Connection":
        """Connects within `timeout` seconds; OSError when that fails."""
        sock = socket.create_connection((host, port), timeout=timeout)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return cls(sock)

    def close(self) -> None:
        self._sock.close()

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def send(self, data: bytes) -> None:
        """Sends whole messages; ConnectionClosed when the server is gone."""
        try:
            self._sock.settimeout(None)
            self._sock.sendall(data)
        except OSError as error:
            raise ConnectionClosed(f"sending failed: {error}") from error

    def receive(self, timeout: Optional[float] = None) -> Message:
        """The next message, within `timeout` seconds for header and payload together
        (None: no limit). Raises MessageTimeout, ConnectionClosed or ProtocolError; after
        any of them the byte stream may be out of step, so the connection is of no further use.
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        header = self._read(HEADER.size, deadline)
        msg_type, length = HEADER.unpack(header)
        check_header(msg_type, length)
        return decode(msg_type, self._read(length, deadline))

    def _read(self, count: int, deadline: Optional[float]) -> bytes:
        while len(self._buffer) < count:
            if deadline is None:
                self._sock.settimeout(None)
            else:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise MessageTimeout("no whole message within the time-out")
                self._sock.settimeout(left)
            try:
                chunk = self._sock.recv(max(count - len(self._buffer), 4096))
            except socket.timeout:
                raise MessageTimeout("no whole message within the time-out") from None
            except OSError as error:
                raise ConnectionClosed(f"receiving failed: {error}") from error
            if not chunk:
                raise ConnectionClosed("the server closed the connection")
            self._buffer += chunk
        data = bytes(self._buffer[:count])
        del self._buffer[:count]
        return data
