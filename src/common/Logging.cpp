#include "Logging.h"

#include "lumber/StreamSink.h"
#include "lumber/TemplateFormatter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Bounds on what is read of a settings file: a longer line is skipped, the rest of a larger
// file is ignored; each with a warning.
constexpr size_t MAX_SETTINGS_LINE = 4096;
constexpr size_t MAX_SETTINGS_SIZE = size_t{1024} * 1024;

// The first MAX_SETTINGS_SIZE bytes of a regular file, and whether there was more. Anything
// else (missing, unreadable, a FIFO, a device, a directory) gives nothing, like an empty file.
// The file is opened without waiting for a writer, so a FIFO cannot hold start-up up.
std::string readRegularFile(const std::string& path, bool& cut) {
    cut = false;
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // One byte beyond the bound tells whether the file is larger.
        text.resize(MAX_SETTINGS_SIZE + 1);
        size_t filled = 0;
        while (filled < text.size()) {
            const ssize_t got = ::read(fd, &text[filled], text.size() - filled);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            filled += static_cast<size_t>(got);
        }
        cut = filled > MAX_SETTINGS_SIZE;
        text.resize(std::min(filled, MAX_SETTINGS_SIZE));
    }
    ::close(fd);
    return text;
}

void warn(const std::string& text) {
    LOG(lumber::Logger::getRootLogger(), lumber::WARN) << text;
}

// One setting: "<logger name> <level>" (or "<name>=<level>"); "root" names the root logger,
// "#" starts a comment.
void applySetting(std::string line, unsigned lineNumber, const std::string& settingsFile) {
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
        return;
    }
    lumber::LogLevel level = lumber::INHERIT;
    if (!(words >> levelText) || (words >> rest) || !levelFromName(levelText, level)) {
        warn("Ignoring line " + std::to_string(lineNumber) + " of log settings " + settingsFile);
        return;
    }
    const Logger logger =
        name == "root" ? lumber::Logger::getRootLogger() : lumber::Logger::getLogger(name);
    logger->setLevel(level);
}

void applySettings(const std::string& settingsFile) {
    if (settingsFile.empty()) {
        return;
    }
    bool cut = false;
    const std::string text = readRegularFile(settingsFile, cut);
    unsigned lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (cut) {
                // The bound fell inside this line: it is part of what is ignored.
                break;
            }
            end = text.size();
        }
        ++lineNumber;
        if (end - start > MAX_SETTINGS_LINE) {
            warn("Ignoring line " + std::to_string(lineNumber) + " of log settings " +
                 settingsFile + ": longer than " + std::to_string(MAX_SETTINGS_LINE) + " bytes");
        } else {
            applySetting(text.substr(start, end - start), lineNumber, settingsFile);
        }
        start = end + 1;
    }
    if (cut) {
        warn("Ignoring log settings " + settingsFile + " beyond its first " +
             std::to_string(MAX_SETTINGS_SIZE) + " bytes");
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
