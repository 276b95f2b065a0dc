#include "Logging.h"

#include "lumber/StreamSink.h"
#include "lumber/TemplateFormatter.h"

#include <fstream>
#include <iostream>
#include <sstream>

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

namespace {

bool levelFromName(const std::string& name, lumber::LogLevel& level) {
    static const std::pair<const char*, lumber::LogLevel> names[] = {
        {"TRACE", lumber::TRACE}, {"DEBUG", lumber::DEBUG},    {"INFO", lumber::INFO},
        {"WARN", lumber::WARN},   {"ERROR", lumber::ERR},      {"FATAL", lumber::FATAL},
        {"OFF", lumber::OFF},     {"INHERIT", lumber::INHERIT}};
    for (const auto& [text, value] : names) {
        if (name == text) {
            level = value;
            return true;
        }
    }
    return false;
}

// A settings file holds lines "<logger name> <level>" (or "<name>=<level>"); "root" names the
// root logger, "#" starts a comment. A file that cannot be opened changes nothing.
void applySettings(const std::string& settingsFile) {
    if (settingsFile.empty()) {
        return;
    }
    std::ifstream in(settingsFile);
    std::string line;
    unsigned lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const auto hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        for (char& c : line) {
            if (c == '=') {
                c = ' ';
            }
        }
        std::istringstream words(line);
        std::string name;
        std::string levelText;
        std::string rest;
        if (!(words >> name)) {
            continue;
        }
        lumber::LogLevel level = lumber::INHERIT;
        if (!(words >> levelText) || (words >> rest) || !levelFromName(levelText, level)) {
            LOG(lumber::Logger::getRootLogger(), lumber::WARN)
                << "Ignoring line " << lineNumber << " of log settings " << settingsFile;
            continue;
        }
        const Logger logger =
            name == "root" ? lumber::Logger::getRootLogger() : lumber::Logger::getLogger(name);
        logger->setLevel(level);
    }
}

} // namespace

bool setupLogging(const std::string& settingsFile) {
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

    applySettings(settingsFile);
    return true;
}

lumber::LogLevel getLogLevel(const Logger& logger) {
    return logger->getLevel();
}

void setLogLevel(const Logger& logger, const lumber::LogLevel& level) {
    logger->setLevel(level);
}

} // namespace Logging
