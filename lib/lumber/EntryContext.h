#pragma once

#include "lumber/LogLevel.h"

#include <chrono>
#include <cstddef>

namespace lumber {

class Logger;

/// Where and when one log statement was issued; filled in with logger and level on emission.
struct EntryContext {
    EntryContext() = default;
    /// Takes the current wall-clock time; logger none, level OFF.
    EntryContext(const char* filename_, std::size_t line_, const char* funcname_)
        : filename(filename_), line(line_), funcname(funcname_),
          timestamp(std::chrono::system_clock::now()) {}

    const char* filename = "";
    std::size_t line = 0;
    const char* funcname = "";
    std::chrono::system_clock::time_point timestamp{};
    const Logger* logger = nullptr;
    LogLevel level = OFF;
};

} // namespace lumber
