#pragma once
// The limit a league's matches are played under: a time per move or a search depth. Matches
// keep it in their key, so a changed limit makes new matches; the old ones stay, viewable by
// their limit.

#include <string>
#include <vector>

class LeagueLimit {
public:
    LeagueLimit() = default;
    LeagueLimit(int timeMs, int depth) : m_timeMs(timeMs), m_depth(depth) {}

    int timeMs() const { return m_timeMs; }
    int depth() const { return m_depth; }
    /// As the tables say it: "1 s per move", "0.25 s per move", "depth 3", or "no limit".
    std::string text() const;
    /// As `--limit` takes it: "time=1", "time=0.25", "depth=3", or "none".
    std::string option() const;
    /// Reads what option() writes ("time=SECONDS", "depth=N" or "none"); false with what is
    /// wanted otherwise.
    static bool parse(const std::string& text, LeagueLimit& out, std::string& error);

    bool operator==(const LeagueLimit& other) const {
        return m_timeMs == other.m_timeMs && m_depth == other.m_depth;
    }
    bool operator!=(const LeagueLimit& other) const { return !(*this == other); }
    bool operator<(const LeagueLimit& other) const {
        return m_timeMs != other.m_timeMs ? m_timeMs < other.m_timeMs : m_depth < other.m_depth;
    }

    /// The one line a run says when the limit in force changed from `before` to `now`: what
    /// changed, which matches are played again (`toPlay` of them, a sampled schedule's new
    /// sample or every line-up again), and that the `kept` matches of the old limit stay
    /// viewable with `reportCommand` (e.g. "arena league report /course").
    static std::string changeLine(const std::vector<LeagueLimit>& before, const LeagueLimit& now,
                                  bool sampled, size_t toPlay, size_t kept,
                                  const std::string& reportCommand);

private:
    /// Milliseconds as seconds without trailing zeros: 500 -> "0.5".
    static std::string seconds(int ms);

    int m_timeMs = 0;
    int m_depth = 0;
};
