#pragma once
// "arena match": one match of any bots on one map.

#include "Tool.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

class MatchCommand : public Tool {
public:
    /// The ranked result table of a record: places, ties shared, disqualifications with reasons.
    static void printResult(const nlohmann::json& record, std::ostream& os);

protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
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
};
