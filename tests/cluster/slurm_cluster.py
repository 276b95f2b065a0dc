"""A one-node Slurm cluster started in a temporary folder: its own munge key, config, spool
and state, its daemons in a PID namespace of their own, stopped with the test."""

import os
import socket
import subprocess

import cluster_common as common

PROGRAMS = ["unshare", "mungekey", "munged", "slurmctld", "slurmd", "sbatch", "squeue", "sinfo"]

# More slots than tasks allowed at once, so that --max-running is what limits them.
NODE_CPUS = 8

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
