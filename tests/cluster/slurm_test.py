#!/usr/bin/env python3
"""A one-node Slurm cluster started here in a temporary folder (its own munge key, config,
spool and state) runs a tournament through "arena slurm --submit": a job array of at most two
tasks at once. One task is made to fail (its record's path is taken by a folder): its match
stays pending, and the next submission plays just that one. Every match is recorded exactly
once, with the same results as the same tournament played here. Exits 77 (skipped) when not
root or when Slurm or munge is missing."""

import os
import shutil
import socket
import subprocess
import tempfile
import time

import cluster_common as common

# More slots than tasks allowed at once, so that --max-running is what limits them.
NODE_CPUS = 8
MAX_RUNNING = 2

SLURM_CONF = """\
ClusterName=arenatest
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={ctld_port}
SlurmdPort={slurmd_port}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket={tmp}/munge.socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
SlurmdParameters=config_overrides
StateSaveLocation={tmp}/state
SlurmdSpoolDir={tmp}/spool
SlurmctldPidFile={tmp}/slurmctld.pid
SlurmdPidFile={tmp}/slurmd.pid
SlurmctldLogFile={tmp}/slurmctld.log
SlurmdLogFile={tmp}/slurmd.log
PlugStackConfig={tmp}/plugstack.conf
NodeName={host} NodeAddr=127.0.0.1 CPUs={cpus} RealMemory=16000 State=UNKNOWN
PartitionName=arena Nodes={host} Default=YES MaxTime=INFINITE State=UP
"""

# munged first (slurmctld and slurmd need its socket), then both Slurm daemons in the
# foreground; PID 1 of the namespace waits for them.
DAEMONS = """\
munged -F --force -S {tmp}/munge.socket --key-file={tmp}/munge.key \
    --log-file={tmp}/munged.log --pid-file={tmp}/munged.pid --seed-file={tmp}/munged.seed &
i=0
while [ ! -S {tmp}/munge.socket ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
slurmctld -D -f {tmp}/slurm.conf &
slurmd -D -f {tmp}/slurm.conf &
wait
"""


class Cluster:
    def __init__(self, tmp):
        self.tmp = tmp
        for sub in ("state", "spool"):
            os.mkdir(os.path.join(tmp, sub))
        open(os.path.join(tmp, "plugstack.conf"), "w").close()
        common.run(["mungekey", "-c", "-k", os.path.join(tmp, "munge.key")])
        host = socket.gethostname().split(".")[0]
        with open(os.path.join(tmp, "slurm.conf"), "w") as f:
            f.write(SLURM_CONF.format(host=host, tmp=tmp, cpus=NODE_CPUS,
                                      ctld_port=common.free_port(),
                                      slurmd_port=common.free_port()))
        self.env = dict(os.environ, SLURM_CONF=os.path.join(tmp, "slurm.conf"))
        self.daemons = None

    def start(self):
        self.daemons = common.Namespace(DAEMONS.format(tmp=self.tmp),
                                        os.path.join(self.tmp, "daemons.log"))
        common.wait_for("an idle node", self.idle, 60)

    def idle(self):
        if not self.daemons.running():
            raise AssertionError("the cluster stopped:\n" + self.logs())
        out = subprocess.run(["sinfo", "-h", "-o", "%T"], env=self.env, text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        return out.strip() == "idle"

    def logs(self):
        text = ""
        for name in ("daemons.log", "slurmctld.log", "slurmd.log", "munged.log"):
            path = os.path.join(self.tmp, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text += f"--- {name}\n" + "".join(f.readlines()[-30:])
        return text

    def run_array(self, command, timeout):
        """Submits with the arena, waits for every task to end, and returns the most tasks
        seen running at once."""
        job = common.run(command, env=self.env).strip()
        assert job.isdigit(), f"not a job id: {job!r}"
        most = 0

        def ended():
            nonlocal most
            states = common.run(["squeue", "-h", "-r", "-j", job, "-o", "%T"],
                                env=self.env).split()
            most = max(most, states.count("RUNNING"))
            return not states

        common.wait_for(f"job array {job}", ended, timeout)
        return most

    def stop(self):
        if self.daemons:
            self.daemons.stop()


def main():
    args = common.arguments()
    common.require(["unshare", "mungekey", "munged", "slurmctld", "slurmd", "sbatch",
                    "squeue", "sinfo"])
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
