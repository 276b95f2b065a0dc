#pragma once
// The options every command that plays matches shares: how many at once, and the programs it
// starts.

#include "knob/ArgumentParser.h"
#include "knob/SwitchArgument.h"
#include "knob/VariableArgument.h"

#include <optional>
#include <string>

/// -j/--jobs, --server and --client, bound to the command's own variables (which must outlive
/// this object); declared here once for every command that plays matches.
class RunOptions {
public:
    /// A command that plays one match at a time passes no `jobs`: it has only --server and
    /// --client.
    /// --oversubscribe comes with -j when `oversubscribe` is given.
    RunOptions(unsigned* jobs, std::string& server, std::string& client,
               bool* oversubscribe = nullptr);

    /// Adds the options to the parser, in the order of the help text.
    void addTo(knob::ArgumentParser& parser);

private:
    std::optional<knob::VariableArgument<unsigned>> m_jobs;
    std::optional<knob::SwitchArgument> m_oversubscribe;
    knob::VariableArgument<std::string> m_server;
    knob::VariableArgument<std::string> m_client;
};
