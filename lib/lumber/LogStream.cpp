#include "lumber/LogStream.h"

#include "lumber/Logger.h"

namespace lumber {

LogStream::LogStream(const Logger& logger_, LogLevel level_, EntryContext context_)
    : logger(logger_), level(level_), context(context_) {}

LogStream::~LogStream() {
    if (level != OFF) {
        logger.log(level, stream.str(), context);
    }
}

} // namespace lumber
