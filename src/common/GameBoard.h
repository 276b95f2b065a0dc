#pragma once
// The live board of one game: cells, step table, stocks, colour ownership, and the rules of
// stone moves and bombs.

#include "Map.h"
#include "Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

/// The per-player counters of a board.
struct GameBoardState {
    /// Bombs held, by player; slot 0 stays 0.
    std::array<uint8_t, 9> player_bombs{};
    /// Override stones held, by player; slot 0 stays 0.
    std::array<uint8_t, 9> override_stones{};
    /// Cells holding each colour, by colour (Square 1 to 8); slot 0 stays 0.
    std::array<uint32_t, 9> stoneCount{};
};

/// Stones are stored by colour; `ptob`/`btop` say which player owns which colour now.
/// Every step of every rule is one lookup in the step table, which folds the board's edges,
/// its starting holes and the map's transitions together at construction.
class GameBoard {
public:
    /// Builds the board from a valid map, which must outlive the board.
    explicit GameBoard(const Map& map);
    /// A copy of the cells, counters and colours that refers to the same map and shares the
    /// fixed step table.
    GameBoard(const GameBoard& other);
    GameBoard& operator=(const GameBoard&) = delete;
    virtual ~GameBoard();

    // Geometry

    /// y * width + x, or INVALID_INDEX when x or y lies off the board (holes get an index).
    index_t coords2index(uint16_t x, uint16_t y) const;
    /// False (outputs untouched) for an index that is not valid, else the cell's coordinates.
    bool index2coords(index_t i, uint16_t& x, uint16_t& y) const;
    bool valid_index(index_t i) const { return i < boardsize; }
    /// The geometric neighbour of cell i in direction d; INVALID_INDEX off the board or on a
    /// hole. Only used to build the step table.
    index_t transition2index(index_t i, Direction d) const;
    /// The cell one step from i in direction d, across a transition where there is one, or
    /// INVALID_INDEX. Requires a valid index.
    index_t get_transition(index_t i, Direction d) const {
        return transitions[i * NumDirections + static_cast<unsigned>(d)].to;
    }
    /// The direction of travel after that step.
    Direction get_nextdirection(index_t i, Direction d) const {
        return transitions[i * NumDirections + static_cast<unsigned>(d)].next;
    }
    /// The step from (from, d) leads to `to`, entered through its side `side`; travel goes on
    /// away from that side.
    void set_transition(index_t from, Direction d, index_t to, Direction side);

    // Cells (a valid index is required)

    Square& get_square(index_t i) { return squares[i]; }
    const Square& get_square(index_t i) const { return squares[i]; }
    /// Stores a cell and keeps the stone counts and `reducedboardsize` right. Every rule
    /// changes cells only through it.
    void set_square(index_t i, Square s);
    /// The cell holds a stone of any colour or an expansion square.
    bool occupied(index_t i) const { return isOccupied(squares[i]); }

    // Players (a player from 0 to 8 is required)

    Square ptob(Player p) const { return ptob_map[static_cast<unsigned>(p)]; }
    Player btop(Square c) const { return btop_map[static_cast<unsigned>(c)]; }
    uint8_t& bombs(Player p) { return state.player_bombs[static_cast<unsigned>(p)]; }
    uint8_t& overrides(Player p) { return state.override_stones[static_cast<unsigned>(p)]; }
    uint8_t getBombs(Player p) const { return state.player_bombs[static_cast<unsigned>(p)]; }
    uint8_t getOverrides(Player p) const { return state.override_stones[static_cast<unsigned>(p)]; }
    /// Stones of the colour the player owns now.
    uint32_t getStoneCount(Player p) const {
        return state.stoneCount[static_cast<unsigned>(ptob(p))];
    }
    bool& disqualified(Player p) { return player_disqualified[static_cast<unsigned>(p)]; }
    bool getDisqualified(Player p) const { return player_disqualified[static_cast<unsigned>(p)]; }
    /// Sets the flag only: the player's stones stay and keep their colour.
    void disqualify(Player p) { disqualified(p) = true; }
    size_t get_nplayers() const { return nplayers; }

    // Dimensions and counts

    const Map& getMap() const { return m_map; }
    uint16_t getWidth() const { return width; }
    uint16_t getHeight() const { return height; }
    /// All cells, holes included; every valid index is below it.
    uint32_t getBoardSize() const { return boardsize; }
    /// Cells that are not holes.
    uint32_t getReducedBoardSize() const { return reducedboardsize; }
    /// One past the last player.
    Player getLastPlayer() const { return lastPlayer; }
    uint8_t getBombPower() const { return bomb_power; }

    // Stone moves. The applying form (`apply` true) changes the board only for a legal move;
    // the test form changes nothing. Players outside 1..get_nplayers() are refused.

    /// Places a stone of `player` at `index`, with `choice` for a choice or bonus square.
    /// The test form ignores the choice.
    virtual bool makeMove(Player player, index_t index, MoveChoice choice, bool apply);
    /// Whether a stone placed at index captures (an expansion square needs no capture); the
    /// applying form places the stone and turns the captured ones.
    bool checkCapture(Player player, index_t index, bool apply);
    /// Whether the line from `start` in direction d ends on a stone of `colour` after at least
    /// one foreign stone. The applying form appends the line's cells to `captured` when it
    /// captures, and leaves `captured` as it was when it does not.
    bool capturePath(index_t start, Direction d, Square colour, bool apply,
                     std::vector<index_t>& captured) const;
    /// Whether the choice fits the square at index: BOMB or OVERRIDE on a bonus square, a
    /// player 1..get_nplayers() on a choice square, NONE elsewhere. False for an invalid index.
    bool checkChoice(index_t index, MoveChoice choice) const;
    /// Every colour passes from its owner to the next player in turn order.
    void inversion();
    /// Players a and b exchange their colours.
    void swap_players(Player a, Player b);
    /// True when the player has at least one legal stone move.
    bool move_possible(Player player) const;
    /// The test form of makeMove: whether `player` may place a stone at index (any choice).
    bool canPlace(Player player, index_t index) const;
    /// Replaces `marks` with one entry per cell, 1 where canPlace(player, cell) holds, else 0,
    /// and answers the number of such cells. Cheaper than canPlace for every cell: the lines are
    /// walked from the player's stones, or, late in a game, only the free cells are tested.
    size_t legalCells(Player player, std::vector<uint8_t>& marks) const;

    // Make and unmake, for searches that play a line of moves on one board

    /// What one move changed: the cells in order of change with their contents before, and
    /// every counter and colour mapping as they were. Keep one record per search depth: its lists
    /// keep their room from move to move.
    struct MoveUndo {
        std::vector<index_t> cells;
        std::vector<Square> before;
        GameBoardState state;
        std::array<Square, 9> ptob_map{};
        std::array<Player, 9> btop_map{};
        uint32_t reducedboardsize = 0;
    };
    /// The applying form of makeMove, recording in `undo` what it changes; an illegal move
    /// changes nothing and answers false.
    bool playMove(Player player, index_t index, MoveChoice choice, MoveUndo& undo);
    /// The applying form of throwBomb, recorded in the same way.
    bool playBomb(Player player, index_t index, MoveUndo& undo);
    /// Takes back the move recorded in `undo`, which must be the last move played on this board
    /// that has not been taken back.
    void undoMove(const MoveUndo& undo);

    // Bombs

    /// Destroys every cell within `bomb_power` steps of index (through transitions, never
    /// through holes) and uses one of the player's bombs.
    bool throwBomb(Player player, index_t index, bool apply);
    /// The test form of throwBomb: index is a cell that is not a hole and the player holds a
    /// bomb.
    bool canBomb(Player player, index_t index) const;
    /// Replaces `area` with every cell a bomb thrown at `target` destroys, in the order the
    /// blast reaches them, the target first; empty for a hole or an invalid index. The thrower's
    /// stock is not consulted.
    void blastArea(index_t target, std::vector<index_t>& area) const;
    /// Some cell is not a hole and the player holds a bomb.
    bool bomb_possible(Player player) const;
    /// The turn passing of the game flow. From the player after `last`, the first player who
    /// is not disqualified and can move in `phase`; when nobody can, the phase moves on (BUILD
    /// to TERMINAL, TERMINAL to FINAL) and the search goes on in the new phase from the same
    /// player. In FINAL the answer is simply the player after `last`.
    Player nextMover(Player last, GamePhase& phase) const;

    // Console texts

    /// One cell; a stone shows the number of the player who owns its colour now.
    void printSquare(std::ostream& os, Square s, bool reset) const;
    /// The board as a grid, optionally with axes and with markers where `player` may place a
    /// stone.
    std::string asString(Player player, bool showValidMoves, bool printAxis) const;
    /// The board as rows of tokens, never with colour escapes; the colour switch is not touched.
    std::string asSimpleString() const;
    /// "Player p: b bombs, o overrides. Score is s", one line per player.
    std::string playerStatus() const;

private:
    /// Whether testing the free cells is cheaper than walking lines from the stones.
    bool freeCellsFewer(Square colour) const;
    /// legalCells by testing every free cell; for a player without override stones.
    size_t legalFreeCells(Player player, std::vector<uint8_t>& marks) const;
    class SquareTexts;
    /// Appends one cell as printSquare draws it (without reset), with or without colours.
    void appendSquare(std::string& out, Square s, bool colours) const;

    static bool isOccupied(Square s) { return isColour(s) || s == Square::EXPANSION; }
    /// A cell a capture line passes over: occupied, and not of `colour`.
    static bool isForeign(Square s, Square colour) { return isOccupied(s) && s != colour; }
    bool validPlayer(Player p) const { return p != Player::P_INVALID && p < lastPlayer; }
    /// Whether a stone of the player at index would capture (always, on an expansion square).
    bool hasCaptureLine(Player player, index_t index) const;
    /// The applying form of makeMove; `captured` is the capture list to use, and `before`, when
    /// not null, receives the contents of the changed cells.
    bool placeStone(Player player, index_t index, MoveChoice choice, std::vector<index_t>& captured,
                    std::vector<Square>* before);
    /// The applying checkCapture with the given capture list; the placed cell is appended to
    /// it, and `before` as above.
    bool captureInto(Player player, index_t index, std::vector<index_t>& captured,
                     std::vector<Square>* before);
    /// Saves the counters and colour mappings into `undo`.
    void saveCounters(MoveUndo& undo) const;
    /// Walks one line; appends its cells to `captured` when that is not null.
    bool walkLine(index_t start, Direction d, Square colour, std::vector<index_t>* captured) const;

    const Map& m_map;
    uint16_t width;
    uint16_t height;
    uint32_t boardsize;
    uint32_t reducedboardsize = 0;
    uint8_t nplayers;
    Player lastPlayer;
    uint8_t bomb_power;
    /// One step of the step table: the cell reached and the direction of travel after it.
    struct Step {
        index_t to;
        Direction next;
    };
    /// boardsize * 8 steps, fixed once built and shared by copies of the board.
    std::shared_ptr<Step[]> transitions;
    std::unique_ptr<Square[]> squares;
    GameBoardState state;
    std::array<Square, 9> ptob_map{};
    std::array<Player, 9> btop_map{};
    std::array<bool, 9> player_disqualified{};
};
