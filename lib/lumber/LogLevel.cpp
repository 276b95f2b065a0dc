#include "lumber/LogLevel.h"

namespace lumber {

const char* levelName(LogLevel level) {
    static const char* const names[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "OFF"};
    const auto value = static_cast<uint32_t>(level);
    return value < sizeof(names) / sizeof(names[0]) ? names[value] : "???";
}

std::ostream& operator<<(std::ostream& os, LogLevel level) {
    return os << levelName(level);
}

} // namespace lumber
