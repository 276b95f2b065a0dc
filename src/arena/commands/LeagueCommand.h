#pragma once
// "arena league CONFIG.json|DIR [-j N]": plays what the league needs and prints its tables;
// "arena league report|import|export LEAGUE ..." read it, fill it from records, write records;
// "arena league rename LEAGUE OLD NEW" renames a bot, its versions and results kept;
// "arena league report LEAGUE --limit time=1" shows the standings kept under an earlier limit.

#include "Tool.h"

#include <string>

class LeagueCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    bool play();
    bool report();
    bool importFolder();
    bool exportRecords();
    bool rename();

    std::string m_first;
    std::string m_second;
    std::string m_third;
    std::string m_fourth;
    std::string m_match;
    std::string m_limit;
    unsigned m_jobs = 0;
    bool m_oversubscribe = false;
    bool m_json = false;
    std::string m_html;
    std::string m_server;
    std::string m_client;
    unsigned m_top = 0;
};
