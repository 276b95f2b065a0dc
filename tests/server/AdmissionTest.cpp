// Opening the port and admitting the clients.

#include "LaneTranscripts.h"
#include "Network.h"
#include "ScriptedClient.h"
#include "ServerProcess.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

TEST(Admission, MoveInsteadOfGroupIdIsPutOutAndAnnouncedAfterThePause) {
    ScriptedClient p1(11, {});
    p1.sendMoveAsGroupId();
    ScriptedClient p2(12, {Answer::move(0, 2)});
    ScriptedClient p3(13, {Answer::move(0, 4)});
    const ServerResult result = playMatch(THREE_PLAYER_MAP, {"-d", "3"}, {&p1, &p2, &p3});

    expectTranscripts(result,
                      lanesAfterFirstOut({"DISQUALIFICATION 1", "closed"}, "MOVEREQUEST 0 3"), p1,
                      p2, p3);
    // The others learn of it only after the pause that follows the distribution.
    ASSERT_GE(p2.arrivals().size(), 3u);
    EXPECT_GE(p2.arrivals()[2] - p2.arrivals()[1], 900);

    const std::string log = withoutTimes(result.out);
    EXPECT_EQ(firstMissing(
                  log, {"[ INFO] Waiting for group id of player 1", "[ERROR] Failed to receive msg",
                        "[ INFO] Player 1 disqualified. (Failed to receive group id)",
                        "Player 1 disqualified (Failed to receive group id)",
                        "[ INFO] Waiting for group id of player 2", "[ INFO] OK, got a group: 12",
                        "[ INFO] Waiting for group id of player 3", "[ INFO] OK, got a group: 13",
                        "[ INFO] Client 1 connected as player 1 with group 0",
                        "[ INFO] Client 2 connected as player 2 with group 12",
                        "[ INFO] Client 3 connected as player 3 with group 13",
                        "[ INFO] Sending data to player 2", "[ INFO] Sending data to player 3",
                        "[ INFO] Init OK, starting game"}),
              "");
    EXPECT_EQ(log.find("Sending data to player 1"), std::string::npos);
}

TEST(Admission, TakenBasePortMovesToTheNextFreeOne) {
    const uint16_t base = freePort();
    TcpServer blocker;
    ASSERT_TRUE(blocker.open_port(base));

    ScriptedClient p1(1, {Answer::move(3, 0), Answer::move(1, 0)});
    ScriptedClient p2(2, {Answer::move(0, 0)});
    ServerProcess server;
    ASSERT_TRUE(
        server.start({server.writeMap(TWO_PLAYER_MAP), "-d", "1", "-b", std::to_string(base)}));
    const uint16_t port = server.waitForPort(10000);
    EXPECT_GT(port, base);
    EXPECT_LE(port, base + 100);
    ASSERT_TRUE(connectAndStart({&p1, &p2}, port));
    const ServerResult result = server.finish(30000);
    blocker.close();

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0);
    const std::string log = withoutTimes(result.out);
    EXPECT_NE(log.find("OK. Port number is " + std::to_string(port) + "\n"), std::string::npos);
    EXPECT_NE(log.find("Failed to bind socket"), std::string::npos);
    p1.join();
    EXPECT_EQ(p1.messages().back(), "closed");
    EXPECT_EQ(p1.messages()[p1.messages().size() - 2], "FIN");
}

TEST(Admission, PortSearchStopsAtTheTopOfTheRange) {
    // Past 65535 there is nothing to try; wrapping round would end up on port 0, "any port".
    TcpServer blocker;
    if (!blocker.open_port(65535)) {
        GTEST_SKIP() << "port 65535 is in use here";
    }
    ServerProcess server;
    ASSERT_TRUE(server.start({server.writeMap(TWO_PLAYER_MAP), "-d", "1", "-b", "65535"}));
    const ServerResult result = server.finish(10000);
    blocker.close();

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    const std::string log = withoutTimes(result.out);
    EXPECT_EQ(firstMissing(
                  log, {"[FATAL] Could not open port.", "[FATAL] Server init failed", "bye bye"}),
              "")
        << log;
    EXPECT_NE(log.find("FAILED\n"), std::string::npos);
    EXPECT_EQ(log.find("Server is listening"), std::string::npos);
}

TEST(Admission, MissingClientEndsTheServerAndClosesTheFirstConnection) {
    ScriptedClient p1(1, {});
    ServerProcess server;
    ASSERT_TRUE(server.start(
        {server.writeMap(TWO_PLAYER_MAP), "-d", "1", "-w", "1", "-b", std::to_string(freePort())}));
    const uint16_t port = server.waitForPort(10000);
    ASSERT_NE(port, 0);
    const auto connected = std::chrono::steady_clock::now();
    ASSERT_TRUE(connectAndStart({&p1}, port));
    const ServerResult result = server.finish(10000);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - connected)
                            .count();
    p1.join();

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_GE(waited, 900);
    EXPECT_EQ(p1.messages(), (Messages{"closed"}));
    const std::string log = withoutTimes(result.out);
    EXPECT_NE(log.find("Waiting client 1 to connect..."), std::string::npos);
    EXPECT_EQ(firstMissing(log, {"Failed", "[FATAL] Could not accept connection",
                                 "[FATAL] Server init failed", "bye bye"}),
              "")
        << log;
}

TEST(Admission, HugeWaitTimeDoesNotWrapToAShortOne) {
    // 4294968 s in milliseconds exceeds 32 bits; wrapped it would be a wait of 704 ms.
    ServerProcess server;
    ASSERT_TRUE(server.start({server.writeMap(TWO_PLAYER_MAP), "-d", "1", "-w", "4294968", "-b",
                              std::to_string(freePort())}));
    ASSERT_NE(server.waitForPort(10000), 0);
    EXPECT_FALSE(server.waitForOutput("Could not accept connection", 1500));
    const ServerResult result = server.finish(0);
    EXPECT_FALSE(result.exited);
}
