// Reading the server's console: the texts are fixed, so exact lines are the test data.

#include "ServerLog.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(ServerLog, ReadsAdmissionMovesRefusalsAndScores) {
    const char* const console =
        "[ INFO] 11:25:52 Opening port...\n"
        "Opening port...OK. Port number is 31005\n"
        "Waiting client 0 to connect...OK\n"
        "[ INFO] 11:25:53 Client connected\n"
        "Waiting client 1 to connect...OK\n"
        "[ INFO] 11:25:53 Client connected\n"
        "[ INFO] 11:25:53 Waiting for group id of player 1\n"
        "[ INFO] 11:25:53 OK, got a group: 255\n"
        "[ INFO] 11:25:53 Waiting for group id of player 2\n"
        "[ INFO] 11:25:53 Client 1 connected as player 1 with group 255\n"
        "[ INFO] 11:25:53 Client 2 connected as player 2 with group 0\n"
        "Game started[ INFO] 11:25:54 Current board:\n"
        "[ INFO] 11:25:54 Sending move request to player 1 with depth 0, time left: 1000 msecs.\n"
        "Sending move request to player 1 with depth 0, time left: 1000 msecs.\n"
        "Answer from player 1 for move 0 was (x,y,c) = (2,3,0); time left: 766msecs.\n"
        "Board\n"
        "00000000\n"
        "Sending move request to player 2 with depth 0, time left: 1000 msecs.\n"
        "Answer from player 2 for move 1 was (x,y,c) = (0,0,20); time left: 998msecs.\n"
        "[ INFO] 11:25:55 Player 2 disqualified. (Invalid move: Player 2 (x,y)=(0,0) choice: 20. "
        "time left: 998 msecs)\n"
        "Player 2 disqualified (Invalid move: Player 2 (x,y)=(0,0) choice: 20. time left: 998 "
        "msecs)\n"
        "Sending move request to player 1 with depth 0, time left: 1766 msecs.\n"
        "[ INFO] 11:25:55 Scores:\n"
        "[ INFO] 11:25:55 Player 1: 5 points and is currently leading\n"
        "[ INFO] 11:25:55 Player 2: disqualified\n"
        "Final state reached\n";
    ServerLog log;
    std::istringstream in(console);
    for (std::string line; std::getline(in, line);) {
        log.feed(line);
        if (line.find("group id of player 2") != std::string::npos) {
            EXPECT_EQ(log.awaitingGroup(), 2u);
        }
    }
    EXPECT_EQ(log.port(), 31005u);
    EXPECT_EQ(log.admitted(), 2u);
    EXPECT_EQ(log.groups().at(1), 255u);
    EXPECT_EQ(log.awaitingMove(), 1u);
    ASSERT_EQ(log.events().size(), 2u);
    const LoggedEvent& move = log.events()[0];
    EXPECT_TRUE(move.isMove);
    EXPECT_EQ(move.move.number, 0u);
    EXPECT_EQ(move.move.x, 2);
    EXPECT_EQ(move.move.y, 3);
    EXPECT_EQ(move.move.leftBefore - move.move.leftAfter, 234u);
    const LoggedEvent& refusal = log.events()[1];
    EXPECT_FALSE(refusal.isMove);
    EXPECT_EQ(refusal.player, 2u);
    EXPECT_EQ(refusal.reason,
              "Invalid move: Player 2 (x,y)=(0,0) choice: 20. time left: 998 msecs");
    EXPECT_TRUE(refusal.hasAnswer);
    EXPECT_EQ(refusal.move.choice, 20);
    EXPECT_EQ(log.scores(), (std::map<unsigned, int>{{1, 5}, {2, -1}}));
    EXPECT_TRUE(log.finalReached());
}
