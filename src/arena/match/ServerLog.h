#pragma once
// Reads the server's console, line by line, into the facts of a match.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// One answer of a player, as the server logged it.
struct LoggedMove {
    unsigned number = 0;
    unsigned player = 0;
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t choice = 0;
    uint32_t leftBefore = 0;
    uint32_t leftAfter = 0;
};

/// An event of the game in the order the server logged it: a move it applied, or a
/// disqualification (with the refused answer, when there was one).
struct LoggedEvent {
    bool isMove = true;
    LoggedMove move;
    unsigned player = 0;
    std::string reason;
    bool hasAnswer = false;
};

/// The server's log texts are fixed, so they are read as the match's record.
class ServerLog {
public:
    /// Takes one line of the server's standard output, without its line end.
    void feed(const std::string& line);

    /// The port the server listens on, 0 until it said so.
    unsigned port() const { return m_port; }
    /// Connections the server has admitted so far.
    unsigned admitted() const { return m_admitted; }
    /// Group id by player, for those the server received.
    const std::map<unsigned, unsigned>& groups() const { return m_groups; }
    /// The player whose group id the server waits for, or 0.
    unsigned awaitingGroup() const { return m_awaitingGroup; }
    /// The player who was asked for a move and has not answered yet, or 0.
    unsigned awaitingMove() const { return m_awaitingMove; }
    const std::vector<LoggedEvent>& events() const { return m_events; }
    bool finalReached() const { return m_final; }
    /// The last score table: per player the points, or -1 when disqualified.
    const std::map<unsigned, int>& scores() const { return m_scores; }
    /// The last lines of the log, for a failure report.
    std::string tail() const;

private:
    unsigned m_port = 0;
    unsigned m_admitted = 0;
    std::map<unsigned, unsigned> m_groups;
    unsigned m_awaitingGroup = 0;
    unsigned m_awaitingMove = 0;
    uint32_t m_leftBefore = 0;
    bool m_haveAnswer = false;
    LoggedMove m_answer;
    std::vector<LoggedEvent> m_events;
    bool m_final = false;
    std::map<unsigned, int> m_scores;
    std::vector<std::string> m_tail;
};
