#pragma once
// "arena view": the match page of one record, as one self-contained HTML file.

#include "Tool.h"

#include <string>

class ViewCommand : public Tool {
protected:
    bool parseOptions(knob::ArgumentParser& parser) override;
    // Writes the page; false when the record cannot be read or is not a complete match record
    // (the page is written all the same and shows the fault), or the page cannot be written.
    bool doRun() override;

private:
    std::string m_record;
    std::string m_output;
};
