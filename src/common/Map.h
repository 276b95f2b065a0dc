#pragma once
// A game map: header numbers, the grid of tiles and the transitions between board edges,
// with its text reader and writer.

#include "Types.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class Map;

/// Joins two board cells through the gaps they face: a line that leaves the first cell in the
/// first direction enters the second cell and goes on away from its gap side, and the reverse.
class Transition {
public:
    /// All fields zero, directions N, not valid.
    Transition() = default;
    Transition(map_axis xStart, map_axis yStart, Direction dStart, map_axis xEnd, map_axis yEnd,
               Direction dEnd);

    /// True when both endpoints lie on the map, each faces a hole or the outside of the board,
    /// and the transition does not lead an endpoint back to itself. Logs every failed check.
    bool isValid(const Map& map) const;
    /// True when any endpoint of this transition equals any endpoint of the other (same cell
    /// and same direction).
    bool sharesNeightbour(const Transition& other) const;

    map_axis m_xStart = 0;
    map_axis m_yStart = 0;
    Direction m_dStart = Direction::N;
    map_axis m_xEnd = 0;
    map_axis m_yEnd = 0;
    Direction m_dEnd = Direction::N;
    bool m_isValid = false;
};

class Map {
public:
    static constexpr uint32_t MAX_WIDTH = 50;
    static constexpr uint32_t MAX_HEIGHT = 50;
    static constexpr uint32_t MAX_BOMBS = 255;
    static constexpr uint32_t MAX_OVERRIDE = 255;
    static constexpr uint32_t MAX_BOMB_RADIUS = 255;
    /// Distinct tile tokens of the text format.
    static constexpr int NR_TILE_TYPE = 14;

    /// Named "default", invalid, all numbers 0, no cells, no transitions.
    Map();
    virtual ~Map();
    // The map owns its cells and is referred to by boards and games: never copied.
    Map(const Map&) = delete;
    Map& operator=(const Map&) = delete;

    /// Reads a map from the named file, or from standard input for "-"; names the map after
    /// `filename` in both cases. A file that cannot be opened gives an invalid map.
    /// Returns isValid().
    bool loadFromFile(std::string filename);
    /// Reads a map from the stream (a stream not in a good state gives an invalid map) and
    /// names it `name`. Returns isValid().
    bool loadFromStream(std::istream& input, std::string name);
    /// Reads a map from the text; the name is kept. Returns isValid().
    bool loadFromString(const std::string& description);

    bool isValid() const { return m_isValid; }
    const std::string& getName() const { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }

    uint32_t getPlayers() const { return m_players; }
    uint32_t getOverrides() const { return m_overrides; }
    uint32_t getBombs() const { return m_bombs; }
    uint32_t getBombStrength() const { return m_bombStrength; }
    map_axis getHeight() const { return m_height; }
    map_axis getWidth() const { return m_width; }

    /// The row-major cells (cell (x, y) at y * width + x), owned by the map; null until a grid
    /// has been read.
    const Square* getTiles() const { return m_tiles.get(); }
    /// NONE when (x, y) lies off the board or no grid has been read, else the cell.
    Square getTile(map_axis x, map_axis y) const;
    /// The cell next to (x, y) in direction d; NONE when that lies off the board, is a hole,
    /// or (x, y) itself lies off the board.
    Square getDirectNeighbour(map_axis x, map_axis y, Direction d) const;
    std::vector<Transition> getTransitions() const { return m_transitions; }
    /// width * height.
    uint32_t getTotalTiles() const { return m_width * m_height; }
    /// Cells that are not holes.
    uint32_t getPlayableTiles() const { return m_playable; }
    /// True when (x, y) is an endpoint cell of any transition, whatever its direction.
    bool affectedByTransition(map_axis x, map_axis y) const;

    /// Reads one transition "x1 y1 d1 <-> x2 y2 d2". False at the end of the list (end of
    /// input or a 0x1A character, both silent) and on a malformed line (logged, target left
    /// unchanged).
    bool readTransition(std::istream& is, Transition& transition) const;

    friend std::istream& operator>>(std::istream& is, Map& map);
    friend std::ostream& operator<<(std::ostream& os, const Map& map);

private:
    // The reader's steps; each logs its faults and returns whether there was one.
    bool headerFaulty() const;
    bool dimensionsValid() const;
    /// Reads the height x width cells, counting bonus cells and playable ones.
    bool readGrid(std::istream& is, uint32_t& bonusCount);
    /// Bombs and overrides with the bonus cells' share must fit the stock's bound.
    bool stockFaulty(uint32_t bonusCount) const;
    /// Reads transitions to the end of the input.
    bool readTransitions(std::istream& is);
    bool transitionsShareEndpoints() const;

    bool m_isValid = false;
    std::string m_name = "default";
    uint32_t m_players = 0;
    uint32_t m_overrides = 0;
    uint32_t m_bombs = 0;
    uint32_t m_bombStrength = 0;
    map_axis m_height = 0;
    map_axis m_width = 0;
    uint32_t m_playable = 0;
    std::unique_ptr<Square[]> m_tiles;
    std::vector<Transition> m_transitions;
};

/// The map reader: reports every fault on the map logger and leaves the map invalid on any.
std::istream& operator>>(std::istream& is, Map& map);
/// The map writer: the text the reader takes back (the name is not written).
std::ostream& operator<<(std::ostream& os, const Map& map);

/// Reads one tile token; an unknown token sets the fail state and leaves the target unchanged.
std::istream& operator>>(std::istream& is, Square& square);
/// Writes one tile token ("-", "0", "1" to "8", "c", "i", "b", "x"); other values in decimal.
std::ostream& operator<<(std::ostream& os, Square square);

/// Reads a direction number 0 to 7; anything else sets the fail state, target unchanged.
std::istream& operator>>(std::istream& is, Direction& direction);
/// Writes the direction's number 0 to 7.
std::ostream& operator<<(std::ostream& os, const Direction& direction);

/// "x1 y1 d1 <-> x2 y2 d2", without line end.
std::ostream& operator<<(std::ostream& os, const Transition& transition);
