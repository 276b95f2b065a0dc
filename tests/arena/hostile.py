#!/usr/bin/env python3
"""A bot that attacks its jail: hostile.py MODE [ARG], port from REVERSI_PORT.

It says on its output whether the attempt was blocked, then plays badly (every answer (0, 0))
so that the match ends; the modes that meet a limit end with the error the limit caused.

read FILE    read another bot's file          write DIR    write into the records folder
hostnet PORT connect to the host's loopback   twice        connect twice to its own server
sigstop      freeze every process it sees     killparent   kill -9 its parent
daemon MARK  leave a setsid sleeper behind    forkbomb     fork until refused
memory       allocate past the memory limit   fill         fill its writable folder
hang         connect, send its group id, then say nothing
children     eight children holding 200 MB each
everywhere   write into every folder that looks writable, then fill /dev/shm
"""
import os
import signal
import socket
import struct
import subprocess
import sys
import time


def connect():
    return socket.create_connection((os.environ["REVERSI_HOST"], int(os.environ["REVERSI_PORT"])))


def say(what, blocked):
    print(what + ": " + ("blocked" if blocked else "NOT BLOCKED"), flush=True)


def attempt(mode, arg):
    if mode == "read":
        try:
            with open(arg) as f:
                f.read()
            say("read", False)
        except OSError:
            say("read", True)
    elif mode == "write":
        try:
            with open(os.path.join(arg, "forged.json"), "w") as f:
                f.write("{}")
            say("write", False)
        except OSError:
            say("write", True)
    elif mode == "hostnet":
        try:
            socket.create_connection(("127.0.0.1", int(arg)), timeout=2).close()
            say("hostnet", False)
        except OSError:
            say("hostnet", True)
    elif mode == "sigstop":
        mine = {os.getpid(), os.getppid(), 1}
        others = [int(p) for p in os.listdir("/proc") if p.isdigit() and int(p) not in mine]
        for pid in others:
            try:
                os.kill(pid, signal.SIGSTOP)
            except OSError:
                pass
        print("sigstop: saw %d other processes" % len(others), flush=True)
    elif mode == "killparent":
        try:
            os.kill(os.getppid(), signal.SIGKILL)
        except OSError:
            pass
    elif mode == "daemon":
        subprocess.Popen(["sleep", "300", arg], start_new_session=True)
    elif mode == "forkbomb":
        while True:
            if os.fork() == 0:
                time.sleep(30)
                os._exit(0)
    elif mode == "memory":
        hoard = []
        while True:
            hoard.append(bytearray(64 << 20))
    elif mode == "children":
        for _ in range(8):
            if os.fork() == 0:
                hoard = bytearray(200 << 20)
                for i in range(0, len(hoard), 4096):
                    hoard[i] = 1
                time.sleep(30)
                os._exit(0)
        time.sleep(3)
    elif mode == "everywhere":
        for folder in ("/", "/etc", "/dev", "/usr", "/proc", os.getcwd()):
            try:
                with open(os.path.join(folder, "hostile-was-here"), "w") as f:
                    f.write("x")
                say("write " + folder, False)
            except OSError:
                say("write " + folder, True)
        with open("/dev/shm/fill", "wb") as f:
            while True:
                f.write(b"x" * (1 << 20))
                f.flush()
    elif mode == "fill":
        with open(os.path.join(os.environ["HOME"], "fill"), "wb") as f:
            while True:
                f.write(b"x" * (1 << 20))
                f.flush()


def read_exact(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            sys.exit(0)
        data += chunk
    return data


def play(mode):
    s = connect()
    if mode == "twice":
        connect()
    s.sendall(struct.pack(">BIB", 1, 1, 9))
    if mode in ("twice", "hang"):
        time.sleep(60)
    while True:
        kind, length = struct.unpack(">BI", read_exact(s, 5))
        read_exact(s, length)
        if kind == 4:
            s.sendall(struct.pack(">BIHHB", 5, 5, 0, 0, 0))


attempt(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "")
play(sys.argv[1])
