#pragma once
// "arena report DIR [--json] [--html FILE]": standings and ratings of a folder of records.

#include "Report.h"
#include "Tool.h"

#include <string>

class ReportCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    bool doRun() override;

private:
    std::string m_dir;
    bool m_json = false;
    std::string m_html;
    SprtSettings m_sprt;
};
