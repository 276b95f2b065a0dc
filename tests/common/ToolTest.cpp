#include "Tool.h"
#include "colors.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Redirects standard error into a string for the life of the object.
class StderrCapture {
public:
    StderrCapture() : m_old(std::cerr.rdbuf(m_buffer.rdbuf())) {}
    ~StderrCapture() { std::cerr.rdbuf(m_old); }
    std::string text() const { return m_buffer.str(); }

private:
    std::ostringstream m_buffer;
    std::streambuf* m_old;
};

// A tool declaring the match server's options, the way the server does.
class ServerLikeTool : public Tool {
public:
    std::string mapName = "-";
    unsigned timeLimit = 0;
    unsigned depthLimit = 0;
    unsigned short basePort = 7777;
    unsigned zleep = 0;
    int runs = 0;

protected:
    bool doRun() override {
        ++runs;
        return true;
    }

    bool parseOptions(knob::ArgumentParser& parser) override {
        knob::VariableArgument<std::string> map("Load this map", mapName);
        map.valuename("mapname").alias('m', "map");
        knob::VariableArgument<unsigned short> port(
            "Use this port (NOTE: actual server port may differ if &baseport is in use)", basePort);
        port.valuename("port number");
        port.check_typed([](const knob::Argument&, const unsigned short& value) {
            if (value == 0) {
                throw knob::exception("Please choose a port value > 0.");
            }
        });
        knob::ValueArgument<double> time("Apply &timelimit (in seconds, >=0.2)");
        time.valuename("seconds");
        time.check_typed([](const knob::Argument&, const double& value) {
            if (0.2 > value) {
                throw knob::exception("Please choose a timeout value >= 0.2 seconds.");
            }
        });
        knob::VariableArgument<unsigned> depth(
            "Apply &depthlimit (in case of time limit, clients may ignore this)", depthLimit);
        depth.valuename("number");
        knob::VariableArgument<unsigned> wait("Seconds to &wait for a single client to connect",
                                              zleep);
        wait.valuename("number");

        parser.add(+map).add(port).add(+(time ^ depth)).add(wait);
        if (!Tool::parseOptions(parser)) {
            return false;
        }
        if (time) {
            timeLimit = static_cast<unsigned>(time.value() * 1000.0);
        }
        return true;
    }
};

// init with the program name "server" and the given tokens; the text written to standard error.
std::string initServer(ServerLikeTool& tool, std::vector<const char*> tokens, bool& ok) {
    tokens.insert(tokens.begin(), "server");
    StderrCapture capture;
    ok = tool.init(static_cast<int>(tokens.size()), tokens.data());
    return capture.text();
}

TEST(Tool, ServerHelpText) {
    ServerLikeTool tool;
    bool ok = true;
    const std::string text = initServer(tool, {"-h"}, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(tool.run());
    EXPECT_EQ(tool.runs, 0);
    EXPECT_EQ(text,
              "Usage: server mapname [ -b port number ] ( -t seconds | -d number ) [ -w number ] "
              "[ -l filename ] [ --nocolor ] [ -h ] [ -v ]\n"
              "\n"
              "Arguments:\n"
              "  mapname           Load this map\n"
              "  -b, --baseport    Use this port (NOTE: actual server port may differ if baseport "
              "is in use)\n"
              "  -t, --timelimit   Apply timelimit (in seconds, >=0.2)\n"
              "  -d, --depthlimit  Apply depthlimit (in case of time limit, clients may ignore "
              "this)\n"
              "  -w, --wait        Seconds to wait for a single client to connect\n"
              "\n"
              "Basic options:\n"
              "  -l, --log         File to load log settings from\n"
              "  --nocolor         Disable ANSI colors when printing\n"
              "  -h, --help        Show this help text\n"
              "  -v, --version     Show version information\n"
              "\n");
}

TEST(Tool, ServerRefusals) {
    const struct {
        std::vector<const char*> tokens;
        const char* message;
    } cases[] = {
        {{}, "Argument mapname is required\n"},
        {{"-t", "1"}, "Argument mapname is required\n"},
        {{"a.map"}, "Must set exactly one argument from -t seconds -d number\n"},
        {{"a.map", "-t", "1", "-d", "3"},
         "Must set exactly one argument from -t seconds -d number\n"},
        {{"a.map", "b.map", "-t", "1"}, "Argument mapname can only be set once\n"},
        {{"a.map", "-m", "b.map", "-t", "1"}, "Argument mapname can only be set once\n"},
        {{"a.map", "-t", "1", "-b", "0"}, "Please choose a port value > 0.\n"},
        {{"a.map", "--baseport=65536", "-t", "1"},
         "Argument -b port number does not accept the value 65536\n"},
        {{"a.map", "-t", "0.19"}, "Please choose a timeout value >= 0.2 seconds.\n"},
        {{"a.map", "-d", "-1"}, "Argument -d number does not accept the value -1\n"},
        {{"a.map", "-w", "3 ", "-d", "1"}, "Argument -w number does not accept the value 3 \n"},
        {{"a.map", "-t", "1", "--bogus", "-h"}, "The named argument bogus is unknown\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ServerLikeTool tool;
        bool ok = true;
        EXPECT_EQ(initServer(tool, c.tokens, ok), c.message);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(tool.run());
        EXPECT_EQ(tool.runs, 0);
    }
}

TEST(Tool, ServerAcceptsAndRuns) {
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
        ServerLikeTool tool;
        bool ok = false;
        EXPECT_EQ(initServer(tool, c.tokens, ok), "");
        EXPECT_TRUE(ok);
        EXPECT_EQ(tool.mapName, c.map);
        EXPECT_EQ(tool.timeLimit, c.timeLimit);
        EXPECT_EQ(tool.depthLimit, c.depthLimit);
        EXPECT_EQ(tool.basePort, c.port);
        EXPECT_EQ(tool.zleep, c.wait);
        EXPECT_TRUE(tool.run());
        EXPECT_EQ(tool.runs, 1);
    }
}

TEST(Tool, VersionTextAndColourSwitch) {
    ServerLikeTool tool;
    bool ok = true;
    // The log file name swallows the -v that follows it.
    EXPECT_EQ(initServer(tool, {"a.map", "-d1", "--log", "-v", "-v"}, ok).substr(0, 12),
              "1.0.0 build ");
    const std::string text = initServer(tool, {"-v"}, ok);
    EXPECT_FALSE(ok);
    // "Mmm dd yyyy" as the compiler writes its date, the day padded with a blank.
    ASSERT_EQ(text.size(), 24u) << text;
    EXPECT_EQ(text.substr(0, 12), "1.0.0 build ");
    const std::string date = text.substr(12);
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
    ServerLikeTool coloured;
    EXPECT_EQ(initServer(coloured, {"a.map", "-d1", "--nocolor"}, ok), "");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ansi::enableColor);
    ServerLikeTool twice;
    EXPECT_EQ(initServer(twice, {"a.map", "-d1", "--nocolor", "--nocolor"}, ok),
              "Argument --nocolor can only be set once\n");
    EXPECT_TRUE(ansi::enableColor);
    ansi::enableColor = saved;
}

TEST(Tool, NoCommandLineAndNoOptionsOfItsOwn) {
    class Bare : public Tool {
    protected:
        bool doRun() override { return true; }
    };
    Bare bare;
    StderrCapture capture;
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
