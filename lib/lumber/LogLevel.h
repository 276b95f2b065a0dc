#pragma once

#include <cstdint>
#include <ostream>

namespace lumber {

/// Severity of an entry, and threshold of a logger or sink. An entry passes a threshold when
/// its level is greater than or equal to it.
enum LogLevel : uint32_t {
    TRACE = 0,
    DEBUG = 1,
    INFO = 2,
    WARN = 3,
    ERR = 4,
    FATAL = 5,
    OFF = 6,
    INHERIT = 7,
    DEFAULT = WARN,
    ALL = TRACE,
};

/// The printed name of a level: "TRACE" ... "FATAL", "OFF"; "???" for anything else.
const char* levelName(LogLevel level);

std::ostream& operator<<(std::ostream& os, LogLevel level);

} // namespace lumber
