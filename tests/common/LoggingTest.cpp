#include "Logging.h"
#include "TimeMask.h"

#include "support/StreamCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {} // namespace

TEST(LoggingSetup, LoggersExistBeforeSetupAndFormOneTree) {
    const char* names[] = {"reversi.map",     "reversi.network", "reversi.game",
                           "reversi.console", "reversi.server",  "reversi.matchpoint",
                           "reversi.ai"};
    const Logging::Logger loggers[] = {Logging::loggerMap,    Logging::loggerNetwork,
                                       Logging::loggerGame,   Logging::loggerConsole,
                                       Logging::loggerServer, Logging::loggerMatchpoint,
                                       Logging::loggerAI};
    for (size_t i = 0; i < 7; ++i) {
        ASSERT_TRUE(loggers[i]);
        EXPECT_EQ(loggers[i]->getName(), names[i]);
        EXPECT_EQ(Logging::getLogger(names[i]), loggers[i]);
    }
    EXPECT_EQ(Logging::getLogLevel(Logging::loggerServer), lumber::WARN);
}

// One test: setupLogging may run only once per process.
TEST(LoggingSetup, LineSinkBareSinkAndLevels) {
    const std::string settings = ::testing::TempDir() + "logging_test_settings";
    {
        std::ofstream file(settings);
        file << "# levels for the test\n"
             << "reversi.console = DEBUG\n"
             << "reversi.game LOUD\n";
    }
    StreamCapture capture(std::cout);
    ASSERT_TRUE(Logging::setupLogging(settings));
    std::remove(settings.c_str());
    LOG(Logging::loggerConsole, lumber::DEBUG) << "console detail";
    Logging::setLogLevel(Logging::loggerConsole, lumber::INHERIT);

    LOG(Logging::loggerServer, lumber::INFO) << "Initializing server";
    LOG(Logging::loggerServer, lumber::WARN) << "careful";
    LOG(Logging::loggerMap, lumber::ERR) << "bad map";
    LOG(Logging::loggerNetwork, lumber::FATAL) << "gone";
    LOG(Logging::loggerGame, lumber::DEBUG) << "invisible";
    LOG(Logging::loggerMatchpoint, lumber::INFO) << "Opening port...";
    LOG(Logging::loggerMatchpoint, lumber::INFO) << "OK. Port number is " << 7777 << "\n";
    LOG(Logging::loggerMatchpoint, lumber::DEBUG) << "hidden";

    Logging::setLogLevel(Logging::loggerNetwork, lumber::DEBUG);
    LOG(Logging::loggerNetwork, lumber::DEBUG) << "now visible";
    LOG(Logging::loggerGame, lumber::DEBUG) << "still invisible";
    Logging::setLogLevel(Logging::loggerNetwork, lumber::INHERIT);

    const std::string expected = "[ WARN] HH:MM:SS Ignoring line 3 of log settings " + settings +
                                 "\n" +
                                 "[DEBUG] HH:MM:SS console detail\n"
                                 "[ INFO] HH:MM:SS Initializing server\n"
                                 "[ WARN] HH:MM:SS careful\n"
                                 "[ERROR] HH:MM:SS bad map\n"
                                 "[FATAL] HH:MM:SS gone\n"
                                 "Opening port...OK. Port number is 7777\n"
                                 "[DEBUG] HH:MM:SS now visible\n";
    EXPECT_EQ(maskTimes(capture.text()), expected);
}
