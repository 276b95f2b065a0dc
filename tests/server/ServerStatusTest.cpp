// The server object on its own, without a process or clients.

#include "Game.h"
#include "Map.h"
#include "Server.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

TEST(ServerStatus, ListsEveryPlayerWithScoreTimeAndState) {
    Map map;
    ASSERT_TRUE(map.loadFromString(THREE_PLAYER_MAP));
    map.setName("lanes");
    Game game(map, false);

    Server untimed;
    const char* const depthArgs[] = {"server", "lanes.map", "-d", "4"};
    ASSERT_TRUE(untimed.init(4, depthArgs));
    EXPECT_EQ(untimed.timeLimit(), 0u);
    EXPECT_EQ(untimed.depthLimit(), 4u);
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
    const char* const timeArgs[] = {"server", "lanes.map", "-t", "1.5"};
    ASSERT_TRUE(timed.init(4, timeArgs));
    EXPECT_EQ(timed.timeLimit(), 1500u);
    EXPECT_EQ(timed.depthLimit(), 0u);
    timed.ptoc(Player::P3).m_msecs_left = 1234;
    EXPECT_EQ(timed.statusString(&game), "lanes\n"
                                         "0\t2\t0msecs\tok\n"
                                         "0\t-1\t0msecs\tdisq.\n"
                                         "0\t2\t1234msecs\tok\n");
}
