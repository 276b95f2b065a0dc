#pragma once

#include "lumber/EntryContext.h"
#include "lumber/LogStream.h"
#include "lumber/Sink.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lumber {

class Logger;
using LogPtr = std::shared_ptr<Logger>;

/// A named logger in a tree given by the dots of the names ("a.b" is a child of "a", "a" of
/// the root). An entry passes when its level reaches the logger's effective level; it then goes
/// to the logger's sinks and, while loggers are additive, to the sinks of each ancestor.
/// Loggers are never removed: a LogPtr stays valid for the life of the program.
class Logger {
public:
    /// Level INHERIT, no sinks, additive.
    Logger(std::string name, LogPtr parent);

    /// The root: empty name, level WARN, no sinks, no parent. Made on first use.
    static LogPtr getRootLogger();
    /// The logger of that name, made with any missing ancestor on first use; "" is the root.
    static LogPtr getLogger(const std::string& name);
    static LogPtr getLogger(const char* name) { return getLogger(std::string(name)); }
    /// The same logger: lets a log statement take a name or a logger.
    static LogPtr getLogger(LogPtr logger) { return logger; }
    /// Makes sure the root exists and fixes the start time.
    static void initialize();
    /// Nothing to release; loggers live until the program ends.
    static void deinitialize() {}

    /// INHERIT on the root is ignored: the root always has a real level.
    void setLevel(LogLevel level);
    /// The effective level: the own level, or the parent's effective level for INHERIT.
    LogLevel getLevel() const;
    const std::string& getName() const { return name; }
    bool getAdditive() const { return additive; }
    void setAdditive(bool value) { additive = value; }
    void addSink(SinkPtr sink);
    void removeSink(const SinkPtr& sink);

    /// Emits one entry when the level passes.
    void log(LogLevel level, const std::string& message, EntryContext context) const;
    /// Starts a streamed entry; it is emitted when the returned stream is destroyed.
    LogStream log(LogLevel level, EntryContext context) const;
    /// Hands an accepted entry to the sinks, then to the parent's while additive.
    void logEntry(const EntryContext& context, const std::string& message) const;

    LogStream trace(EntryContext context) const { return log(TRACE, context); }
    LogStream debug(EntryContext context) const { return log(DEBUG, context); }
    LogStream info(EntryContext context) const { return log(INFO, context); }
    LogStream warn(EntryContext context) const { return log(WARN, context); }
    LogStream error(EntryContext context) const { return log(ERR, context); }
    LogStream fatal(EntryContext context) const { return log(FATAL, context); }
    void trace(const std::string& m, EntryContext c) const { log(TRACE, m, c); }
    void debug(const std::string& m, EntryContext c) const { log(DEBUG, m, c); }
    void info(const std::string& m, EntryContext c) const { log(INFO, m, c); }
    void warn(const std::string& m, EntryContext c) const { log(WARN, m, c); }
    void error(const std::string& m, EntryContext c) const { log(ERR, m, c); }
    void fatal(const std::string& m, EntryContext c) const { log(FATAL, m, c); }

private:
    LogPtr parent;
    std::string name;
    LogLevel level = INHERIT;
    std::vector<SinkPtr> sinks;
    bool additive = true;
};

namespace detail {
/// Every logger but the root, by full name.
std::map<std::string, LogPtr>& GetLoggers();
/// Wall-clock time of the first call.
std::chrono::system_clock::time_point GetStartTime();
} // namespace detail

} // namespace lumber

/// Log statement: LUMBER_LOG(logger, level) << part << part;
/// The parts are not evaluated when the level does not pass the logger's effective level; the
/// entry is emitted at the end of the statement.
#define LUMBER_LOG(logger, lvl)                                                                    \
    for (bool lumber_pass_ = ::lumber::Logger::getLogger(logger)->getLevel() <= (lvl);             \
         lumber_pass_; lumber_pass_ = false)                                                       \
    ::lumber::Logger::getLogger(logger)->log((lvl),                                                \
                                             ::lumber::EntryContext(__FILE__, __LINE__, __func__))
