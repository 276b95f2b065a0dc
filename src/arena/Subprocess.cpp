#include "Subprocess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

Subprocess::~Subprocess() {
    stop(500);
    closeOutput();
}

bool Subprocess::start(const std::vector<std::string>& argv, const std::string& workDir,
                       const std::vector<std::string>& env, std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // dup2 clears close-on-exec on the copies; the originals close at exec.
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The arena ignores SIGPIPE and catches SIGINT; children start with the defaults.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    for (const std::string& add : env) {
        const std::string name = add.substr(0, add.find('=') + 1);
        for (std::string& e : envStrings) {
            if (e.compare(0, name.size(), name) == 0) {
                e.clear();
            }
        }
        envStrings.push_back(add);
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) {
        if (!e.empty()) {
            envp.push_back(e.data());
        }
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    argp.reserve(args.size() + 1);
    for (std::string& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);

    const int rc = posix_spawnp(&m_pid, argp[0], &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        m_pid = -1;
        error = "cannot start " + argv[0] + ": " + std::strerror(rc);
        return false;
    }
    m_out = fds[0];
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

bool Subprocess::running() {
    if (m_pid < 0 || m_ended) {
        return false;
    }
    int status = 0;
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_ended = true;
        m_status = status;
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
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_ended = true;
        m_status = status;
    }
}
