#pragma once
// The options every tool has after its own: log settings file, colour switch, help, version.

#include "knob/ArgumentParser.h"
#include "knob/TypedArgument.h"

#include <cstdint>
#include <string>

/// The set "Basic options": -l/--log filename, --nocolor, -h/--help and -v/--version. Help and
/// version end the parse by throwing their text as a knob::exception.
class BasicOptions {
public:
    /// `parser` gives the help text and must outlive the parse; each --nocolor inverts
    /// `colorSwitch`.
    BasicOptions(const knob::ArgumentParser& parser, bool& colorSwitch);

    /// Adds the set to the parser, after the tool's own arguments.
    void addTo(knob::ArgumentParser& parser) const;
    /// After parsing: the log settings file named, "" when none was.
    const std::string& logFile() const { return m_log.value(); }

    /// The version text: the build's version, " build ", and the build date as the compiler
    /// writes it ("Mmm dd yyyy").
    static std::string versionText();
    /// The check of a tool's port option: refuses 0 with "Please choose a port value > 0.".
    static void refuseZeroPort(const knob::TypedArgument<uint16_t>& argument, const uint16_t& port);

private:
    knob::ValueArgument<std::string> m_log;
    knob::SwitchArgument m_noColor;
    knob::Argument m_help;
    knob::Argument m_version;
};
