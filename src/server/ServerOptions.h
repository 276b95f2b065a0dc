#pragma once

#include "knob/ArgumentParser.h"

#include <cstdint>
#include <string>

/// The match server's own command-line options, bound to the variables they fill: the map
/// (positional, or -m/--map), the base port, exactly one of time limit and depth limit, and
/// the wait for each client. The checks refuse a base port of 0 and time limits below 0.2 s or
/// too large for the 32-bit millisecond budget.
class ServerOptions {
public:
    ServerOptions(std::string& mapName, uint16_t& basePort, uint32_t& depthLimit,
                  uint32_t& waitSeconds);

    /// Adds the options to the parser's first set, in the order of the help text.
    void addTo(knob::ArgumentParser& parser);

    /// After parsing: whether a map and a time limit were given.
    bool hasMap() const { return static_cast<bool>(m_map); }
    bool hasTimeLimit() const { return static_cast<bool>(m_time); }
    bool hasDepthLimit() const { return static_cast<bool>(m_depth); }
    /// The time limit in whole milliseconds, truncated; 0 when none was given.
    uint32_t timeLimitMsecs() const;

private:
    knob::VariableArgument<std::string> m_map;
    knob::VariableArgument<uint16_t> m_port;
    knob::ValueArgument<double> m_time;
    knob::VariableArgument<uint32_t> m_depth;
    knob::VariableArgument<uint32_t> m_wait;
};
