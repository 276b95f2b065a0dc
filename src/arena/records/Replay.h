#pragma once
// Replays a match on the game model: the board after each move, the cells each move changed.

#include "Game.h"
#include "Map.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// A cell whose shown content changed: its coordinates and its new map character (a stone
/// shows the player who owns it now, so an inversion changes every stone it passes on).
struct CellChange {
    uint16_t x;
    uint16_t y;
    std::string token;
};

/// One game replayed from its map text, move by move, with the rules of the server's game.
class Replay {
public:
    Replay();
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    /// Starts the game on the map text. False, with the reason, when the map is not valid.
    bool start(const std::string& mapText, std::string& error);
    bool started() const { return m_game != nullptr; }

    /// The rule the move of `player` would break now; empty when the game accepts it.
    std::string fault(uint16_t x, uint16_t y, uint8_t choice, unsigned player) const;
    /// Applies the move of `player` (a bomb throw in the bombing phase) and fills the cells it
    /// changed. False, with the board unchanged, when the game refuses it.
    bool play(uint16_t x, uint16_t y, uint8_t choice, unsigned player,
              std::vector<CellChange>& changes);
    /// Takes the player out of the game, as the server does on a disqualification.
    void disqualify(unsigned player);

    /// "build", "bomb" or "final".
    std::string phase() const;
    unsigned players() const;
    unsigned currentPlayer() const;
    /// Per player: the stones owned, or -1 when disqualified.
    std::vector<int> scores() const;
    /// Row by row, one map character per cell (see CellChange).
    std::vector<std::string> cells() const;
    /// The map text as the server's writer gives it.
    std::string mapText() const;

private:
    std::string token(unsigned x, unsigned y) const;

    std::unique_ptr<Map> m_map;
    std::unique_ptr<Game> m_game;
};
