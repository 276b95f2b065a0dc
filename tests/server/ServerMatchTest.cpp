// Whole matches against the real server program, played by scripted clients.

#include "LaneTranscripts.h"
#include "ScriptedClient.h"
#include "ServerProcess.h"
#include "TestMaps.h"
#include "support/Occurrences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

TEST(Match, TwoPlayersPlayToTheEndAndBothHearEveryMessage) {
    ScriptedClient p1(21, {Answer::move(3, 0), Answer::move(1, 0)});
    ScriptedClient p2(22, {Answer::move(0, 0)});
    // A depth limit of 300 goes out as its low byte, 44.
    const ServerResult result = playMatch(TWO_PLAYER_MAP, {"-d", "300"}, {&p1, &p2});

    expectTranscripts(
        result,
        {{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 0 44", "MOVEANNOUNCE 3 0 0 1", "TERMINAL",
          "MOVEANNOUNCE 0 0 0 2", "MOVEREQUEST 0 44", "MOVEANNOUNCE 1 0 0 1", "FIN", "closed"},
         {"GAMEBOARD", "PLAYERNUM 2", "MOVEANNOUNCE 3 0 0 1", "TERMINAL", "MOVEREQUEST 0 44",
          "MOVEANNOUNCE 0 0 0 2", "MOVEANNOUNCE 1 0 0 1", "FIN", "closed"}},
        p1, p2);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(p1.mapText(), "2\n0\n1 0\n1 4\n0 1 2 0\n");
    EXPECT_EQ(p2.mapText(), p1.mapText());

    const std::string log = withoutTimes(result.out);
    EXPECT_EQ(firstMissing(log, {"[ INFO] Initializing server",
                                 "[ INFO] The map is a 2-player map",
                                 "[ INFO] Starting Server.",
                                 "[ INFO] Waiting for group id of player 1",
                                 "[ INFO] OK, got a group: 21",
                                 "[ INFO] Waiting for group id of player 2",
                                 "[ INFO] OK, got a group: 22",
                                 "[ INFO] Client 1 connected as player 1 with group 21",
                                 "[ INFO] Client 2 connected as player 2 with group 22",
                                 "[ INFO] Sending data to player 1",
                                 "[ INFO] Sending data to player 2",
                                 "[ INFO] Init OK, starting game",
                                 "[ INFO] timelimit 0",
                                 "[ INFO] depthlimit 300",
                                 "[ INFO] Current map:",
                                 "2",
                                 "0",
                                 "1 0",
                                 "1 4",
                                 "0 1 2 0",
                                 "     0  1  2  3  ",
                                 "   /-------------",
                                 "0  | 0  1  2  0' ",
                                 "[ INFO] Player 1 has 0 overrides and 1 bombs",
                                 "[ INFO] Sending move request to player 1 with depth 300, time "
                                 "left: 0 msecs.",
                                 "Sending move request to player 1 with depth 300, time left: 0 "
                                 "msecs.",
                                 "[ INFO] Received move 0: Player 1 (x,y)=(3,0). time left: 0msecs",
                                 "Board",
                                 "0111",
                                 "[ INFO] Current board:",
                                 "     0  1  2  3  ",
                                 "   /-------------",
                                 "0  | 0  1  1  1  ",
                                 "[ INFO] Terminal state reached.",
                                 "[ INFO] Terminal state reached",
                                 "[ INFO] Final state reached",
                                 "[ INFO] Final state reached.",
                                 "Final state reached",
                                 "[ INFO] Player 1: 2 points and is currently leading",
                                 "[ INFO] Player 2: 0 points"}),
              "");
    // The short progress report runs its pieces together on shared lines.
    EXPECT_NE(log.find("Waiting client 0 to connect...OK\n"), std::string::npos);
    EXPECT_NE(log.find("Waiting client 1 to connect...OK\n"), std::string::npos);
    // The board follows "Game started" on its line, as nothing ends that line before it.
    EXPECT_NE(log.find("\nGame started[ INFO] "), std::string::npos);
    EXPECT_NE(log.find("Answer from player 2 for move 1 was (x,y,c) = (0,0,0); time left: "
                       "0msecs.\nBoard\n-111\n"),
              std::string::npos);
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "colours are off by default";
}

TEST(Match, ThreePlayersPlayToTheEnd) {
    ScriptedClient p1(1, {Answer::move(0, 0)});
    ScriptedClient p2(2, {Answer::move(0, 2)});
    ScriptedClient p3(3, {Answer::move(0, 4)});
    const ServerResult result = playMatch(THREE_PLAYER_MAP, {"-d", "2"}, {&p1, &p2, &p3});

    expectTranscripts(result, lanesPlayedOut("MOVEREQUEST 0 2"), p1, p2, p3);
    const std::string log = withoutTimes(result.out);
    EXPECT_EQ(
        firstMissing(log, {"[ INFO] The map is a 3-player map", "[ INFO] Final state reached.",
                           "[ INFO] Player 1: 3 points and is currently leading",
                           "[ INFO] Player 2: 3 points", "[ INFO] Player 3: 3 points"}),
        "");
    EXPECT_EQ(log.find("Terminal state reached"), std::string::npos);
}

TEST(Match, UnusedTimeIsCarriedToTheNextRequest) {
    // Player 1 thinks 300 ms of its 1000 and gets the rest on top of its next 1000.
    ScriptedClient p1(1, {Answer::move(3, 0, MoveChoice::NONE, 300), Answer::move(1, 0)});
    ScriptedClient p2(2, {Answer::move(0, 0)});
    const ServerResult result = playMatch(TWO_PLAYER_MAP, {"-t", "1"}, {&p1, &p2});

    ASSERT_TRUE(result.exited) << result.out;
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(p1.requestTimes().size(), 2u);
    EXPECT_EQ(p1.requestTimes()[0], 1000u);
    EXPECT_GE(p1.requestTimes()[1], 1550u);
    EXPECT_LE(p1.requestTimes()[1], 1700u);
    EXPECT_EQ(p2.requestTimes(), (std::vector<uint32_t>{1000}));
    EXPECT_EQ(
        firstMissing(withoutTimes(result.out), {"[ INFO] timelimit 1000", "[ INFO] depthlimit 0"}),
        "");
}

TEST(Match, HumanClientIsNeverTooSlow) {
    // Group id 255 marks a human: its 200 ms do not bind it.
    ScriptedClient p1(1, {Answer::move(3, 0), Answer::move(1, 0)});
    ScriptedClient p2(255, {Answer::move(0, 0, MoveChoice::NONE, 400)});
    const ServerResult result = playMatch(TWO_PLAYER_MAP, {"-t", "0.2"}, {&p1, &p2});

    ASSERT_TRUE(result.exited) << result.out;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(p2.messages(), (Messages{"GAMEBOARD", "PLAYERNUM 2", "MOVEANNOUNCE 3 0 0 1",
                                       "TERMINAL", "MOVEREQUEST 200 0", "MOVEANNOUNCE 0 0 0 2",
                                       "MOVEANNOUNCE 1 0 0 1", "FIN", "closed"}));
    const std::string log = withoutTimes(result.out);
    EXPECT_EQ(occurrences(log, "[ INFO] Timelimit will not apply to human client!\n"), 1u);
    EXPECT_EQ(log.find("disqualified"), std::string::npos);
}

TEST(Match, ColourSwitchShowsTheColouredBoard) {
    ScriptedClient p1(1, {Answer::move(3, 0), Answer::move(1, 0)});
    ScriptedClient p2(2, {Answer::move(0, 0)});
    const ServerResult result = playMatch(TWO_PLAYER_MAP, {"-d", "1", "--nocolor"}, {&p1, &p2});

    ASSERT_TRUE(result.exited) << result.out;
    EXPECT_EQ(result.status, 0);
    // Axes in bold black, player 1 red, player 2 blue, the legal cell marked with an apostrophe.
    const std::string board = "Current board:\n"
                              "\x1b[;1;30m     0  1  2  3  \n"
                              "   /-------------\x1b[m\n"
                              "\x1b[;1;30m0  | \x1b[m"
                              "0\x1b[m  \x1b[;31m1\x1b[m  \x1b[;34m2\x1b[m  0'\x1b[m \n";
    EXPECT_NE(result.out.find(board), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\x1b[;1;34mTerminal state reached.\x1b[m\n"), std::string::npos);
    EXPECT_NE(result.out.find("\x1b[;1;34mFinal state reached.\x1b[m\n"), std::string::npos);
    // The plain board of the progress report never carries colours.
    EXPECT_NE(result.out.find("Board\n0111\n"), std::string::npos);
}

TEST(Match, BudgetStopsAtTheLargestTimeInsteadOfWrapping) {
    // 3000000 s is 3000000000 ms; twice that does not fit 32 bits.
    ScriptedClient p1(1, {Answer::move(3, 0), Answer::move(1, 0)});
    ScriptedClient p2(2, {Answer::move(0, 0)});
    const ServerResult result = playMatch(TWO_PLAYER_MAP, {"-t", "3000000"}, {&p1, &p2});

    ASSERT_TRUE(result.exited) << result.out;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(p1.requestTimes(), (std::vector<uint32_t>{3000000000u, 4294967295u}));
    EXPECT_EQ(p2.requestTimes(), (std::vector<uint32_t>{3000000000u}));
}
