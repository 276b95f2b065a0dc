#!/usr/bin/env python3
"""A bot of fixed work: worker.py MS [hog N]. Spends MS milliseconds of CPU time on every move,
then plays the first legal move. With "hog N" it first starts N busy loops, each in a session
of its own, that run as long as it does.

It needs the bot kit (reversi_bot) in its folder.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from reversi_bot import Bot, run  # noqa: E402


class Worker(Bot):
    name = "worker"

    def __init__(self, work_ms):
        super().__init__()
        self.work_s = work_ms / 1000.0

    def choose_move(self, board, time_left_ms, depth):
        end = time.process_time() + self.work_s
        while time.process_time() < end:
            pass
        return board.legal_moves()[0]


def hog(n):
    for _ in range(n):
        if os.fork() == 0:
            os.setsid()
            while True:
                pass


if len(sys.argv) > 3 and sys.argv[2] == "hog":
    hog(int(sys.argv[3]))
run(Worker(int(sys.argv[1])), [])
