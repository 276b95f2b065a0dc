#include "ServerLog.h"

#include <regex>

namespace {

const std::regex PORT("OK\\. Port number is (\\d+)");
const std::regex GROUP("Client (\\d+) connected as player (\\d+) with group (\\d+)");
const std::regex AWAIT_GROUP("Waiting for group id of player (\\d+)");
const std::regex REQUEST("^(?:.*\\] \\d\\d:\\d\\d:\\d\\d )?.*Sending move request to player (\\d+) "
                         "with depth \\d+, time left: (\\d+) msecs\\.");
const std::regex ANSWER("Answer from player (\\d+) for move (\\d+) was \\(x,y,c\\) = "
                        "\\((\\d+),(\\d+),(\\d+)\\); time left: (\\d+)msecs\\.");
const std::regex DISQUALIFIED("Player (\\d+) disqualified \\((.*)\\)$");
const std::regex SCORE("\\] \\d\\d:\\d\\d:\\d\\d Player (\\d+): (\\d+) points");
const std::regex SCORE_DISQ("\\] \\d\\d:\\d\\d:\\d\\d Player (\\d+): disqualified$");

constexpr size_t TAIL_LINES = 8;

unsigned number(const std::ssub_match& m) {
    return static_cast<unsigned>(std::stoul(m.str()));
}

} // namespace

void ServerLog::feed(const std::string& line) {
    m_tail.push_back(line);
    if (m_tail.size() > TAIL_LINES) {
        m_tail.erase(m_tail.begin());
    }
    std::smatch m;
    // Cheap tests first: most lines are board rows.
    if (line == "Board") {
        if (m_haveAnswer) {
            LoggedEvent e;
            e.move = m_answer;
            m_events.push_back(e);
            m_haveAnswer = false;
        }
    } else if (line.find("Answer from player") != std::string::npos &&
               std::regex_search(line, m, ANSWER)) {
        m_answer = LoggedMove();
        m_answer.player = number(m[1]);
        m_answer.number = number(m[2]);
        m_answer.x = static_cast<uint16_t>(number(m[3]));
        m_answer.y = static_cast<uint16_t>(number(m[4]));
        m_answer.choice = static_cast<uint8_t>(number(m[5]));
        m_answer.leftAfter = static_cast<uint32_t>(std::stoul(m[6].str()));
        m_answer.leftBefore = m_answer.player == m_awaitingMove ? m_leftBefore : m_answer.leftAfter;
        m_haveAnswer = true;
        m_awaitingMove = 0;
    } else if (line.find("Sending move request") != std::string::npos &&
               line.find('[') == std::string::npos && std::regex_search(line, m, REQUEST)) {
        // The match-point copy of the request (the server logger's copy carries a prefix).
        m_awaitingMove = number(m[1]);
        m_leftBefore = static_cast<uint32_t>(std::stoul(m[2].str()));
        m_haveAnswer = false;
    } else if (line.find(" disqualified (") != std::string::npos &&
               std::regex_search(line, m, DISQUALIFIED)) {
        LoggedEvent e;
        e.isMove = false;
        e.player = number(m[1]);
        e.reason = m[2].str();
        if (m_haveAnswer && m_answer.player == e.player) {
            e.hasAnswer = true;
            e.move = m_answer;
            m_haveAnswer = false;
        }
        if (m_awaitingMove == e.player) {
            m_awaitingMove = 0;
        }
        if (m_awaitingGroup == e.player) {
            m_awaitingGroup = 0;
        }
        m_events.push_back(e);
    } else if (line.find("Scores:") != std::string::npos) {
        m_scores.clear();
    } else if (line.find(": ") != std::string::npos && std::regex_search(line, m, SCORE)) {
        m_scores[number(m[1])] = std::stoi(m[2].str());
    } else if (line.find(": disqualified") != std::string::npos &&
               std::regex_search(line, m, SCORE_DISQ)) {
        m_scores[number(m[1])] = -1;
    } else if (line.find("Client connected") != std::string::npos) {
        ++m_admitted;
    } else if (line.find("Port number is") != std::string::npos &&
               std::regex_search(line, m, PORT)) {
        m_port = number(m[1]);
    } else if (line.find("Waiting for group id") != std::string::npos &&
               std::regex_search(line, m, AWAIT_GROUP)) {
        m_awaitingGroup = number(m[1]);
    } else if (line.find("OK, got a group") != std::string::npos) {
        m_awaitingGroup = 0;
    } else if (line.find(" connected as player ") != std::string::npos &&
               std::regex_search(line, m, GROUP)) {
        m_groups[number(m[2])] = number(m[3]);
    } else if (line == "Final state reached") {
        m_final = true;
    }
}

std::string ServerLog::tail() const {
    std::string out;
    for (const std::string& l : m_tail) {
        out += l + "\n";
    }
    return out;
}
