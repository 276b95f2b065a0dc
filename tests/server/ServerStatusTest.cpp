// The server object on its own, without a process or clients.

#include "Game.h"
#include "Map.h"
#include "Server.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

namespace {

// Starts `server` as "server lanes.map OPTION VALUE" and checks the limits it took from them.
void initWithLimit(Server& server, const char* option, const char* value, uint32_t timeMs,
                   unsigned depth) {
    const char* const args[] = {"server", "lanes.map", option, value};
    ASSERT_TRUE(server.init(4, args));
    EXPECT_EQ(server.timeLimit(), timeMs);
    EXPECT_EQ(server.depthLimit(), depth);
}

} // namespace

TEST(ServerStatus, ListsEveryPlayerWithScoreTimeAndState) {
    Map map;
    ASSERT_TRUE(map.loadFromString(THREE_PLAYER_MAP));
    map.setName("lanes");
    Game game(map, false);

    Server untimed;
    ASSERT_NO_FATAL_FAILURE(initWithLimit(untimed, "-d", "4", 0, 4));
    untimed.ptoc(Player::P1).m_gid = 7;
    // Without an endpoint the player is only marked; a second call changes nothing.
    untimed.disqualify(&game, Player::P2, "first");
    untimed.disqualify(&game, Player::P2, "second");
    EXPECT_EQ(game.get_valid_players(), 2u);
    // Every player starts with two stones; a disqualified player scores -1.
    EXPECT_EQ(untimed.statusString(&game), "lanes\n"
                                           "7\t2\tinf\tok\n"
                                           "0\t-1\tinf\tdisq.\n"
                                           "0\t2\tinf\tok\n");

    Server timed;
    ASSERT_NO_FATAL_FAILURE(initWithLimit(timed, "-t", "1.5", 1500, 0));
    timed.ptoc(Player::P3).m_msecs_left = 1234;
    EXPECT_EQ(timed.statusString(&game), "lanes\n"
                                         "0\t2\t0msecs\tok\n"
                                         "0\t-1\t0msecs\tdisq.\n"
                                         "0\t2\t1234msecs\tok\n");
}
