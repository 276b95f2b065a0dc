#include "ServerOptions.h"

#include "BasicOptions.h"
#include "ServerFacts.h"

namespace {

/// Milliseconds per second, for the command line's seconds.
constexpr double MSECS_PER_SECOND = 1000.0;
/// Time limits from this many milliseconds on do not fit the 32-bit millisecond field.
constexpr double TIME_LIMIT_CEILING_MSECS = 4294967296.0;

} // namespace

ServerOptions::ServerOptions(std::string& mapName, uint16_t& basePort, uint32_t& depthLimit,
                             uint32_t& waitSeconds)
    : m_map("Load this map", mapName),
      m_port("Use this port (NOTE: actual server port may differ if &baseport is in use)",
             basePort),
      m_time("Apply &timelimit (in seconds, >=0.2)"),
      m_depth("Apply &depthlimit (in case of time limit, clients may ignore this)", depthLimit),
      m_wait("Seconds to &wait for a single client to connect", waitSeconds) {
    m_map.valuename("mapname");
    m_map.alias('m', "map");

    m_port.valuename("port number");
    m_port.check_typed(BasicOptions::refuseZeroPort);

    m_time.valuename("seconds");
    m_time.check_typed([](const knob::TypedArgument<double>&, const double& seconds) {
        if (ServerFacts::MIN_TIME_SECONDS > seconds) {
            throw knob::exception(ServerFacts::TIME_TOO_SHORT);
        }
        // Written so that a value that is not a number is refused as well.
        if (!(seconds * MSECS_PER_SECOND < TIME_LIMIT_CEILING_MSECS)) {
            throw knob::exception("Please choose a timeout value < 4294967.296 seconds.");
        }
    });

    m_depth.valuename("number");
    m_wait.valuename("number");
}

void ServerOptions::addTo(knob::ArgumentParser& parser) {
    parser.add(+m_map);
    parser.add(m_port);
    parser.add(+(m_time ^ m_depth));
    parser.add(m_wait);
}

uint32_t ServerOptions::timeLimitMsecs() const {
    return m_time ? static_cast<uint32_t>(m_time.value() * MSECS_PER_SECOND) : 0;
}
