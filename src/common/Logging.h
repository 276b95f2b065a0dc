#pragma once
// The program's named loggers and their wiring to standard output.

#include "lumber/Logger.h"

#include <string>

namespace Logging {

using Logger = lumber::LogPtr;

/// The logger of that name, made on first use.
Logger getLogger(const char* name);

extern Logger loggerMap;        // "reversi.map"
extern Logger loggerNetwork;    // "reversi.network"
extern Logger loggerGame;       // "reversi.game"
extern Logger loggerConsole;    // "reversi.console"
extern Logger loggerServer;     // "reversi.server"
extern Logger loggerMatchpoint; // "reversi.matchpoint"
extern Logger loggerAI;         // "reversi.ai"

/// Attaches the line sink (root, level INFO) and the bare sink (match point, not additive),
/// both on standard output. Call once. A settings file, when given, may then change logger
/// levels: one "<logger name> <level>" per line ("root" for the root logger, levels TRACE,
/// DEBUG, INFO, WARN, ERROR, FATAL, OFF, INHERIT; "#" starts a comment). Only a regular file is
/// read, and never waited for; anything else changes nothing. Lines beyond 4096 bytes are
/// skipped, and bytes beyond the first MiB ignored, each with a warning. Always true.
bool setupLogging(const std::string& settingsFile);

/// The logger's effective level.
lumber::LogLevel getLogLevel(const Logger& logger);
void setLogLevel(const Logger& logger, const lumber::LogLevel& level);

} // namespace Logging

/// Log statement on one of the program's loggers: LOG(Logging::loggerMap, lumber::ERR) << ...;
/// The message is not built when the level does not pass.
#define LOG(logger, level) LUMBER_LOG(logger, level)
