#pragma once
// "arena play DIR MATCH_ID": plays one planned match and writes its record.

#include "Tool.h"

#include <string>

class PlayCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    std::string m_dir;
    std::string m_id;
    unsigned m_basePort = 0;
    std::string m_server;
    std::string m_client;
};
