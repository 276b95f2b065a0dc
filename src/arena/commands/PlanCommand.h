#pragma once
// "arena plan DIR": one "arena play" command line per pending match, for a job runner.

#include "Tool.h"

#include <string>

class PlanCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    std::string m_dir;
    std::string m_config;
};
