#!/usr/bin/env python3
"""A bot that attacks its jail: hostile.py MODE [ARG], port from REVERSI_PORT.

It says on its output whether the attempt was blocked, then plays badly (every answer (0, 0))
so that the match ends; the modes that meet a limit end with the error the limit caused.

read FILE    read another bot's file          write DIR    write into the records folder
hostnet PORT connect to the host's loopback   twice        connect twice to its own server
sigstop      freeze every process it sees     killparent   kill -9 its parent, once seated
daemon MARK  leave a setsid sleeper behind    forkbomb     fork until refused
memory       allocate past the memory limit   fill         fill its writable folder
hang         connect, send its group id, then say nothing
syscalls     new namespaces, mount, bpf, perf events, keyrings (the filter refuses each)
ghost MS     a child connects MS ms after the bot and closes at once, taking the next seat
listen       offer TCP, UDP and an abstract unix socket to the other bots of its match
reach        try to reach what a bot in "listen" offers (each fails)
freeze       stop itself (SIGSTOP) at its first move request
park         a child connects again and parks the connection in a unix socket, unheld
children     eight children holding 200 MB each
everywhere   write into every folder that looks writable, then fill /dev/shm
"""
import ctypes
import os
import platform
import signal
import socket
import struct
import subprocess
import sys
import time


def connect():
    return socket.create_connection((os.environ["REVERSI_HOST"], int(os.environ["REVERSI_PORT"])))


# unshare, mount, bpf, perf_event_open, keyctl by architecture.
SYSCALLS = {"x86_64": (272, 165, 321, 298, 250), "aarch64": (97, 40, 280, 241, 219)}
CLONE_NEWUSER = 0x10000000


TALK_PORT = 7777
TALK_NAME = b"\0reversi-talk"
OFFERED = []


def offer():
    """Answers on TCP, an abstract unix socket and UDP, from a child, for the match's length."""
    tcp = socket.create_server(("127.0.0.1", TALK_PORT))
    unix = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    unix.bind(TALK_NAME)
    unix.listen(4)
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", TALK_PORT))
    if os.fork() == 0:
        while True:
            data, peer = udp.recvfrom(64)
            udp.sendto(data, peer)
    return tcp, unix, udp


def reach():
    for name, family, kind, address in (
            ("talk tcp", socket.AF_INET, socket.SOCK_STREAM, ("127.0.0.1", TALK_PORT)),
            ("talk abstract", socket.AF_UNIX, socket.SOCK_STREAM, TALK_NAME),
            ("talk udp", socket.AF_INET, socket.SOCK_DGRAM, ("127.0.0.1", TALK_PORT))):
        s = socket.socket(family, kind)
        s.settimeout(1)
        try:
            s.connect(address)
            if kind == socket.SOCK_DGRAM:
                s.send(b"hello")
                s.recv(64)
            say(name, False)
        except OSError:
            say(name, True)


def refused_calls():
    libc = ctypes.CDLL(None, use_errno=True)
    unshare, mount, bpf, perf, keyctl = SYSCALLS[platform.machine()]
    tries = {
        "unshare": (unshare, CLONE_NEWUSER),
        "mount": (mount, b"none", b"/tmp", b"tmpfs", 0, None),
        "bpf": (bpf, 0, None, 0),
        "perf_event_open": (perf, None, 0, -1, -1, 0),
        "keyctl": (keyctl, 0, -3, 0),
    }
    for name, args in tries.items():
        done = libc.syscall(*args) == 0
        say(name, not done and ctypes.get_errno() == 1)


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
    elif mode == "listen":
        OFFERED.extend(offer())
    elif mode == "reach":
        reach()
    elif mode == "syscalls":
        refused_calls()
    elif mode == "ghost":
        if os.fork() == 0:
            time.sleep(int(arg) / 1000)
            connect().close()
            os._exit(0)
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


def park():
    """A second connection passed into a unix socket that nobody reads: no process holds it."""
    keep, far = socket.socketpair()
    extra = connect()
    keep.sendmsg([b"x"], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, struct.pack("i", extra.fileno()))])
    extra.close()
    return keep, far


def play(mode):
    s = connect()
    if mode == "twice":
        connect()
    if mode == "park":
        parked = park()  # noqa: F841 (held open on purpose)
    if mode == "ghost":
        time.sleep(0.5)  # keeps the match going while the ghost comes
    s.sendall(struct.pack(">BIB", 1, 1, 9))
    if mode in ("twice", "hang"):
        time.sleep(60)
    while True:
        kind, length = struct.unpack(">BI", read_exact(s, 5))
        read_exact(s, length)
        if mode == "killparent":
            # Once in its seat: its end then cannot race the arena's sight of its admission.
            try:
                os.kill(os.getppid(), signal.SIGKILL)
            except OSError:
                pass
        if kind == 4 and mode == "freeze":
            os.kill(os.getpid(), signal.SIGSTOP)
        if kind == 4:
            s.sendall(struct.pack(">BIHHB", 5, 5, 0, 0, 0))


attempt(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "")
play(sys.argv[1])
