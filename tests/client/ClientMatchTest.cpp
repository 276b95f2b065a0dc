// Whole matches: the match server and one reference client per player, as real processes.

#include "support/ChildProcess.h"
#include "support/Occurrences.h"
#include "support/Ports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

/// Player number to "N points" or "disqualified", from the score lines after the last marker.
using Scores = std::map<unsigned, std::string>;

/// The decimal number at `at` in text (empty when there is none); `at` moves past it.
std::string numberAt(const std::string& text, size_t& at) {
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        ++at;
    }
    return text.substr(start, at - start);
}

Scores scoresAfter(const std::string& text, const std::string& marker) {
    Scores scores;
    const size_t start = text.rfind(marker);
    if (start == std::string::npos) {
        return scores;
    }
    // Lines "Player N: X points..." or "Player N: disqualified".
    const std::string player = "Player ";
    for (size_t at = text.find(player, start); at != std::string::npos;
         at = text.find(player, at)) {
        at += player.size();
        const std::string number = numberAt(text, at);
        if (number.empty() || text.compare(at, 2, ": ") != 0) {
            continue;
        }
        at += 2;
        const std::string points = numberAt(text, at);
        if (!points.empty() && text.compare(at, 7, " points") == 0) {
            scores.emplace(static_cast<unsigned>(std::stoul(number)), points + " points");
        } else if (points.empty() && text.compare(at, 12, "disqualified") == 0) {
            scores.emplace(static_cast<unsigned>(std::stoul(number)), "disqualified");
        }
    }
    return scores;
}

/// One match: the server on a free port, then the clients one after the other, so that the
/// k-th strategy plays as player k.
class MatchRun {
public:
    /// `limit`: the server's time or depth option; `clientOptions`: extra options for every
    /// client.
    MatchRun(const std::string& mapName, std::vector<std::string> limit,
             std::vector<std::string> strategies, std::vector<std::string> clientOptions)
        : m_map(std::string(REVERSI_SOURCE_DIR) + "/maps/" + mapName), m_limit(std::move(limit)),
          m_strategies(std::move(strategies)), m_clientOptions(std::move(clientOptions)) {}

    /// Starts everything; false (with the reason reported) when the server did not open a port
    /// or a client was not admitted.
    bool start() {
        std::vector<std::string> args = {m_map, "-b", std::to_string(freePort())};
        args.insert(args.end(), m_limit.begin(), m_limit.end());
        if (m_consoleLines > 0) {
            // The server's standard output is a pipe into a reader that leaves after a few lines;
            // the exit status is the server's own.
            args.insert(args.begin(), {"-c",
                                       "\"$0\" \"$@\" | head -n " + std::to_string(m_consoleLines) +
                                           "; exit \"${PIPESTATUS[0]}\"",
                                       REVERSI_SERVER_BIN});
        }
        m_server = std::make_unique<ChildProcess>(m_consoleLines > 0 ? "bash" : REVERSI_SERVER_BIN,
                                                  args, m_dir.path() + "/server.log");
        const std::string port = waitForPort();
        if (port.empty()) {
            ADD_FAILURE() << "no port opened:\n" << m_server->output();
            return false;
        }
        for (size_t k = 0; k < m_strategies.size(); ++k) {
            std::vector<std::string> options = {"-p", port, "-s", m_strategies[k]};
            options.insert(options.end(), m_clientOptions.begin(), m_clientOptions.end());
            m_clients.push_back(std::make_unique<ChildProcess>(REVERSI_CLIENT_BIN, options,
                                                               m_dir.path() + "/client" +
                                                                   std::to_string(k + 1) + ".log"));
            // With the console cut short the clients connect in any order.
            if (m_consoleLines == 0 && !waitForServer("Client connected", k + 1)) {
                ADD_FAILURE() << "client " << k + 1 << " not admitted:\n" << m_server->output();
                return false;
            }
        }
        return true;
    }

    /// Makes start() run the server with its standard output piped into a reader that stops
    /// after `lines` lines (enough to show the port).
    void closeConsoleAfter(unsigned lines) { m_consoleLines = lines; }

    /// Waits for the server and then every client to end.
    void finish(seconds limit) {
        m_serverStatus = m_server->wait(limit);
        for (auto& client : m_clients) {
            m_clientStatus.push_back(client->wait(seconds(10)));
        }
    }

    int serverStatus() const { return m_serverStatus; }
    int clientStatus(size_t k) const { return m_clientStatus.at(k); }
    std::string serverOutput() const { return m_server->output(); }
    std::string clientOutput(size_t k) const { return m_clients.at(k)->output(); }
    Scores serverScores() const { return scoresAfter(serverOutput(), "Scores:"); }
    Scores clientScores(size_t k) const { return scoresAfter(clientOutput(k), "Final scores:"); }
    size_t players() const { return m_strategies.size(); }

private:
    std::string waitForPort() {
        const std::string announced = "OK. Port number is ";
        const auto end = std::chrono::steady_clock::now() + seconds(20);
        while (std::chrono::steady_clock::now() < end && m_server->running()) {
            const std::string output = m_server->output();
            size_t at = output.find(announced);
            if (at != std::string::npos) {
                at += announced.size();
                const std::string port = numberAt(output, at);
                if (!port.empty() && at < output.size()) {
                    return port;
                }
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return "";
    }
    bool waitForServer(const std::string& word, size_t count) {
        const auto end = std::chrono::steady_clock::now() + seconds(20);
        while (std::chrono::steady_clock::now() < end && m_server->running()) {
            if (occurrences(m_server->output(), word) >= count) {
                return true;
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    }

    TempDir m_dir;
    std::string m_map;
    std::vector<std::string> m_limit;
    std::vector<std::string> m_strategies;
    std::vector<std::string> m_clientOptions;
    unsigned m_consoleLines = 0;
    std::unique_ptr<ChildProcess> m_server;
    std::vector<std::unique_ptr<ChildProcess>> m_clients;
    int m_serverStatus = -1;
    std::vector<int> m_clientStatus;
};

/// A full match with a time limit of one second: it ends normally, nobody is disqualified, and
/// every client's own game ends with the server's scores.
void playFullMatch(const std::string& mapName, const std::vector<std::string>& strategies) {
    // A short move time keeps the match quick; the budget would allow far more.
    MatchRun match(mapName, {"-t", "1"}, strategies, {"--movetime", "40", "--seed", "5"});
    ASSERT_TRUE(match.start());
    match.finish(seconds(240));
    const std::string server = match.serverOutput();
    EXPECT_EQ(match.serverStatus(), 0) << server;
    EXPECT_EQ(server.find("disqualified"), std::string::npos) << server;
    const Scores expected = match.serverScores();
    ASSERT_EQ(expected.size(), match.players()) << server;
    for (size_t k = 0; k < match.players(); ++k) {
        EXPECT_EQ(match.clientStatus(k), 0) << match.clientOutput(k);
        EXPECT_EQ(match.clientScores(k), expected) << "client " << k + 1;
    }
}

unsigned points(const std::string& score) {
    return score == "disqualified" ? 0 : static_cast<unsigned>(std::stoul(score));
}

} // namespace

TEST(ClientMatch, Classic8EndsWithTheServersScores) {
    playFullMatch("classic8.map", {"search", "greedy"});
}

TEST(ClientMatch, Quad10EndsWithTheServersScores) {
    playFullMatch("quad10.map", {"search", "greedy", "random", "search"});
}

TEST(ClientMatch, Torus8EndsWithTheServersScores) {
    playFullMatch("torus8.map", {"random", "search"});
}

TEST(ClientMatch, Bombs10EndsWithTheServersScores) {
    playFullMatch("bombs10.map", {"greedy", "search", "random"});
}

TEST(ClientMatch, Big50EndsWithTheServersScores) {
    playFullMatch("big50.map",
                  {"search", "greedy", "random", "search", "greedy", "random", "search", "greedy"});
}

TEST(ClientMatch, SearchBeatsRandomInAClearMajority) {
    // Six seeded games at depth 3, played side by side; search moves first in half of them.
    const unsigned games = 6;
    std::vector<std::unique_ptr<MatchRun>> matches;
    for (unsigned seed = 1; seed <= games; ++seed) {
        const bool searchFirst = seed <= games / 2;
        matches.push_back(std::make_unique<MatchRun>(
            "classic8.map", std::vector<std::string>{"-d", "3"},
            searchFirst ? std::vector<std::string>{"search", "random"}
                        : std::vector<std::string>{"random", "search"},
            std::vector<std::string>{"--seed", std::to_string(seed), "--movetime", "5000"}));
        ASSERT_TRUE(matches.back()->start());
    }
    unsigned wins = 0;
    for (unsigned game = 0; game < games; ++game) {
        MatchRun& match = *matches[game];
        match.finish(seconds(240));
        ASSERT_EQ(match.serverStatus(), 0) << match.serverOutput();
        const Scores scores = match.serverScores();
        ASSERT_EQ(scores.size(), 2u) << match.serverOutput();
        const unsigned search = game < games / 2 ? 1 : 2;
        if (points(scores.at(search)) > points(scores.at(3 - search))) {
            ++wins;
        }
    }
    EXPECT_GE(wins, 5u);
}

TEST(ClientMatch, ServerWhoseConsoleIsClosedPlaysTheMatchToItsEnd) {
    MatchRun match("classic8.map", {"-t", "1"}, {"greedy", "random"},
                   {"--movetime", "20", "--seed", "3"});
    // Line 6 names the port; the reader is gone long before the match ends.
    match.closeConsoleAfter(8);
    ASSERT_TRUE(match.start());
    match.finish(seconds(240));
    EXPECT_EQ(match.serverStatus(), 0) << match.serverOutput();
    for (size_t k = 0; k < match.players(); ++k) {
        // A client ends with status 0 only after the server's end message.
        EXPECT_EQ(match.clientStatus(k), 0) << match.clientOutput(k);
    }
    EXPECT_EQ(match.clientScores(0), match.clientScores(1));
    EXPECT_EQ(match.clientScores(0).size(), 2u) << match.clientOutput(0);
}
