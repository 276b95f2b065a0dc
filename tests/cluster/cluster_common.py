"""What the tests of many machines share: a small tournament of deterministic bots, its run on
this machine for comparison, daemons kept in a PID namespace of their own so that none outlives
the test, and the checks on a tournament folder's records."""

import argparse
import ctypes
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36


def arguments():
    """The command line of a cluster test: the arena program and the rounds to play."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--arena", required=True)
    parser.add_argument("--rounds", type=int, default=2, help="4 matches each")
    return parser.parse_args()


def skip(reason):
    print(f"SKIP: {reason}")
    sys.exit(SKIP)


def require(programs, root=True):
    """Skips the test when not root or when a program is missing."""
    if root and os.geteuid() != 0:
        skip("needs root (its daemons run as root)")
    missing = [p for p in programs if not shutil.which(p)]
    if missing:
        skip("missing " + ", ".join(missing) + " (tools/setup tests installs them)")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def prctl(option, value):
    ctypes.CDLL(None, use_errno=True).prctl(option, value)


class Namespace:
    """A shell script run as PID 1 of a new PID namespace. Killing it ends every process
    inside (daemons, their children, the jobs they started), and it is killed when this test
    ends in any way, even by SIGKILL."""

    def __init__(self, script, log):
        # Orphans of the namespace come to this test to be reaped, instead of staying zombies
        # under an init that may not reap.
        prctl(PR_SET_CHILD_SUBREAPER, 1)
        self.log = open(log, "wb")
        self.process = subprocess.Popen(
            ["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", "sh", "-c", script],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=lambda: prctl(PR_SET_PDEATHSIG, signal.SIGKILL))

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.running():
            self.process.kill()
        self.process.wait(timeout=30)
        self.log.close()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                if os.waitpid(-1, os.WNOHANG) == (0, 0):
                    time.sleep(0.1)
            except ChildProcessError:
                return


def wait_for(what, check, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if check():
            return
        time.sleep(0.2)
    raise AssertionError(f"timed out after {timeout} s waiting for {what}")


def write_tournament(folder, rounds, base_port):
    """Greedy against search at depth 2 on two small maps: 4 matches per round, each a few
    seconds long, and the same moves every time."""
    for name in ("small4.map", "wide6.map"):
        shutil.copy(os.path.join(HERE, name), folder)
    config = {
        "bots": [{"name": "greedy", "command": "greedy"}, {"name": "search", "command": "search"}],
        "maps": ["small4.map", "wide6.map"],
        "depth": 2,
        "rounds": rounds,
        "seed": 7,
        "base_port": base_port,
        # The jail does not start inside the PID namespaces the tests keep their daemons in.
        "sandbox": False,
    }
    path = os.path.join(folder, "tournament.json")
    with open(path, "w") as f:
        json.dump(config, f)
    return path


def run(argv, **kwargs):
    kwargs.setdefault("timeout", 120)
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, text=True, **kwargs).stdout


def planned_ids(folder):
    with open(os.path.join(folder, "plan.json")) as f:
        return sorted(m["id"] for m in json.load(f)["matches"])


def records(folder):
    """Each match's bots, end, scores, ranks and moves, by id."""
    out = {}
    matches = os.path.join(folder, "matches")
    for name in sorted(os.listdir(matches)):
        with open(os.path.join(matches, name)) as f:
            record = json.load(f)
        out[record["id"]] = {
            "bots": [s["bot"] for s in record["seats"]],
            "end": record["result"]["end"],
            "reason": record["result"].get("reason"),
            "scores": record["result"].get("scores"),
            "ranks": record["result"].get("ranks"),
            "moves": [(m["seat"], m["x"], m["y"], m.get("choice")) for m in record["moves"]],
        }
    return out


def check_all_recorded(folder):
    """One record per planned match, each named after its match, none left half-written."""
    names = sorted(os.listdir(os.path.join(folder, "matches")))
    ids = planned_ids(folder)
    assert names == [i + ".json" for i in ids], f"records {names}, planned {ids}"
    played = records(folder)
    for match_id, record in played.items():
        assert record["end"] == "final", f"{match_id} ended {record['end']}: {record['reason']}"
    return played


def summary(engine, wall, folder, slots=2):
    """Prints the wall time and what each match cost beyond its own duration in its slot."""
    matches = os.path.join(folder, "matches")
    durations = []
    for name in os.listdir(matches):
        with open(os.path.join(matches, name)) as f:
            durations.append(json.load(f)["duration_s"])
    overhead = (wall * slots - sum(durations)) / len(durations)
    print(f"{engine}: {len(durations)} matches, {slots} at once, in {wall:.1f} s; "
          f"{sum(durations) / len(durations):.2f} s per match, "
          f"{overhead:.2f} s overhead per match")


def compare_with_local(arena, config, played, folder):
    """Plays the same tournament here, two at once, and checks the same matches gave the
    same results and moves."""
    started = time.monotonic()
    run([arena, "tournament", config, "--out", folder, "-j", "2"], timeout=600)
    summary("here", time.monotonic() - started, folder)
    local = check_all_recorded(folder)
    assert sorted(local) == sorted(played), f"local {sorted(local)}, cluster {sorted(played)}"
    for match_id in local:
        assert local[match_id] == played[match_id], f"{match_id} differs from the local run"
    print(f"{len(local)} matches: the same results and moves as on this machine")
