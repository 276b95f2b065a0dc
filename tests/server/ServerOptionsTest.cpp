// The server's command line: refusals, help and version texts, and the accepted forms.

#include "BasicOptions.h"
#include "ScriptedClient.h"
#include "ServerProcess.h"
#include "ServerTexts.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

} // namespace

TEST(ServerOptions, RefusedCommandLinesSayWhyOnStandardError) {
    struct Case {
        Args args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "Argument mapname is required"},
        {{"-d", "3"}, "Argument mapname is required"},
        {{"-t", "1", "-d", "3"}, "Argument mapname is required"},
        {{"m.map", "-b", "0", "-d", "3"}, "Please choose a port value > 0."},
        {{"m.map", "-b", "65536", "-d", "3"},
         "Argument -b port number does not accept the value 65536"},
        {{"m.map", "-t", "0.1"}, "Please choose a timeout value >= 0.2 seconds."},
        {{"m.map", "-t", "0.19999"}, "Please choose a timeout value >= 0.2 seconds."},
        {{"m.map", "-t", "4294967.296"}, "Please choose a timeout value < 4294967.296 seconds."},
        {{"m.map", "-t", "1e12"}, "Please choose a timeout value < 4294967.296 seconds."},
        {{"m.map", "-t", "1 "}, "Argument -t seconds does not accept the value 1 "},
        {{"m.map", "-t", "1", "-d", "3"},
         "Must set exactly one argument from -t seconds -d number"},
        {{"m.map"}, "Must set exactly one argument from -t seconds -d number"},
        {{"m.map", "-w", "4294967296", "-d", "3"},
         "Argument -w number does not accept the value 4294967296"},
        {{"m.map", "-d", "3", "--bogus"}, "The named argument bogus is unknown"},
        {{"m.map", "-d", "3", "-x"}, "The flag argument x is unknown"},
        {{"m.map", "-d", "3", "--help=1"}, "Argument -h does not accept a value"},
        {{"m.map", "-d", "3", "-l"}, "Argument -l filename requires a value"},
        {{"m.map", "-d", "3", "--nocolor", "--nocolor"}, "Argument --nocolor can only be set once"},
        {{"a.map", "b.map", "-d", "3"}, "Argument mapname can only be set once"},
        {{"a.map", "-m", "b.map", "-d", "3"}, "Argument mapname can only be set once"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) {
            line += " [" + arg + "]";
        }
        SCOPED_TRACE("server" + line);
        const ServerResult result = runServer(c.args);
        ASSERT_TRUE(result.exited);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, c.message + "\n");
        EXPECT_EQ(result.out, "");
    }
}

TEST(ServerOptions, HelpTextShowsEveryOption) {
    for (const Args& args : {Args{"-h"}, Args{"m.map", "-d", "3", "--help"}, Args{"-hv"}}) {
        const ServerResult result = runServer(args);
        ASSERT_TRUE(result.exited);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, serverHelp());
        EXPECT_EQ(result.out, "");
    }
}

TEST(ServerOptions, HelpTextNamesTheProgramAsCalled) {
    ServerProcess server("/opt/games/reversi-server");
    ASSERT_TRUE(server.start({"-h"}));
    const ServerResult result = server.finish(10000);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.err, serverHelp("/opt/games/reversi-server"));
}

TEST(ServerOptions, VersionTextNamesTheBuild) {
    const ServerResult result = runServer({"-v"});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, BasicOptions::versionText() + "\n");
}

TEST(ServerOptions, AcceptedFormsReachTheMatch) {
    // Each server runs a two-player match whose player 1 is put out during admission, so the
    // match starts, reports its settings and ends at once.
    struct Case {
        Args args;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {{"MAP", "-t", "0.2"}, {"[ INFO] timelimit 200", "[ INFO] depthlimit 0"}},
        {{"MAP", "--timelimit=1.5"}, {"[ INFO] timelimit 1500", "[ INFO] depthlimit 0"}},
        {{"MAP", "-t1.0005"}, {"[ INFO] timelimit 1000"}},
        {{"MAP", "--timelimit", "4294967.295"}, {"[ INFO] timelimit 4294967295"}},
        {{"-d", "4", "MAP"}, {"[ INFO] timelimit 0", "[ INFO] depthlimit 4"}},
        {{"-m", "MAP", "--depthlimit=7"}, {"[ INFO] depthlimit 7"}},
        {{"--map=MAP", "-d", "300"}, {"[ INFO] depthlimit 300"}},
        {{"-d7", "--", "MAP"}, {"[ INFO] depthlimit 7"}},
        {{"--map", "MAP", "-d", "0", "-w", "5", "--nocolor", "-l", "settings.txt"},
         {"[ INFO] depthlimit 0"}},
    };

    struct Run {
        std::unique_ptr<ScriptedClient> p1;
        std::unique_ptr<ScriptedClient> p2;
        std::unique_ptr<ServerProcess> server;
        ServerResult result;
    };
    std::vector<Run> runs(cases.size());
    // All servers run side by side, so their pauses overlap.
    for (size_t i = 0; i < cases.size(); ++i) {
        Run& run = runs[i];
        run.p1 = std::make_unique<ScriptedClient>(1, std::vector<Answer>{});
        run.p1->sendMoveAsGroupId();
        run.p2 = std::make_unique<ScriptedClient>(2, std::vector<Answer>{});
        run.server = std::make_unique<ServerProcess>();
        Args args = cases[i].args;
        for (std::string& arg : args) {
            const size_t at = arg.find("MAP");
            if (at != std::string::npos) {
                arg.replace(at, 3, run.server->writeMap(TWO_PLAYER_MAP));
            }
        }
        args.insert(args.begin(), {"-b", std::to_string(freePort())});
        ASSERT_TRUE(run.server->start(args));
    }
    for (Run& run : runs) {
        const uint16_t port = run.server->waitForPort(10000);
        ASSERT_NE(port, 0) << run.server->out() << run.server->err();
        ASSERT_TRUE(connectAndStart({run.p1.get(), run.p2.get()}, port));
    }
    for (Run& run : runs) {
        run.result = run.server->finish(30000);
        run.p1->join();
        run.p2->join();
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const Run& run = runs[i];
        ASSERT_TRUE(run.result.exited);
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.result.err, "");
        EXPECT_EQ(firstMissing(withoutTimes(run.result.out), cases[i].lines), "");
        EXPECT_EQ(run.p2->messages(),
                  (std::vector<std::string>{"GAMEBOARD", "PLAYERNUM 2", "DISQUALIFICATION 1", "FIN",
                                            "closed"}));
    }
}
