#pragma once

#include "lumber/Formatter.h"

#include <memory>
#include <string>

namespace lumber {

/// Destination of entries. Filters by its own level (TRACE at construction: everything passes),
/// shapes each entry with its formatter (a plain Formatter at construction) and writes it.
class Sink {
public:
    Sink();
    explicit Sink(FormatterPtr formatter);
    virtual void logEntry(const std::string& text) = 0;
    virtual ~Sink() = default;

    /// Formats and writes the entry unless its level is below the sink's level.
    void log(const EntryContext& context, const std::string& message);

    LogLevel getLevel() const { return level; }
    void setLevel(LogLevel newLevel) { level = newLevel; }
    FormatterPtr getFormatter() const { return formatter; }
    void setFormatter(FormatterPtr newFormatter) { formatter = std::move(newFormatter); }

private:
    LogLevel level = TRACE;
    FormatterPtr formatter;
};

using SinkPtr = std::shared_ptr<Sink>;

} // namespace lumber
