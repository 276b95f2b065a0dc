#!/usr/bin/env python3
"""A bot that misbehaves on purpose: fakebot.py MODE, port from REVERSI_PORT.

twice    opens two connections and says nothing
hang     sends its group id, then never answers
illegal  sends its group id, then answers every move request with (0, 0)
"""
import os
import socket
import struct
import sys
import time


def connect():
    return socket.create_connection((os.environ["REVERSI_HOST"], int(os.environ["REVERSI_PORT"])))


def read_exact(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            sys.exit(0)
        data += chunk
    return data


mode = sys.argv[1]
if mode == "twice":
    first, second = connect(), connect()
    time.sleep(60)
    sys.exit(0)
s = connect()
s.sendall(struct.pack(">BIB", 1, 1, 9))
if mode == "hang":
    time.sleep(60)
while True:
    kind, length = struct.unpack(">BI", read_exact(s, 5))
    read_exact(s, length)
    if kind == 4:
        s.sendall(struct.pack(">BIHHB", 5, 5, 0, 0, 0))
