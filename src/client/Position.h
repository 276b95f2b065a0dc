#pragma once
// A game position that strategies can copy and play forward without a Game: a board of its own,
// the player to move and the phase, with turns passed as the match server passes them.

#include "Game.h"
#include "GameBoard.h"
#include "Types.h"

#include <cstdint>
#include <vector>

/// One candidate move of the player to move: a cell and its choice byte (a player on a choice
/// square, BOMB or OVERRIDE on a bonus square, NONE elsewhere and for bomb throws).
struct Candidate {
    index_t index = INVALID_INDEX;
    MoveChoice choice = MoveChoice::NONE;
};

class Position {
public:
    /// A copy of the game's board with `toMove` to move in the game's phase. The game's
    /// disqualifications are on its board already.
    Position(const Game& game, Player toMove);
    /// A deep copy (the board's arrays are copied; the map is shared).
    Position(const Position& other) = default;
    Position& operator=(const Position&) = delete;

    const GameBoard& board() const { return m_board; }
    Player toMove() const { return m_toMove; }
    GamePhase phase() const { return m_phase; }
    bool isFinal() const { return m_phase == GamePhase::FINAL; }
    unsigned nrPlayers() const { return static_cast<unsigned>(m_board.get_nplayers()); }

    /// Replaces `out` with every legal move of the player to move: in the building phase each
    /// legal cell once per acceptable choice, in the bombing phase every target cell. Empty when
    /// the position is final.
    void legalMoves(std::vector<Candidate>& out) const;
    /// Plays a move of the player to move and passes the turn, moving the phase on when nobody
    /// can move any more. False, with nothing changed, for an illegal move or a final position.
    bool play(const Candidate& move);

    /// Every cell that a bomb thrown at `target` destroys, the target first; empty for a hole
    /// or an index off the board. Nothing is changed.
    std::vector<index_t> blastArea(index_t target) const;

private:
    GameBoard m_board;
    Player m_toMove;
    GamePhase m_phase;
};
