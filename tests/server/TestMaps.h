#pragma once
// Small maps whose matches are short and fully known in advance, and the classic opening.

#include <string>

// One row "0 1 2 0", one bomb of strength 0 each. Player 1's only move is (3,0), which
// takes the 2; then nobody can place a stone, so the bombing phase begins with player 2.
// Player 2 bombs (0,0), player 1 bombs (1,0), and the game is over: player 1 keeps 2 stones,
// player 2 none.
inline const std::string TWO_PLAYER_MAP = "2\n"
                                          "0\n"
                                          "1 0\n"
                                          "1 4\n"
                                          "0 1 2 0\n";

// Three lanes kept apart by rows of holes, no bombs. Each player can only close its own
// lane: player 1 at (0,0), player 2 at (0,2), player 3 at (0,4). After the three moves
// nobody can move and the game is over, 3 stones each. With player 1 out, players 2 and 3
// still make their moves; with player 2 or 3 out, the others make theirs.
inline const std::string THREE_LANES = "5 3\n"
                                       "0 2 1\n"
                                       "- - -\n"
                                       "0 3 2\n"
                                       "- - -\n"
                                       "0 1 3\n";
inline const std::string THREE_PLAYER_MAP = "3\n0\n0 0\n" + THREE_LANES;

// Full from the start and without bombs: nobody can ever move.
inline const std::string FINAL_MAP = "2\n"
                                     "0\n"
                                     "0 0\n"
                                     "1 2\n"
                                     "1 2\n";

// The three lanes with one bomb of strength 0 each: after the three stone moves the bombing
// phase begins with player 1, then players 2 and 3 bomb in turn.
inline const std::string THREE_PLAYER_BOMB_MAP = "3\n0\n1 0\n" + THREE_LANES;

// The usual 8x8 opening for two players: two stones each, crosswise in the middle; no stocks.
inline const std::string CLASSIC_MAP = "2\n0\n0 0\n8 8\n"
                                       "0 0 0 0 0 0 0 0\n"
                                       "0 0 0 0 0 0 0 0\n"
                                       "0 0 0 0 0 0 0 0\n"
                                       "0 0 0 2 1 0 0 0\n"
                                       "0 0 0 1 2 0 0 0\n"
                                       "0 0 0 0 0 0 0 0\n"
                                       "0 0 0 0 0 0 0 0\n"
                                       "0 0 0 0 0 0 0 0\n";
