#pragma once
// The system calls refused to every jailed program, compiled for bubblewrap's --seccomp.

#include <string>
#include <vector>

/// A seccomp filter that lets a jailed program do what programs do and refuses (with EPERM)
/// what only serves to leave or widen its jail: new namespaces (unshare, setns, clone with a
/// namespace flag; clone3, whose flags a filter cannot read, answers ENOSYS so that the C
/// library falls back to clone), mounts of every kind, bpf, perf events, keyrings, io_uring
/// (its operations pass beside the filter), userfaultfd, modules, kexec, reboot, swap,
/// clocks, quotas and process accounting. A system call of another architecture (32-bit
/// calls on a 64-bit system) kills the program. ptrace stays allowed: a jail's own process
/// namespace holds only the program's own tree.
class SyscallFilter {
public:
    /// A new descriptor (close-on-exec, read from its start) holding the compiled filter, to
    /// hand to one bubblewrap as `--seccomp FD`; -1, with the reason, when the filter cannot
    /// be built here. The program is compiled once per process.
    static int open(std::string& error);
    /// The system calls refused, by name (those this system knows).
    static std::vector<std::string> refused();
};
