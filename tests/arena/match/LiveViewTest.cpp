// The live view drawn from the server's console: exact lines, in place on a terminal.

#include "LiveView.h"
#include "arena/ArenaTestUtil.h"

#include <gtest/gtest.h>
#include <sstream>

TEST(LiveView, DrawsMovesDisqualificationsAndSummaryFromTheConsole) {
    // The server's console of a short match on TINY2 (timed, 1 s): seat 1 plays (2,0), which
    // turns (2,1); seat 2 runs out of time.
    const std::string console =
        "Opening port...OK. Port number is 31005\n"
        "[ INFO] 11:25:53 Client connected\n"
        "[ INFO] 11:25:53 Client connected\n"
        "[ INFO] 11:25:54 Sending move request to player 1 with depth 0, time left: 1000 msecs.\n"
        "Sending move request to player 1 with depth 0, time left: 1000 msecs.\n"
        "Answer from player 1 for move 0 was (x,y,c) = (2,0,0); time left: 766msecs.\n"
        "Board\n"
        "0 0 1 0\n0 1 1 0\n0 2 1 0\n0 0 0 0\n"
        "Sending move request to player 2 with depth 0, time left: 1000 msecs.\n"
        "Player 2 disqualified (timeout during move)\n"
        "Final state reached"; // no line end: finish() reads it
    const std::string move = "move 0: seat 1 (2,0)  stones 4 1  clocks 1.7s 1.0s";
    const std::string redraw = "\r\x1b[K";
    struct Case {
        unsigned columns;
        std::string shown;
    };
    const std::vector<Case> cases{
        {0, "Seats: 1 me, 2 greedy\n" + move +
                "\nseat 2 disqualified after 1 move: timeout during move\n"
                "Game over after 1 move: stones 4 -  clocks 1.7s -\n"},
        // Cut to one column less than the terminal's width.
        {40, redraw + "Seats: 1 me, 2 greedy\n" + redraw + "waiting: 1 of 2 seats connected" +
                 redraw + "waiting: 2 of 2 seats connected" + redraw + move.substr(0, 39) + redraw +
                 "seat 2 disqualified after 1 move: timeout during move\n" + move.substr(0, 39) +
                 redraw + "Game over after 1 move: stones 4 -  clocks 1.7s -\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        LiveView view(out, c.columns, arenatest::TINY2, {"me", "greedy"}, 1000);
        // In uneven pieces, as a pipe hands them over.
        for (size_t at = 0; at < console.size(); at += 7) {
            view.sink() << console.substr(at, 7);
        }
        view.finish();
        view.finish();
        EXPECT_EQ(out.str(), c.shown) << c.columns;
    }
}
