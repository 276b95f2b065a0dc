#include "LeagueLimit.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

/// The longest time per move `--limit` accepts, as a configuration does (an hour).
constexpr double MAX_SECONDS = 3600;
constexpr long MAX_DEPTH = 1000000;

std::string matchesText(size_t n) {
    return std::to_string(n) + (n == 1 ? " match" : " matches");
}

std::string listOf(const std::vector<LeagueLimit>& limits) {
    std::string out;
    for (const LeagueLimit& l : limits) {
        out += (out.empty() ? "" : " and ") + l.text();
    }
    return out;
}

} // namespace

std::string LeagueLimit::seconds(int ms) {
    std::ostringstream s;
    s << ms / 1000.0;
    return s.str();
}

std::string LeagueLimit::text() const {
    if (m_timeMs > 0) {
        return seconds(m_timeMs) + " s per move" +
               (m_depth > 0 ? ", depth " + std::to_string(m_depth) : "");
    }
    return m_depth > 0 ? "depth " + std::to_string(m_depth) : "no limit";
}

std::string LeagueLimit::option() const {
    if (m_timeMs > 0) {
        return "time=" + seconds(m_timeMs);
    }
    return m_depth > 0 ? "depth=" + std::to_string(m_depth) : "none";
}

bool LeagueLimit::parse(const std::string& text, LeagueLimit& out, std::string& error) {
    error = "a limit is time=SECONDS, depth=N or none, not \"" + text.substr(0, 40) + "\"";
    if (text == "none") {
        out = LeagueLimit();
        return true;
    }
    const bool timed = text.rfind("time=", 0) == 0;
    if (!timed && text.rfind("depth=", 0) != 0) {
        return false;
    }
    const std::string number = text.substr(timed ? 5 : 6);
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    if (timed) {
        const double s = std::strtod(number.c_str(), &end);
        if (*end != '\0' || errno != 0 || !(s > 0) || s > MAX_SECONDS) {
            return false;
        }
        // Truncated as a configuration's "time" is, so that both name the same matches.
        out = LeagueLimit(static_cast<int>(s * 1000.0), 0);
        return true;
    }
    const long depth = std::strtol(number.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || depth < 1 || depth > MAX_DEPTH) {
        return false;
    }
    out = LeagueLimit(0, static_cast<int>(depth));
    return true;
}

std::string LeagueLimit::changeLine(const std::vector<LeagueLimit>& before, const LeagueLimit& now,
                                    bool sampled, size_t toPlay, size_t kept,
                                    const std::string& reportCommand) {
    std::string line = "The limit changed from " + listOf(before) + " to " + now.text() + ": ";
    if (toPlay == 0) {
        line += "the current versions have played under " + now.text() + " already";
    } else {
        line += sampled ? "a new sample of line-ups is played under " + now.text() + " (" +
                              matchesText(toPlay) + " planned so far)"
                        : "every line-up of the current versions is played again under " +
                              now.text() + " (" + matchesText(toPlay) + ")";
    }
    if (kept == 0) {
        return line + "; no match had been played under " + listOf(before);
    }
    line +=
        "; the standings under " + listOf(before) + " (" + matchesText(kept) + ") are kept apart";
    for (size_t i = 0; i < before.size(); ++i) {
        line += std::string(i == 0 ? ", see them with: " : "; or: ") + reportCommand + " --limit " +
                before[i].option();
    }
    return line;
}
