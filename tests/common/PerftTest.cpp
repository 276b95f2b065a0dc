#include "GameBoard.h"
#include "server/TestMaps.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Leaves of the move tree `depth` plies deep; the players alternate.
uint64_t perft(GameBoard& gb, Player mover, unsigned depth) {
    if (depth == 0) {
        return 1;
    }
    const Player next = incrementPlayer(mover, 2);
    uint64_t leaves = 0;
    for (uint32_t i = 0; i < gb.getBoardSize(); ++i) {
        const index_t index = static_cast<index_t>(i);
        if (!gb.makeMove(mover, index, MoveChoice::NONE, false)) {
            continue;
        }
        GameBoard child(gb);
        EXPECT_TRUE(child.makeMove(mover, index, MoveChoice::NONE, true));
        leaves += perft(child, next, depth - 1);
    }
    return leaves;
}

} // namespace

TEST(Perft, ClassicOpeningHasTheKnownLeafCountsToDepthEight) {
    auto map = model_test::validMap(CLASSIC_MAP);
    GameBoard start(*map);
    const uint64_t expected[] = {4, 12, 56, 244, 1396, 8200, 55092, 390216};
    for (unsigned depth = 1; depth <= 8; ++depth) {
        EXPECT_EQ(perft(start, Player::P1, depth), expected[depth - 1]) << "depth " << depth;
    }
}
