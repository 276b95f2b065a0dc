#!/usr/bin/env python3
"""A league on a PostgreSQL server played by "arena slurm --workers 2 --submit" on a one-node
Slurm cluster, both started here in a temporary folder and stopped with the test: the two
workers share the league's matches, and every needed match is claimed and played exactly once.
Before that, without either service: the script of an SQLite league's one worker, and the
refusals, each one line. Exits 77 (skipped) when not root or when Slurm, munge or PostgreSQL
is missing."""

import json
import os
import shutil
import subprocess
import tempfile

import cluster_common as common
from slurm_cluster import PROGRAMS, Cluster

PG_BIN = "/usr/lib/postgresql/15/bin"
WORKERS = 2
# Three bots on one two-seat map, one round: three pairs in both seat orders.
NEEDED = 6


def write_league(folder, database):
    shutil.copy(os.path.join(common.HERE, "small4.map"), folder)
    config = {
        "bots": [{"name": "greedy", "command": "greedy"},
                 {"name": "search", "command": "search"},
                 {"name": "random", "command": "random:5"}],
        "maps": ["small4.map"],
        "depth": 2,
        "seed": 7,
        "base_port": 32000,
        # The jail does not start inside the PID namespaces the tests keep their daemons in.
        "sandbox": False,
    }
    if database:
        config["database"] = database
    with open(os.path.join(folder, "league.json"), "w") as f:
        json.dump(config, f)


def check_without_services(arena, tmp):
    """What "arena slurm" writes or refuses before any service is needed: an SQLite league gets
    one worker only, and --workers and --jobs are for leagues."""
    lite = os.path.join(tmp, "lite")
    os.mkdir(lite)
    write_league(lite, None)
    tournament = os.path.join(tmp, "tournament")
    os.mkdir(tournament)
    cases = [
        (["--workers", "2"], 1, "",
         f"arena slurm: the league's database {lite}/league.db is an SQLite file, which only "
         f"one machine can use: run one worker (--workers 1), or give the league a PostgreSQL "
         f"\"database\" in {lite}/league.json for 2 workers\n"),
        (["--workers", "1", "-j", "2"], 0, f"sbatch {lite}/slurm-array.sh\n",
         f"arena slurm: wrote {lite}/slurm-array.sh: 1 worker playing up to 2 matches at once, "
         f"for {NEEDED} matches left to play\n"),
        (["--workers", "2", "TOURNAMENT"], 1, "",
         "arena slurm: --workers and --jobs are for a league; a tournament folder gets one "
         "task per pending match\n"),
    ]
    for options, status, stdout, stderr in cases:
        target = tournament if "TOURNAMENT" in options else lite
        argv = [arena, "slurm", target] + [o for o in options if o != "TOURNAMENT"]
        out = subprocess.run(argv, text=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=60)
        assert (out.returncode, out.stdout, out.stderr) == (status, stdout, stderr), (argv, out)
        # A refusal writes no script (the written one comes after the refused one).
        if status != 0:
            assert not os.path.exists(os.path.join(target, "slurm-array.sh")), argv
    with open(os.path.join(lite, "slurm-array.sh")) as f:
        lines = f.read().splitlines()
    assert "#SBATCH --array=1-1" in lines and "#SBATCH --cpus-per-task=2" in lines, lines
    assert lines[-1] == f"exec {os.path.realpath(arena)} league {lite}/league.json -j 2", lines


class Postgres:
    """A PostgreSQL server on a private port, run as the postgres user in a PID namespace of
    its own (so that it ends with the test), with one empty database for the league."""

    def __init__(self, tmp):
        self.dir = os.path.join(tmp, "pg")
        self.port = common.free_port()
        self.server = None

    def start(self):
        os.chmod(os.path.dirname(self.dir), 0o755)
        os.mkdir(self.dir)
        shutil.chown(self.dir, "postgres", "postgres")
        common.run(["runuser", "-u", "postgres", "--", f"{PG_BIN}/initdb", "-D",
                    f"{self.dir}/data", "-A", "trust", "-U", "league", "--no-sync"])
        self.server = common.Namespace(
            f"runuser -u postgres -- {PG_BIN}/postgres -D {self.dir}/data -p {self.port} "
            f"-k {self.dir} -c listen_addresses=127.0.0.1 -c fsync=off",
            os.path.join(self.dir, "server.log"))
        common.wait_for("PostgreSQL", lambda: self.sql("postgres", "SELECT 1", check=False), 60)
        self.sql("postgres", "CREATE DATABASE league")
        return f"postgresql://league@127.0.0.1:{self.port}/league"

    def sql(self, database, statement, check=True):
        """The rows of one statement, as lists of fields; None when it failed and `check` is
        off."""
        if not self.server.running():
            raise AssertionError("PostgreSQL stopped; see " + self.dir + "/server.log")
        out = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(self.port), "-U", "league",
                              "-d", database, "-AtF", "\t", "-c", statement], text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if out.returncode != 0:
            assert not check, out.stderr
            return None
        return [line.split("\t") for line in out.stdout.splitlines()]

    def stop(self):
        if self.server:
            self.server.stop()


def check_script(arena, folder):
    with open(os.path.join(folder, "slurm-array.sh")) as f:
        lines = f.read().splitlines()
    for line in (f"#SBATCH --array=1-{WORKERS}%{WORKERS}", "#SBATCH --cpus-per-task=1",
                 f"#SBATCH --output={folder}/slurm/%A_%a.out", "#SBATCH --time=5"):
        assert line in lines, f"{line} not in {lines}"
    assert lines[-1] == f"exec {os.path.realpath(arena)} league {folder}/league.json -j 1", lines


def check_played_once(pg, folder):
    """Every needed match claimed once (its attempts count the claims) and finished; both
    workers played some; no worker played a match that another stored."""
    rows = pg.sql("league", "SELECT status, end_kind, attempts, claimed_by FROM matches "
                  "WHERE needed = 1")
    assert len(rows) == NEEDED, rows
    for status, end, attempts, _ in rows:
        assert (status, end, attempts) == ("done", "final", "1"), rows
    workers = {by.rsplit(":", 1)[0] for _, _, _, by in rows}
    assert len(workers) == WORKERS, f"played by {workers}"
    outputs = sorted(os.listdir(os.path.join(folder, "slurm")))
    assert len(outputs) == WORKERS, outputs
    for name in outputs:
        with open(os.path.join(folder, "slurm", name), errors="replace") as f:
            text = f.read()
        assert "went to another arena" not in text and "Every needed match is played" in text, \
            f"{name}:\n{text}"


def check_nothing_left(arena, folder, env):
    out = subprocess.run([arena, "slurm", folder, "--workers", str(WORKERS), "--submit"],
                         text=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                         timeout=60)
    assert out.returncode == 0 and out.stdout == "", out
    assert out.stderr == ("arena slurm: no match left to play in the league "
                          f"{folder}/league.json to submit\n"), out.stderr


def main():
    args = common.arguments()
    tmp = tempfile.mkdtemp(prefix="arena-slurm-league-")
    cluster = None
    pg = None
    try:
        check_without_services(args.arena, tmp)
        common.require(PROGRAMS + ["runuser", "psql", f"{PG_BIN}/initdb"])
        pg = Postgres(tmp)
        folder = os.path.join(tmp, "league")
        os.mkdir(folder)
        write_league(folder, pg.start())
        cluster = Cluster(tmp)
        cluster.start()
        submit = [args.arena, "slurm", folder, "--workers", str(WORKERS), "-j", "1",
                  "--max-running", str(WORKERS), "--time", "5", "--submit"]
        most = cluster.run_array(submit, 60 + 15 * NEEDED)
        assert 1 <= most <= WORKERS, f"{most} workers ran at once"
        check_script(args.arena, folder)
        check_played_once(pg, folder)
        check_nothing_left(args.arena, folder, cluster.env)
    except BaseException:
        if cluster:
            print(cluster.logs())
        raise
    finally:
        if cluster:
            cluster.stop()
        if pg:
            pg.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
