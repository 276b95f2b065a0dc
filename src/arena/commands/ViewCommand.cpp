#include "ViewCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "MatchPage.h"
#include "PathArgument.h"

#include <filesystem>
#include <iostream>

namespace {

const Logging::Logger& logger = Arena::logger();

} // namespace

bool ViewCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> record("The match record (JSON)", m_record);
    record.valuename("record");
    PathArgument::bound(record, "record", PathArgument::Kind::Any);
    knob::VariableArgument<std::string> output("Write the page to this &output file (default: "
                                               "the record's name with .html; - for standard "
                                               "output)",
                                               m_output);
    output.valuename("file");
    PathArgument::bound(output, "--output", PathArgument::Kind::File);
    parser.add(+record);
    parser.add(output);
    return Tool::parseOptions(parser);
}

bool ViewCommand::doRun() {
    std::string output = m_output;
    if (output.empty()) {
        output = std::filesystem::path(m_record).replace_extension(".html").string();
    }
    std::string error;
    if (!MatchPage::writeFile(m_record, output, error)) {
        LOG(logger, lumber::ERR) << error;
        return false;
    }
    if (output != "-") {
        std::cout << "Wrote " << output << '\n';
    }
    return true;
}
