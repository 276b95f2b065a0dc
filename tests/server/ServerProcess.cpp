#include "ServerProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

constexpr auto POLL_INTERVAL = std::chrono::milliseconds(10);
const std::string LISTENING = "Server is listening on port ";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

ServerProcess::ServerProcess(std::string argv0) : m_argv0(std::move(argv0)) {}

ServerProcess::~ServerProcess() = default;

bool ServerProcess::start(const std::vector<std::string>& args, const std::string& stdinText) {
    const ChildProcess::Streams streams{m_dir.write("stdin.txt", stdinText),
                                        m_dir.path() + "/stdout.txt", m_dir.path() + "/stderr.txt"};

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
    const std::string program = wrapped ? words.front() : REVERSI_SERVER_BIN;
    words.push_back(wrapped ? REVERSI_SERVER_BIN : m_argv0);
    words.insert(words.end(), args.begin(), args.end());
    return m_child.start(program, words, streams);
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
    return m_child.output();
}

std::string ServerProcess::err() const {
    return m_child.errors();
}

ServerResult ServerProcess::finish(int msecs) {
    ServerResult result;
    result.status = m_child.wait(std::chrono::milliseconds(msecs));
    result.exited = result.status >= 0;
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

void expectDisqualified(const std::string& out, const std::string& player,
                        const std::string& reason) {
    const std::string log = withoutTimes(out);
    EXPECT_EQ(firstMissing(log, {"[ INFO] Player " + player + " disqualified. (" + reason + ")",
                                 "Player " + player + " disqualified (" + reason + ")"}),
              "")
        << log;
}
