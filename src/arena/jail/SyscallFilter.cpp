#include "SyscallFilter.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

/// Refused outright. Names the running system's headers do not know are skipped.
const char* const REFUSED[] = {
    "unshare",
    "setns",
    "mount",
    "umount",
    "umount2",
    "pivot_root",
    "chroot",
    "move_mount",
    "open_tree",
    "fsopen",
    "fsconfig",
    "fsmount",
    "fspick",
    "mount_setattr",
    "bpf",
    "perf_event_open",
    "add_key",
    "request_key",
    "keyctl",
    "io_uring_setup",
    "io_uring_enter",
    "io_uring_register",
    "userfaultfd",
    "init_module",
    "finit_module",
    "delete_module",
    "kexec_load",
    "kexec_file_load",
    "reboot",
    "swapon",
    "swapoff",
    "acct",
    "quotactl",
    "quotactl_fd",
    "syslog",
    "settimeofday",
    "clock_settime",
    "clock_adjtime",
    "adjtimex",
    "open_by_handle_at",
    "name_to_handle_at",
    "fanotify_init",
    "lookup_dcookie",
    "iopl",
    "ioperm",
    "vhangup",
    "nfsservctl",
};

/// clone flags that make a namespace.
const unsigned long NAMESPACE_FLAGS[] = {CLONE_NEWNS,  CLONE_NEWUSER, CLONE_NEWNET,   CLONE_NEWPID,
                                         CLONE_NEWIPC, CLONE_NEWUTS,  CLONE_NEWCGROUP};

bool addRules(scmp_filter_ctx ctx) {
    for (const char* name : REFUSED) {
        const int nr = seccomp_syscall_resolve_name(name);
        if (nr >= 0 && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), nr, 0) != 0) {
            return false;
        }
    }
    const int clone = seccomp_syscall_resolve_name("clone");
    for (const unsigned long flag : NAMESPACE_FLAGS) {
        if (seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), clone, 1,
                             SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) != 0) {
            return false;
        }
    }
    const int clone3 = seccomp_syscall_resolve_name("clone3");
    return clone3 < 0 || seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), clone3, 0) == 0;
}

/// Compiles the filter into its BPF bytes; empty, with the reason, on failure.
std::string compile(std::string& error) {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (ctx == nullptr) {
        error = "cannot build the jail's system-call filter (libseccomp)";
        return "";
    }
    std::string program;
    const int fd = memfd_create("arena-filter", MFD_CLOEXEC);
    if (fd >= 0 && addRules(ctx) && seccomp_export_bpf(ctx, fd) == 0 &&
        lseek(fd, 0, SEEK_SET) == 0) {
        char buffer[4096];
        for (ssize_t n = read(fd, buffer, sizeof buffer); n > 0;
             n = read(fd, buffer, sizeof buffer)) {
            program.append(buffer, static_cast<size_t>(n));
        }
    }
    if (program.empty()) {
        error = std::string("cannot build the jail's system-call filter: ") + std::strerror(errno);
    }
    if (fd >= 0) {
        close(fd);
    }
    seccomp_release(ctx);
    return program;
}

} // namespace

int SyscallFilter::open(std::string& error) {
    static std::once_flag once;
    static std::string program;
    static std::string failure;
    std::call_once(once, [] { program = compile(failure); });
    if (program.empty()) {
        error = failure;
        return -1;
    }
    const int fd = memfd_create("arena-filter", MFD_CLOEXEC);
    const ssize_t size = static_cast<ssize_t>(program.size());
    if (fd < 0 || write(fd, program.data(), program.size()) != size ||
        lseek(fd, 0, SEEK_SET) != 0) {
        error =
            std::string("cannot hand the system-call filter to the jail: ") + std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

std::vector<std::string> SyscallFilter::refused() {
    std::vector<std::string> out;
    for (const char* name : REFUSED) {
        if (seccomp_syscall_resolve_name(name) >= 0) {
            out.emplace_back(name);
        }
    }
    out.emplace_back("clone with a namespace flag");
    out.emplace_back("clone3 (ENOSYS)");
    return out;
}
