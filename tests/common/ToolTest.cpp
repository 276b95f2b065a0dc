#include "Tool.h"
#include "BasicOptions.h"
#include "Server.h"
#include "colors.h"
#include "server/ServerTexts.h"

#include "support/StreamCapture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The match server with its real options, its work replaced by a count of runs.
class CountingServer : public Server {
public:
    int runs = 0;

    bool doRun() override {
        ++runs;
        return true;
    }
};

// init with the program name "server" and the given tokens; the text written to standard error.
std::string initServer(CountingServer& tool, std::vector<const char*> tokens, bool& ok) {
    tokens.insert(tokens.begin(), "server");
    StreamCapture capture(std::cerr);
    ok = tool.init(static_cast<int>(tokens.size()), tokens.data());
    return capture.text();
}

TEST(Tool, HelpIsWrittenToStandardErrorAndTheWorkIsNotRun) {
    CountingServer tool;
    bool ok = true;
    const std::string text = initServer(tool, {"-h"}, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(tool.run());
    EXPECT_EQ(tool.runs, 0);
    EXPECT_EQ(text, serverHelp());
}

TEST(Tool, RefusalIsOneLineOnStandardErrorAndTheWorkIsNotRun) {
    const struct {
        std::vector<const char*> tokens;
        const char* message;
    } cases[] = {
        // The program's own refusals are tested on the server program; these are the forms
        // met only here.
        {{}, "Argument mapname is required\n"},
        {{"a.map", "--baseport=65536", "-t", "1"},
         "Argument -b port number does not accept the value 65536\n"},
        {{"a.map", "-d", "-1"}, "Argument -d number does not accept the value -1\n"},
        {{"a.map", "-w", "3 ", "-d", "1"}, "Argument -w number does not accept the value 3 \n"},
        {{"a.map", "-t", "1", "--bogus", "-h"}, "The named argument bogus is unknown\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        CountingServer tool;
        bool ok = true;
        EXPECT_EQ(initServer(tool, c.tokens, ok), c.message);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(tool.run());
        EXPECT_EQ(tool.runs, 0);
    }
}

TEST(Tool, AcceptedCommandLineFillsTheOptionsAndRunsTheWorkOnce) {
    const struct {
        std::vector<const char*> tokens;
        const char* map;
        unsigned timeLimit;
        unsigned depthLimit;
        unsigned short port;
        unsigned wait;
    } cases[] = {
        {{"a.map", "-t", "0.2"}, "a.map", 200, 0, 7777, 0},
        {{"-", "-t1.5", "-b", "65535", "-w", "30"}, "-", 1500, 0, 65535, 30},
        {{"--map=x y", "--timelimit", "1.0005"}, "x y", 1000, 0, 7777, 0},
        {{"-d", "4", "-mz.map", "--wait=0"}, "z.map", 0, 4, 7777, 0},
        {{"-d", "4", "--", "-weird"}, "-weird", 0, 4, 7777, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        CountingServer tool;
        bool ok = false;
        EXPECT_EQ(initServer(tool, c.tokens, ok), "");
        EXPECT_TRUE(ok);
        EXPECT_EQ(tool.mapName(), c.map);
        EXPECT_EQ(tool.timeLimit(), c.timeLimit);
        EXPECT_EQ(tool.depthLimit(), c.depthLimit);
        EXPECT_EQ(tool.basePort(), c.port);
        EXPECT_EQ(tool.waitSeconds(), c.wait);
        EXPECT_TRUE(tool.run());
        EXPECT_EQ(tool.runs, 1);
    }
}

TEST(Tool, VersionTextNamesTheBuildAndEachNocolorInvertsColours) {
    CountingServer tool;
    bool ok = true;
    // The log file name swallows the -v that follows it.
    EXPECT_EQ(initServer(tool, {"a.map", "-d1", "--log", "-v", "-v"}, ok),
              BasicOptions::versionText() + "\n");
    const std::string text = initServer(tool, {"-v"}, ok);
    EXPECT_FALSE(ok);
    // The project's version, then "Mmm dd yyyy" as the compiler writes its date, the day
    // padded with a blank.
    const std::string version = std::string(REVERSI_PROJECT_VERSION) + " build ";
    EXPECT_EQ(Tool::Version, std::string(REVERSI_PROJECT_VERSION));
    ASSERT_EQ(text.size(), version.size() + 12) << text;
    EXPECT_EQ(text.substr(0, version.size()), version);
    const std::string date = text.substr(version.size());
    const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const size_t month = months.find(date.substr(0, 3));
    EXPECT_TRUE(month != std::string::npos && month % 3 == 0) << date;
    EXPECT_NE(std::string(" 123").find(date[4]), std::string::npos) << date;
    for (const size_t digit : {5, 7, 8, 9, 10}) {
        EXPECT_TRUE(date[digit] >= '0' && date[digit] <= '9') << date;
    }
    EXPECT_EQ(date[3], ' ');
    EXPECT_EQ(date[6], ' ');
    EXPECT_EQ(date[11], '\n');

    // Colours start off; each --nocolor inverts the switch.
    const bool saved = ansi::enableColor;
    ansi::enableColor = false;
    CountingServer coloured;
    EXPECT_EQ(initServer(coloured, {"a.map", "-d1", "--nocolor"}, ok), "");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ansi::enableColor);
    CountingServer twice;
    EXPECT_EQ(initServer(twice, {"a.map", "-d1", "--nocolor", "--nocolor"}, ok),
              "Argument --nocolor can only be set once\n");
    EXPECT_TRUE(ansi::enableColor);
    ansi::enableColor = saved;
}

TEST(Tool, WithoutCommandLineNothingIsParsedAndBasicOptionsStandAlone) {
    class Bare : public Tool {
    protected:
        bool doRun() override { return true; }
    };
    Bare bare;
    StreamCapture capture(std::cerr);
    EXPECT_FALSE(bare.run());
    EXPECT_FALSE(bare.init(0, nullptr));
    EXPECT_FALSE(bare.run());
    EXPECT_EQ(capture.text(), "");

    const char* const argv[] = {"bare", "--help"};
    EXPECT_FALSE(bare.init(2, argv));
    EXPECT_EQ(capture.text(), "Usage: bare  [ -l filename ] [ --nocolor ] [ -h ] [ -v ]\n"
                              "\n"
                              "Basic options:\n"
                              "  -l, --log      File to load log settings from\n"
                              "  --nocolor      Disable ANSI colors when printing\n"
                              "  -h, --help     Show this help text\n"
                              "  -v, --version  Show version information\n"
                              "\n");
}

} // namespace
