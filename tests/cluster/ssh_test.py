#!/usr/bin/env python3
"""An sshd started here on a private loopback port (temporary host and user keys) is the
worker of the GNU parallel command of docs/arena.md that sends the plan (--basefile), brings
each record back (--return) and cleans up (--cleanup), run as the document writes it. Every
ssh session sees a "remote" folder of its own in place of the tournament folder (a bind mount
in a mount namespace), so that the records reach the tournament folder only by being brought
back. The records equal those of the same tournament played here. Exits 77 (skipped) when not
root or when sshd, GNU parallel or rsync is missing."""

import os
import re
import shutil
import subprocess
import tempfile
import time

import cluster_common as common

DOCS = os.path.join(common.HERE, "..", "..", "docs", "arena.md")

SSHD_CONFIG = """\
ListenAddress 127.0.0.1
Port {port}
HostKey {tmp}/host_key
AuthorizedKeysFile {tmp}/authorized_keys
StrictModes no
PidFile {tmp}/sshd.pid
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
ForceCommand {tmp}/remote-shell
"""

# The worker's view: the remote folder in place of the tournament folder, then the command
# that ssh was given, in the login shell as usual.
REMOTE_SHELL = """\
#!/bin/sh
exec unshare --mount --propagation private sh -c \
    'mount --bind "$0" "$1" && exec "$SHELL" -c "$SSH_ORIGINAL_COMMAND"' {remote} {out}
"""

SSH_CONFIG = """\
Host worker
  HostName 127.0.0.1
  Port {port}
  User root
  IdentityFile {tmp}/user_key
  IdentitiesOnly yes
  StrictHostKeyChecking no
  UserKnownHostsFile /dev/null
  BatchMode yes
  LogLevel ERROR
  ControlMaster auto
  ControlPath {tmp}/master-%C
  ControlPersist 60
"""


def documented_command():
    """The ssh form of docs/arena.md, its continuation lines joined."""
    with open(DOCS) as f:
        text = f.read()
    found = re.search(r"^ {4}(arena plan out \| parallel --sshloginfile nodes --colsep .*?\n"
                      r"(?: {8}.*\n)*)", text, re.MULTILINE)
    assert found, "docs/arena.md has no 'arena plan out | parallel --sshloginfile' form"
    return found.group(1)


def write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def start_sshd(tmp, remote, out):
    port = common.free_port()
    for key in ("host_key", "user_key"):
        common.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(tmp, key)])
    shutil.copy(os.path.join(tmp, "user_key.pub"), os.path.join(tmp, "authorized_keys"))
    write(os.path.join(tmp, "sshd_config"), SSHD_CONFIG.format(port=port, tmp=tmp))
    write(os.path.join(tmp, "remote-shell"), REMOTE_SHELL.format(remote=remote, out=out), 0o755)
    write(os.path.join(tmp, "ssh_config"), SSH_CONFIG.format(port=port, tmp=tmp))
    # Two matches at once on the worker; one connection carries all sessions (ControlMaster),
    # as an organiser would set it up to save a handshake per transfer.
    write(os.path.join(tmp, "nodes"), f"2/ssh -F {tmp}/ssh_config worker\n")
    # sshd insists on its privilege separation folder.
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
    sshd = common.Namespace(f"exec /usr/sbin/sshd -D -e -f {tmp}/sshd_config",
                            os.path.join(tmp, "sshd.log"))
    probe = ["ssh", "-F", os.path.join(tmp, "ssh_config"), "worker", "true"]

    def answers():
        if not sshd.running():
            raise AssertionError("sshd stopped")
        return subprocess.run(probe, stdin=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0

    common.wait_for("sshd", answers, 30)
    return sshd


def main():
    args = common.arguments()
    common.require(["unshare", "mount", "/usr/sbin/sshd", "ssh", "ssh-keygen", "parallel",
                    "rsync"])
    tmp = tempfile.mkdtemp(prefix="arena-ssh-")
    sshd = None
    try:
        config = common.write_tournament(tmp, rounds=args.rounds, base_port=36000)
        out = os.path.join(tmp, "out")
        remote = os.path.join(tmp, "remote")
        os.mkdir(remote)
        common.run([args.arena, "plan", out, "--config", config])
        sshd = start_sshd(tmp, remote, out)
        command = documented_command().replace("arena plan", args.arena + " plan", 1)
        started = time.monotonic()
        common.run(["bash", "-euo", "pipefail", "-c", command], cwd=tmp, timeout=600)
        wall = time.monotonic() - started

        played = common.check_all_recorded(out)
        common.summary("ssh", wall, out)
        assert not os.path.exists(os.path.join(out, "logs")), "played here, not on the worker"
        logs = sorted(e.name for e in os.scandir(os.path.join(remote, "logs")) if e.is_dir())
        assert logs == sorted(played), f"logs on the worker: {logs}"
        matches = os.path.join(remote, "matches")
        left = os.listdir(matches) if os.path.isdir(matches) else []
        assert not left and not os.path.exists(os.path.join(remote, "plan.json")), \
            f"--cleanup left the plan or records {left}"
        common.compare_with_local(args.arena, config, played, os.path.join(tmp, "local"))
    except BaseException:
        if sshd and os.path.exists(os.path.join(tmp, "sshd.log")):
            with open(os.path.join(tmp, "sshd.log"), errors="replace") as f:
                print(f.read()[-4000:])
        raise
    finally:
        if sshd:
            subprocess.run(["ssh", "-F", os.path.join(tmp, "ssh_config"), "-O", "exit",
                            "worker"], stderr=subprocess.DEVNULL)
            sshd.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
