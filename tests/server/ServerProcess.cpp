#include "ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

constexpr auto POLL_INTERVAL = std::chrono::milliseconds(10);
const std::string LISTENING = "Server is listening on port ";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "server_test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
    const std::string path = m_path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

ServerProcess::ServerProcess(std::string argv0) : m_argv0(std::move(argv0)) {}

ServerProcess::~ServerProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool ServerProcess::start(const std::vector<std::string>& args, const std::string& stdinText) {
    const std::string in = m_dir.write("stdin.txt", stdinText);
    const std::string out = m_dir.path() + "/stdout.txt";
    const std::string err = m_dir.path() + "/stderr.txt";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    // REVERSI_SERVER_WRAPPER, when set, is a command that runs the server program (words
    // separated by blanks, such as a valgrind command line); the server then sees its full path
    // as its name.
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("REVERSI_SERVER_WRAPPER")) {
        std::istringstream wrapperWords(wrapper);
        for (std::string word; wrapperWords >> word;) {
            words.push_back(word);
        }
    }
    const bool wrapped = !words.empty();
    words.push_back(wrapped ? REVERSI_SERVER_BIN : m_argv0);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    const int rc =
        wrapped
            ? ::posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ)
            : ::posix_spawn(&m_pid, REVERSI_SERVER_BIN, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    return true;
}

bool ServerProcess::waitForOutput(const std::string& text, int msecs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msecs);
    for (;;) {
        if (out().find(text) != std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}

uint16_t ServerProcess::waitForPort(int msecs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msecs);
    for (;;) {
        const std::string text = out();
        const size_t found = text.find(LISTENING);
        if (found != std::string::npos) {
            const size_t pos = found + LISTENING.size();
            size_t end = pos;
            while (end < text.size() && isDigit(text[end])) {
                ++end;
            }
            // The number counts only once its line has been written out completely.
            if (end < text.size() && text[end] == '\n' && end > pos) {
                return static_cast<uint16_t>(std::stoul(text.substr(pos, end - pos)));
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return 0;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
}

std::string ServerProcess::out() const {
    return readFile(m_dir.path() + "/stdout.txt");
}

std::string ServerProcess::err() const {
    return readFile(m_dir.path() + "/stderr.txt");
}

ServerResult ServerProcess::finish(int msecs) {
    ServerResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msecs);
    while (m_pid > 0) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            result.exited = WIFEXITED(status);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            break;
        }
        std::this_thread::sleep_for(POLL_INTERVAL);
    }
    result.out = out();
    result.err = err();
    return result;
}

ServerResult runServer(const std::vector<std::string>& args, const std::string& stdinText,
                       int msecs) {
    ServerProcess server;
    if (!server.start(args, stdinText)) {
        return ServerResult{};
    }
    return server.finish(msecs);
}

std::string withoutTimes(const std::string& out) {
    // "[LEVEL] " is 8 characters, "HH:MM:SS " another 9.
    std::istringstream lines(out);
    std::string result;
    std::string line;
    while (std::getline(lines, line)) {
        const bool logLine = line.size() >= 17 && line[0] == '[' && line[6] == ']' &&
                             line[7] == ' ' && line[10] == ':' && line[13] == ':' &&
                             line[16] == ' ';
        result += logLine ? line.substr(0, 8) + line.substr(17) : line;
        if (!lines.eof()) {
            result += '\n';
        }
    }
    return result;
}

uint16_t freePort() {
    const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin6_port);
    }
    ::close(probe);
    return port;
}

std::string firstMissing(const std::string& text, const std::vector<std::string>& lines) {
    const std::string padded = "\n" + text;
    size_t from = 0;
    for (const std::string& line : lines) {
        const size_t found = padded.find("\n" + line + "\n", from);
        if (found == std::string::npos) {
            return line;
        }
        from = found + line.size() + 1;
    }
    return "";
}
