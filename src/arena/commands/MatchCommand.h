#pragma once
// "arena match": one match of any bots on one map.

#include "Jail.h"
#include "MatchRunner.h"
#include "Tool.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

class MatchCommand : public Tool {
public:
    /// The ranked result table of a record: places, ties shared, disqualifications with reasons.
    static void printResult(const MatchRecord& record, std::ostream& os);

protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    /// Throws the option's refusal for a time limit below the server's least or over 4294967 s.
    static void checkTimeLimit(double seconds);
    /// Reads "--limit KEY=N" into the jail's limits; throws the option's refusal.
    void addLimit(const std::string& given);
    /// Adds the options of the view (--show, --quiet) and of the jail (--sandbox,
    /// --no-sandbox, --limit) to those already declared, then parses the command line.
    bool parseViewAndJail(knob::ArgumentParser& parser);
    /// Limits, ports, programs and the log folder (made when none was given) of the match.
    bool fillSetup(MatchSetup& setup);
    /// Writes the record when asked, prints the result and removes the arena's own logs of a
    /// match played to its end. True when it was.
    bool finish(const MatchRecord& record, bool ownLogs);

    std::string m_map;
    std::vector<std::string> m_bots;
    double m_time = 0;
    unsigned m_depth = 0;
    std::string m_record;
    std::string m_logs;
    double m_matchTimeout = 0;
    double m_connectTimeout = 30;
    unsigned m_basePort = 0;
    unsigned m_seed = 1;
    unsigned m_logLimit = 1 << 20;
    std::string m_server;
    std::string m_client;
    bool m_show = false;
    bool m_quiet = false;
    bool m_sandbox = false;
    JailLimits m_limits;
};
