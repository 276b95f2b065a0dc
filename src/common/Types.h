#pragma once
// Shared value types of the game model: cells, directions, players, choices and phases.

#include <array>
#include <cstdint>
#include <ostream>

/// Map coordinates and dimensions.
using map_axis = uint32_t;

/// A board cell index: y * width + x.
using index_t = uint16_t;
constexpr index_t INVALID_INDEX = 65535;

/// Content of a board cell. Values 1 to 8 are stones of that colour.
enum class Square : uint8_t {
    EMPTY = 0,
    PLAYER1 = 1,
    PLAYER_MAX = 8,
    EXPANSION = 9,
    INVERSION = 10,
    CHOICE = 11,
    BONUS = 12,
    NONE = 255,
};

/// True for a stone of any colour (1 to 8).
inline bool isColour(Square s) {
    return s >= Square::PLAYER1 && s <= Square::PLAYER_MAX;
}

enum class Direction : uint8_t {
    N = 0,
    NE = 1,
    E = 2,
    SE = 3,
    S = 4,
    SW = 5,
    W = 6,
    NW = 7,
    FIRST = 0,
    LAST = 7,
};

constexpr unsigned NumDirections = 8;
constexpr std::array<Direction, 8> AllDirections = {Direction::N,  Direction::NE, Direction::E,
                                                    Direction::SE, Direction::S,  Direction::SW,
                                                    Direction::W,  Direction::NW};
constexpr std::array<Direction, 4> HalfDirections = {Direction::N, Direction::NE, Direction::E,
                                                     Direction::SE};

/// The opposite direction, (d + 4) mod 8.
constexpr Direction getBackDirection(Direction d) {
    return static_cast<Direction>((static_cast<unsigned>(d) + 4) % NumDirections);
}

enum class Player : uint8_t {
    P_INVALID = 0,
    P1 = 1,
    P2 = 2,
    P3 = 3,
    P4 = 4,
    P5 = 5,
    P6 = 6,
    P7 = 7,
    P8 = 8,
    P_MAX = 8,
};

/// The player after p in turn order among n players: p mod n + 1 (P_INVALID and n lead to 1).
constexpr Player incrementPlayer(Player p, unsigned n) {
    return static_cast<Player>(static_cast<unsigned>(p) % n + 1);
}

enum class MoveChoice : uint8_t {
    NONE = 0,
    PLAYER1 = 1,
    PLAYER_MAX = 8,
    BOMB = 20,
    OVERRIDE = 21,
};

enum class GamePhase : uint32_t {
    BUILD = 0,
    TERMINAL = 1,
    FINAL = 2,
};

/// Decimal numbers (0, 1 to 8, 20, 21).
std::ostream& operator<<(std::ostream& os, MoveChoice choice);
/// The player's number in decimal.
std::ostream& operator<<(std::ostream& os, Player player);
/// "build", "terminal", "final"; any other value "unknown".
std::ostream& operator<<(std::ostream& os, GamePhase phase);
