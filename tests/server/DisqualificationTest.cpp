// Clients that break the rules of the match are put out; the others play on to the end.

#include "LaneTranscripts.h"
#include "ScriptedClient.h"
#include "ServerProcess.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Disqualification, FaultyFirstAnswerIsPutOut) {
    const Messages toldAndClosed{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 0 3",
                                 "DISQUALIFICATION 1", "closed"};
    struct Case {
        Answer answer;
        std::string reason;
        Messages first; // what player 1 receives
    };
    const Case cases[] = {
        // A stone of player 2 without an override stone.
        {Answer::move(1, 0), "Invalid move: Player 1 (x,y)=(1,0). time left: 0 msecs",
         toldAndClosed},
        // A legal cell with a choice that only a bonus square takes.
        {Answer::move(0, 0, MoveChoice::BOMB),
         "Invalid move: Player 1 (x,y)=(0,0) choice: 20. time left: 0 msecs", toldAndClosed},
        // Off the board.
        {Answer::move(7, 9), "Invalid move: Player 1 (x,y)=(7,9). time left: 0 msecs",
         toldAndClosed},
        // The connection closed instead of an answer: player 1 hears nothing more.
        {Answer::close(), "receive failed", {"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 0 3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        ScriptedClient p1(1, {c.answer});
        ScriptedClient p2(2, {Answer::move(0, 2)});
        ScriptedClient p3(3, {Answer::move(0, 4)});
        const ServerResult result = playMatch(THREE_PLAYER_MAP, {"-d", "3"}, {&p1, &p2, &p3});

        expectTranscripts(result, lanesAfterFirstOut(c.first, "MOVEREQUEST 0 3"), p1, p2, p3);
        expectDisqualified(result.out, "1", c.reason);
    }
}

TEST(Disqualification, WrongMessageTypeIsPutOut) {
    ScriptedClient p1(1, {Answer::move(0, 0)});
    ScriptedClient p2(2, {Answer::wrongType()});
    ScriptedClient p3(3, {Answer::move(0, 4)});
    const ServerResult result = playMatch(THREE_PLAYER_MAP, {"-d", "3"}, {&p1, &p2, &p3});

    expectTranscripts(result,
                      {{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 0 3", "MOVEANNOUNCE 0 0 0 1",
                        "DISQUALIFICATION 2", "MOVEANNOUNCE 0 4 0 3", "FIN", "closed"},
                       {"GAMEBOARD", "PLAYERNUM 2", "MOVEANNOUNCE 0 0 0 1", "MOVEREQUEST 0 3",
                        "DISQUALIFICATION 2", "closed"},
                       {"GAMEBOARD", "PLAYERNUM 3", "MOVEANNOUNCE 0 0 0 1", "DISQUALIFICATION 2",
                        "MOVEREQUEST 0 3", "MOVEANNOUNCE 0 4 0 3", "FIN", "closed"}},
                      p1, p2, p3);
    expectDisqualified(result.out, "2", "wrong message");
    EXPECT_NE(withoutTimes(result.out).find("[ INFO] Incorrect message received\n"),
              std::string::npos);
}

TEST(Disqualification, CorruptHeaderIsPutOut) {
    ScriptedClient p1(1, {Answer::move(0, 0)});
    ScriptedClient p2(2, {Answer::move(0, 2)});
    ScriptedClient p3(3, {Answer::corruptHeader()});
    const ServerResult result = playMatch(THREE_PLAYER_MAP, {"-d", "3"}, {&p1, &p2, &p3});

    expectTranscripts(result,
                      {{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 0 3", "MOVEANNOUNCE 0 0 0 1",
                        "MOVEANNOUNCE 0 2 0 2", "DISQUALIFICATION 3", "FIN", "closed"},
                       {"GAMEBOARD", "PLAYERNUM 2", "MOVEANNOUNCE 0 0 0 1", "MOVEREQUEST 0 3",
                        "MOVEANNOUNCE 0 2 0 2", "DISQUALIFICATION 3", "FIN", "closed"}},
                      p1, p2);
    // The offender's own notice may be lost when the server drops its unread bytes.
    const Messages& p3Got = p3.messages();
    const Messages p3Expected{"GAMEBOARD", "PLAYERNUM 3", "MOVEANNOUNCE 0 0 0 1",
                              "MOVEANNOUNCE 0 2 0 2", "MOVEREQUEST 0 3"};
    ASSERT_GE(p3Got.size(), p3Expected.size() + 1);
    EXPECT_EQ(Messages(p3Got.begin(), p3Got.begin() + 5), p3Expected);
    EXPECT_EQ(p3Got.back(), "closed");
    expectDisqualified(result.out, "3", "receive failed");
    EXPECT_NE(withoutTimes(result.out).find("[ INFO] Failed to receive message.\n"),
              std::string::npos);
}

TEST(Disqualification, LateAnswerIsPutOut) {
    ScriptedClient p1(1, {Answer::move(0, 0, MoveChoice::NONE, 900)});
    ScriptedClient p2(2, {Answer::move(0, 2)});
    ScriptedClient p3(3, {Answer::move(0, 4)});
    const ServerResult result = playMatch(THREE_PLAYER_MAP, {"-t", "0.5"}, {&p1, &p2, &p3});

    expectTranscripts(result,
                      lanesAfterFirstOut({"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 500 0",
                                          "DISQUALIFICATION 1", "closed"},
                                         "MOVEREQUEST 500 0"),
                      p1, p2, p3);
    expectDisqualified(result.out, "1", "timeout during move");
    EXPECT_NE(withoutTimes(result.out).find("[ INFO] timeout detected!\n"), std::string::npos);
    // The wait ended with the budget, not with the late answer: the others heard of it about
    // 500 ms after the request (the clients started together).
    ASSERT_GE(p1.arrivals().size(), 3u);
    ASSERT_GE(p2.arrivals().size(), 3u);
    EXPECT_GE(p2.arrivals()[2] - p1.arrivals()[2], 450);
    EXPECT_LT(p2.arrivals()[2] - p1.arrivals()[2], 850);
}

TEST(Disqualification, PlayerInTurnLostWhenBombingPhaseIsAnnounced) {
    // Player 1 is the first to bomb; its connection is gone when the bombing phase is
    // announced, so it is put out then, and the others bomb without it.
    ScriptedClient p1(1, {Answer::move(0, 0)});
    p1.resetAfter("MOVEANNOUNCE 0 4 0 3");
    ScriptedClient p2(2, {Answer::move(0, 2), Answer::move(0, 0)});
    ScriptedClient p3(3, {Answer::move(0, 4), Answer::move(1, 0)});
    const ServerResult result = playMatch(THREE_PLAYER_BOMB_MAP, {"-d", "3"}, {&p1, &p2, &p3});

    expectTranscripts(
        result,
        {{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 0 3", "MOVEANNOUNCE 0 0 0 1",
          "MOVEANNOUNCE 0 2 0 2", "MOVEANNOUNCE 0 4 0 3"},
         {"GAMEBOARD", "PLAYERNUM 2", "MOVEANNOUNCE 0 0 0 1", "MOVEREQUEST 0 3",
          "MOVEANNOUNCE 0 2 0 2", "MOVEANNOUNCE 0 4 0 3", "DISQUALIFICATION 1", "TERMINAL",
          "MOVEREQUEST 0 3", "MOVEANNOUNCE 0 0 0 2", "MOVEANNOUNCE 1 0 0 3", "FIN", "closed"},
         {"GAMEBOARD", "PLAYERNUM 3", "MOVEANNOUNCE 0 0 0 1", "MOVEANNOUNCE 0 2 0 2",
          "MOVEREQUEST 0 3", "MOVEANNOUNCE 0 4 0 3", "DISQUALIFICATION 1", "TERMINAL",
          "MOVEANNOUNCE 0 0 0 2", "MOVEREQUEST 0 3", "MOVEANNOUNCE 1 0 0 3", "FIN", "closed"}},
        p1, p2, p3);
    expectDisqualified(result.out, "1", "Failed to send TERM to player");
}
