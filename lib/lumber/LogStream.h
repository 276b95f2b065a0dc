#pragma once

#include "lumber/EntryContext.h"

#include <ostream>
#include <sstream>
#include <string>

namespace lumber {

class Logger;

/// Collects the message of one log statement and emits it when destroyed. A stream at level
/// OFF ignores what it is given and emits nothing.
class LogStream {
public:
    LogStream(const Logger& logger, LogLevel level, EntryContext context);
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;
    ~LogStream();

    LogLevel getLevel() const { return level; }
    std::ostream& out() const { return stream; }

private:
    const Logger& logger;
    LogLevel level;
    EntryContext context;
    mutable std::ostringstream stream;
};

template <class T> const LogStream& operator<<(const LogStream& ls, const T& value) {
    if (ls.getLevel() != OFF) {
        ls.out() << value;
    }
    return ls;
}

inline const LogStream& operator<<(const LogStream& ls, std::ostream& (*manip)(std::ostream&)) {
    if (ls.getLevel() != OFF) {
        manip(ls.out());
    }
    return ls;
}

} // namespace lumber
