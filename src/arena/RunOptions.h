#pragma once
// The options every command that plays many matches shares: how many at once, and the
// programs it starts.

#include "knob/ArgumentParser.h"

#include <string>

/// -j/--jobs, --server and --client, bound to the command's own variables (which must outlive
/// this object); declared here once for the tournament, the league and the site.
class RunOptions {
public:
    RunOptions(unsigned& jobs, std::string& server, std::string& client);

    /// Adds the three options to the parser, in the order of the help text.
    void addTo(knob::ArgumentParser& parser);

private:
    knob::VariableArgument<unsigned> m_jobs;
    knob::VariableArgument<std::string> m_server;
    knob::VariableArgument<std::string> m_client;
};
