// Loading the map before any client is admitted.

#include "ServerProcess.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

#include <string>

TEST(MapLoading, MissingFileEndsTheServer) {
    const ServerResult result = runServer({"/nonexistent/dir/none.map", "-d", "3"});
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(withoutTimes(result.out), "[ INFO] Initializing server\n"
                                        "[ INFO] Loading map /nonexistent/dir/none.map\n"
                                        "[ERROR] Error in stream\n"
                                        "[FATAL] Error loading map\n");
}

TEST(MapLoading, FaultyMapShowsItsFaultsAndEndsTheServer) {
    ServerProcess server;
    const std::string path = server.writeMap("9\n0\n0 0\n1 2\n0 B\n");
    ASSERT_TRUE(server.start({path, "-d", "3"}));
    const ServerResult result = server.finish(10000);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(withoutTimes(result.out), "[ INFO] Initializing server\n"
                                        "[ INFO] Loading map " +
                                            path +
                                            "\n"
                                            "[ERROR] Invalid number of players: 9\n"
                                            "[ERROR] Invalid tile at (1, 0)\n"
                                            "[FATAL] Error loading map\n");
}

TEST(MapLoading, FinalMapEndsTheServerBeforeAnyPortIsOpened) {
    // From standard input ("-" as value or bare word) and from a file alike.
    const std::string tail = "[ INFO] The map is a 2-player map\n"
                             "[FATAL] Map is final, nothing to do.\n"
                             "Map is final\n";
    for (const char* stdinForm : {"--map=-", "-"}) {
        SCOPED_TRACE(stdinForm);
        const ServerResult result = runServer({stdinForm, "-d", "3"}, FINAL_MAP);
        ASSERT_TRUE(result.exited);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(withoutTimes(result.out), "[ INFO] Initializing server\n"
                                            "[ INFO] Loading map from stdin\n" +
                                                tail);
    }
    ServerProcess server;
    const std::string path = server.writeMap(FINAL_MAP);
    ASSERT_TRUE(server.start({"-d", "3", path}));
    const ServerResult result = server.finish(10000);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(withoutTimes(result.out),
              "[ INFO] Initializing server\n[ INFO] Loading map " + path + "\n" + tail);
}

TEST(MapLoading, MapFromStandardInputIsServed) {
    // Nobody connects: the server gives up after its one second of waiting.
    const ServerResult result =
        runServer({"-", "-d", "3", "-w", "1", "-b", std::to_string(freePort())}, THREE_PLAYER_MAP);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    const std::string log = withoutTimes(result.out);
    EXPECT_EQ(firstMissing(log, {"[ INFO] Initializing server", "[ INFO] Loading map from stdin",
                                 "[ INFO] The map is a 3-player map", "[ INFO] Starting Server.",
                                 "[ INFO] Waiting for clients",
                                 "[ INFO] Waiting for client 0 to connect...",
                                 "[FATAL] Could not accept connection"}),
              "")
        << log;
}
