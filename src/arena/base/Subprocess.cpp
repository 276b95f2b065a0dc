#include "Subprocess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <iterator>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned NOBODY = 65534;

/// Everything the child needs, made before fork: after it, only system calls.
struct Prepared {
    std::string program;
    std::vector<std::string> args;
    std::vector<std::string> envStrings;
    std::vector<char*> argp;
    std::vector<char*> envp;
    cpu_set_t cores;
};

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        end = end == std::string::npos ? dirs.size() : end;
        std::string candidate =
            (end == start ? std::string(".") : dirs.substr(start, end - start)) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return name;
}

void prepare(const std::vector<std::string>& argv, const Subprocess::Options& options,
             Prepared& p) {
    p.program = findProgram(argv[0]);
    p.args = argv;
    if (!options.cleanEnv) {
        for (char** e = environ; *e != nullptr; ++e) {
            p.envStrings.emplace_back(*e);
        }
    }
    for (const std::string& add : options.env) {
        const std::string name = add.substr(0, add.find('=') + 1);
        for (std::string& e : p.envStrings) {
            if (e.compare(0, name.size(), name) == 0) {
                e.clear();
            }
        }
        p.envStrings.push_back(add);
    }
    for (std::string& e : p.envStrings) {
        if (!e.empty()) {
            p.envp.push_back(e.data());
        }
    }
    p.envp.push_back(nullptr);
    for (std::string& a : p.args) {
        p.argp.push_back(a.data());
    }
    p.argp.push_back(nullptr);
    CPU_ZERO(&p.cores);
    for (const unsigned core : options.cores) {
        if (core < CPU_SETSIZE) {
            CPU_SET(core, &p.cores);
        }
    }
}

/// Writes this process into each control group named; false with errno set on a failure.
bool joinGroups(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && write(fd, "0", 1) == 1;
        const int e = errno;
        if (fd >= 0) {
            close(fd);
        }
        if (!ok) {
            errno = e;
            return false;
        }
    }
    return true;
}

/// Reports errno through the status pipe and ends the child.
[[noreturn]] void fail(int statusFd) {
    const int e = errno;
    (void)!write(statusFd, &e, sizeof e);
    _exit(127);
}

/// Closes every descriptor above the standard streams except `a` and `b` (-1: none).
void closeAllBut(int a, int b, int c) {
    int keeps[] = {a, b, c};
    std::sort(std::begin(keeps), std::end(keeps));
    unsigned from = 3;
    for (const int keep : keeps) {
        if (keep >= static_cast<int>(from)) {
            if (keep > static_cast<int>(from)) {
                syscall(SYS_close_range, from, static_cast<unsigned>(keep - 1), 0U);
            }
            from = static_cast<unsigned>(keep) + 1;
        }
    }
    syscall(SYS_close_range, from, ~0U, 0U);
}

/// In the child, between fork and exec.
[[noreturn]] void becomeChild(const Prepared& p, const Subprocess::Options& options, pid_t parent,
                              int devNull, int outFd, int statusFd) {
    setpgid(0, 0);
    // Before joining the match's namespaces, which take away the rights on the groups' files.
    if (!joinGroups(options.groupFiles) ||
        (!options.cores.empty() && sched_setaffinity(0, sizeof p.cores, &p.cores) != 0)) {
        fail(statusFd);
    }
    if ((options.userNamespaceFd >= 0 && setns(options.userNamespaceFd, CLONE_NEWUSER) != 0) ||
        (options.netNamespaceFd >= 0 && setns(options.netNamespaceFd, CLONE_NEWNET) != 0)) {
        fail(statusFd);
    }
    if (options.dropPrivileges &&
        (setgroups(0, nullptr) != 0 || setresgid(NOBODY, NOBODY, NOBODY) != 0 ||
         setresuid(NOBODY, NOBODY, NOBODY) != 0)) {
        fail(statusFd);
    }
    // After the changes of identity, which clear it. The parent may have ended between fork
    // and prctl: then nobody would kill us.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(127);
    }
    if (dup2(devNull, 0) < 0 || dup2(outFd, 1) < 0 || dup2(outFd, 2) < 0) {
        fail(statusFd);
    }
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) {
        fail(statusFd);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM}) {
        signal(sig, SIG_DFL);
    }
    // Only the standard streams, the status pipe (close-on-exec) and the inherited one stay.
    for (const int keep : {options.inheritFd, options.filterFd}) {
        if (keep >= 0 && fcntl(keep, F_SETFD, 0) != 0) {
            fail(statusFd);
        }
    }
    closeAllBut(statusFd, options.inheritFd, options.filterFd);
    execve(p.program.c_str(), p.argp.data(), p.envp.data());
    fail(statusFd);
}

} // namespace

Subprocess::~Subprocess() {
    stop(500);
    closeOutput();
}

bool Subprocess::start(const std::vector<std::string>& argv, const Options& options,
                       std::string& error) {
    Prepared p;
    prepare(argv, options, p);
    int out[2];
    int status[2];
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0 || pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(status, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        close(devNull);
        return false;
    }
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        becomeChild(p, options, parent, devNull, out[1], status[1]);
    }
    const int forkErrno = errno;
    if (m_pid > 0) {
        // Also here, so that stopping the group works however soon it is asked.
        setpgid(m_pid, m_pid);
    }
    close(devNull);
    close(out[1]);
    close(status[1]);
    int childErrno = m_pid < 0 ? forkErrno : 0;
    if (m_pid > 0) {
        ssize_t n = 0;
        while ((n = read(status[0], &childErrno, sizeof childErrno)) < 0 && errno == EINTR) {
        }
        if (n != static_cast<ssize_t>(sizeof childErrno)) {
            childErrno = 0;
        }
    }
    close(status[0]);
    if (childErrno != 0) {
        if (m_pid > 0) {
            waitpid(m_pid, nullptr, 0);
        }
        close(out[0]);
        m_pid = -1;
        error = "cannot start " + argv[0] + ": " + std::strerror(childErrno);
        return false;
    }
    m_out = out[0];
    fcntl(m_out, F_SETFL, fcntl(m_out, F_GETFL) | O_NONBLOCK);
    m_ended = false;
    return true;
}

void Subprocess::closeOutput() {
    if (m_out >= 0) {
        close(m_out);
        m_out = -1;
    }
}

bool Subprocess::readSome(std::string& out) {
    if (m_out < 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t n = read(m_out, buffer, sizeof buffer);
    if (n > 0) {
        out.append(buffer, static_cast<size_t>(n));
        return true;
    }
    if (n == 0) {
        closeOutput();
    }
    return false;
}

bool Subprocess::reap(bool block) {
    int status = 0;
    struct rusage use {};
    pid_t r = 0;
    while ((r = wait4(m_pid, &status, block ? 0 : WNOHANG, &use)) < 0 && errno == EINTR) {
    }
    if (r != m_pid) {
        return false;
    }
    m_ended = true;
    m_status = status;
    const auto ms = [](const timeval& t) {
        return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_usec) / 1000;
    };
    m_cpuMs = ms(use.ru_utime) + ms(use.ru_stime);
    m_maxRssKb = static_cast<uint64_t>(use.ru_maxrss);
    return true;
}

bool Subprocess::running() {
    if (m_pid < 0 || m_ended) {
        return false;
    }
    if (reap(false)) {
        // Whatever it left running in its group goes with it.
        kill(-m_pid, SIGKILL);
        return false;
    }
    return true;
}

std::string Subprocess::describeEnd() const {
    if (!m_ended) {
        return "still running";
    }
    if (WIFSIGNALED(m_status)) {
        return "killed by signal " + std::to_string(WTERMSIG(m_status));
    }
    return "exit status " + std::to_string(WEXITSTATUS(m_status));
}

void Subprocess::stop(int graceMs) {
    if (m_pid < 0 || !running()) {
        return;
    }
    kill(-m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    while (running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (running()) {
        kill(-m_pid, SIGKILL);
        if (!reap(true)) {
            m_ended = true;
        }
    }
}
