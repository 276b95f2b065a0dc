#pragma once
// "arena tournament CONFIG --out DIR": plays a whole tournament, resuming where it stopped.

#include "Tool.h"

#include <string>

class TournamentCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    std::string m_config;
    std::string m_out;
    unsigned m_jobs = 0;
    bool m_oversubscribe = false;
    std::string m_server;
    std::string m_client;
};
