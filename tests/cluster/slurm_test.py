#!/usr/bin/env python3
"""A one-node Slurm cluster started here in a temporary folder (its own munge key, config,
spool and state) runs a tournament through "arena slurm --submit": a job array of at most two
tasks at once. One task is made to fail (its record's path is taken by a folder): its match
stays pending, and the next submission plays just that one. Every match is recorded exactly
once, with the same results as the same tournament played here. Exits 77 (skipped) when not
root or when Slurm or munge is missing."""

import os
import shutil
import tempfile
import time

import cluster_common as common
from slurm_cluster import PROGRAMS, Cluster

MAX_RUNNING = 2


def main():
    args = common.arguments()
    common.require(PROGRAMS)
    tmp = tempfile.mkdtemp(prefix="arena-slurm-")
    cluster = None
    try:
        config = common.write_tournament(tmp, rounds=args.rounds, base_port=31000)
        out = os.path.join(tmp, "out")
        common.run([args.arena, "plan", out, "--config", config])
        broken = common.planned_ids(out)[2]
        os.mkdir(os.path.join(out, "matches", broken + ".json"))
        cluster = Cluster(tmp)
        cluster.start()
        submit = [args.arena, "slurm", out, "--max-running", str(MAX_RUNNING), "--time", "5",
                  "--submit"]
        # Generous: a few seconds per match, on a machine that may be busy.
        timeout = 60 + 15 * len(common.planned_ids(out))
        started = time.monotonic()
        most = cluster.run_array(submit, timeout)
        first = time.monotonic() - started
        assert 1 <= most <= MAX_RUNNING, f"{most} tasks ran at once"
        pending = common.run([args.arena, "plan", out]).splitlines()
        assert pending == [f"{os.path.realpath(args.arena)} play {out} {broken}"], pending

        os.rmdir(os.path.join(out, "matches", broken + ".json"))
        started = time.monotonic()
        cluster.run_array(submit, timeout)
        second = time.monotonic() - started
        played = common.check_all_recorded(out)
        common.summary("slurm", first + second, out)
        outputs = os.listdir(os.path.join(out, "slurm"))
        assert len(outputs) == len(played) + 1, f"task outputs: {sorted(outputs)}"
        common.compare_with_local(args.arena, config, played, os.path.join(tmp, "local"))
    except BaseException:
        if cluster:
            print(cluster.logs())
        raise
    finally:
        if cluster:
            cluster.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
