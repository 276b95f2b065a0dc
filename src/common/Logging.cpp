#include "Logging.h"

#include "lumber/StreamSink.h"
#include "lumber/TemplateFormatter.h"

#include <iostream>

namespace Logging {

Logger getLogger(const char* name) {
    return lumber::Logger::getLogger(std::string(name));
}

// Made during static initialisation, in this order; the first also makes "reversi".
Logger loggerMap = getLogger("reversi.map");
Logger loggerNetwork = getLogger("reversi.network");
Logger loggerGame = getLogger("reversi.game");
Logger loggerConsole = getLogger("reversi.console");
Logger loggerServer = getLogger("reversi.server");
Logger loggerMatchpoint = getLogger("reversi.matchpoint");
Logger loggerAI = getLogger("reversi.ai");

bool setupLogging(const std::string& /*settingsFile*/) {
    using namespace lumber;
    lumber::Logger::initialize();
    const LogPtr root = lumber::Logger::getRootLogger();

    const SinkPtr lineSink = StreamSink::create(std::cout);
    root->addSink(lineSink);
    root->setLevel(INFO);
    lineSink->setFormatter(makeTemplateFormatter('[', FieldStr<Field::LogLevel, 5, RIGHT, ' '>(),
                                                 ']', ' ', TimeStr("%H:%M:%S"), ' ',
                                                 FieldStr<Field::Message, 0>(), "\n"));

    const SinkPtr bareSink = StreamSink::create(std::cout);
    bareSink->setFormatter(makeTemplateFormatter(FieldStr<Field::Message, 0>()));
    loggerMatchpoint->addSink(bareSink);
    loggerMatchpoint->setAdditive(false);
    return true;
}

lumber::LogLevel getLogLevel(const Logger& logger) {
    return logger->getLevel();
}

void setLogLevel(const Logger& logger, const lumber::LogLevel& level) {
    logger->setLevel(level);
}

} // namespace Logging
