#include "MoveFault.h"

#include "GameBoard.h"

std::string MoveFault::explain(const Game& game, const Move& move) {
    if (game.is_final()) {
        return "the game is over";
    }
    if (move.player != game.getCurrentPlayer()) {
        return "not the player's turn";
    }
    if (move.terminal != game.is_terminal()) {
        return "wrong phase";
    }
    const GameBoard& board = game.getBoard();
    const index_t index = board.coords2index(move.x, move.y);
    if (index == INVALID_INDEX) {
        return "off the board";
    }
    if (board.get_square(index) == Square::NONE) {
        return "a hole";
    }
    if (move.terminal) {
        if (board.getBombs(move.player) == 0) {
            return "a bomb without bombs";
        }
        return move.choice == MoveChoice::NONE ? "" : "a bomb with a choice";
    }
    if (board.occupied(index) && board.getOverrides(move.player) == 0) {
        // A map without override stones makes every stone final: say so plainly.
        return board.getMap().getOverrides() == 0 ? "occupied" : "no override stone left";
    }
    // The test form of the placement rule is not const; a copy keeps the game untouched.
    GameBoard trial(board);
    if (!trial.makeMove(move.player, index, move.choice, false)) {
        return "captures nothing";
    }
    if (!board.checkChoice(index, move.choice)) {
        return "a choice that does not fit the square";
    }
    return "";
}
