#include "lumber/Logger.h"

#include <algorithm>

namespace lumber {

namespace detail {

std::map<std::string, LogPtr>& GetLoggers() {
    static std::map<std::string, LogPtr> loggers;
    return loggers;
}

std::chrono::system_clock::time_point GetStartTime() {
    static const auto start = std::chrono::system_clock::now();
    return start;
}

} // namespace detail

Logger::Logger(std::string name_, LogPtr parent_)
    : parent(std::move(parent_)), name(std::move(name_)) {}

LogPtr Logger::getRootLogger() {
    static const LogPtr root = [] {
        auto logger = std::make_shared<Logger>("", nullptr);
        logger->level = WARN;
        return logger;
    }();
    return root;
}

LogPtr Logger::getLogger(const std::string& name) {
    if (name.empty()) {
        return getRootLogger();
    }
    auto& loggers = detail::GetLoggers();
    const auto found = loggers.find(name);
    if (found != loggers.end()) {
        return found->second;
    }
    const auto dot = name.rfind('.');
    LogPtr parent = dot == std::string::npos ? getRootLogger() : getLogger(name.substr(0, dot));
    auto logger = std::make_shared<Logger>(name, std::move(parent));
    loggers.emplace(name, logger);
    return logger;
}

void Logger::initialize() {
    getRootLogger();
    detail::GetStartTime();
}

void Logger::setLevel(LogLevel newLevel) {
    if (newLevel == INHERIT && !parent) {
        return;
    }
    level = newLevel;
}

LogLevel Logger::getLevel() const {
    const Logger* logger = this;
    while (logger->level == INHERIT && logger->parent) {
        logger = logger->parent.get();
    }
    return logger->level;
}

void Logger::addSink(SinkPtr sink) {
    sinks.push_back(std::move(sink));
}

void Logger::removeSink(const SinkPtr& sink) {
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
}

void Logger::log(LogLevel entryLevel, const std::string& message, EntryContext context) const {
    if (entryLevel < getLevel() || entryLevel >= OFF) {
        return;
    }
    context.level = entryLevel;
    context.logger = this;
    logEntry(context, message);
}

LogStream Logger::log(LogLevel entryLevel, EntryContext context) const {
    return LogStream(*this, entryLevel < getLevel() ? OFF : entryLevel, context);
}

void Logger::logEntry(const EntryContext& context, const std::string& message) const {
    // Ancestors' levels do not filter here; only the issuing logger's level and each sink's do.
    for (const Logger* logger = this; logger; logger = logger->parent.get()) {
        for (const auto& sink : logger->sinks) {
            sink->log(context, message);
        }
        if (!logger->additive) {
            break;
        }
    }
}

} // namespace lumber
