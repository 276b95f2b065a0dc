#include "GameBoard.h"

#include <algorithm>

namespace {

constexpr unsigned PLAYER_SLOTS = static_cast<unsigned>(Player::P_MAX) + 1;

unsigned dirIndex(Direction d) {
    return static_cast<unsigned>(d);
}

} // namespace

GameBoard::GameBoard(const Map& map)
    : m_map(map), width(static_cast<uint16_t>(map.getWidth())),
      height(static_cast<uint16_t>(map.getHeight())), boardsize(uint32_t{width} * height),
      nplayers(static_cast<uint8_t>(map.getPlayers())),
      lastPlayer(static_cast<Player>(nplayers + 1)),
      bomb_power(static_cast<uint8_t>(map.getBombStrength())) {
    for (unsigned n = 0; n < PLAYER_SLOTS; ++n) {
        ptob_map[n] = static_cast<Square>(n);
        btop_map[n] = static_cast<Player>(n);
    }
    for (unsigned p = 1; p < PLAYER_SLOTS; ++p) {
        state.player_bombs[p] = static_cast<uint8_t>(map.getBombs());
        state.override_stones[p] = static_cast<uint8_t>(map.getOverrides());
    }

    squares.reset(new Square[boardsize]);
    std::fill_n(squares.get(), boardsize, Square::NONE);
    for (uint16_t y = 0; y < height; ++y) {
        for (uint16_t x = 0; x < width; ++x) {
            set_square(coords2index(x, y), map.getTile(x, y));
        }
    }

    transitions.reset(new Step[size_t{boardsize} * NumDirections]);
    for (uint32_t i = 0; i < boardsize; ++i) {
        const index_t cell = static_cast<index_t>(i);
        for (Direction d : AllDirections) {
            set_transition(cell, d, transition2index(cell, d), getBackDirection(d));
        }
    }
    for (const Transition& t : map.getTransitions()) {
        const index_t a =
            coords2index(static_cast<uint16_t>(t.m_xStart), static_cast<uint16_t>(t.m_yStart));
        const index_t b =
            coords2index(static_cast<uint16_t>(t.m_xEnd), static_cast<uint16_t>(t.m_yEnd));
        set_transition(a, t.m_dStart, b, t.m_dEnd);
        set_transition(b, t.m_dEnd, a, t.m_dStart);
    }
}

GameBoard::GameBoard(const GameBoard& other)
    : m_map(other.m_map), width(other.width), height(other.height), boardsize(other.boardsize),
      reducedboardsize(other.reducedboardsize), nplayers(other.nplayers),
      lastPlayer(other.lastPlayer), bomb_power(other.bomb_power), transitions(other.transitions),
      squares(new Square[boardsize]), state(other.state), ptob_map(other.ptob_map),
      btop_map(other.btop_map), player_disqualified(other.player_disqualified) {
    std::copy_n(other.squares.get(), boardsize, squares.get());
}

GameBoard::~GameBoard() = default;

// Geometry

index_t GameBoard::coords2index(uint16_t x, uint16_t y) const {
    if (x >= width || y >= height) {
        return INVALID_INDEX;
    }
    return static_cast<index_t>(y * width + x);
}

bool GameBoard::index2coords(index_t i, uint16_t& x, uint16_t& y) const {
    if (i == INVALID_INDEX || !valid_index(i)) {
        return false;
    }
    x = static_cast<uint16_t>(i % width);
    y = static_cast<uint16_t>(i / width);
    return true;
}

index_t GameBoard::transition2index(index_t i, Direction d) const {
    const uint32_t w = width;
    const uint32_t n = boardsize;
    const bool top = i < w;
    const bool bottom = i >= n - w;
    const bool left = i % w == 0;
    const bool right = (i + 1) % w == 0;
    uint32_t neighbour = INVALID_INDEX;
    switch (d) {
    case Direction::N:
        neighbour = top ? INVALID_INDEX : i - w;
        break;
    case Direction::NE:
        neighbour = top || right ? INVALID_INDEX : i - w + 1;
        break;
    case Direction::E:
        neighbour = right ? INVALID_INDEX : i + 1;
        break;
    case Direction::SE:
        neighbour = bottom || right ? INVALID_INDEX : i + w + 1;
        break;
    case Direction::S:
        neighbour = bottom ? INVALID_INDEX : i + w;
        break;
    case Direction::SW:
        neighbour = bottom || left ? INVALID_INDEX : i + w - 1;
        break;
    case Direction::W:
        neighbour = left ? INVALID_INDEX : i - 1;
        break;
    case Direction::NW:
        neighbour = top || left ? INVALID_INDEX : i - w - 1;
        break;
    }
    if (neighbour == INVALID_INDEX || squares[neighbour] == Square::NONE) {
        return INVALID_INDEX;
    }
    return static_cast<index_t>(neighbour);
}

void GameBoard::set_transition(index_t from, Direction d, index_t to, Direction side) {
    // Copies share the step table; the first change to a shared one makes it this board's own.
    const size_t entries = size_t{boardsize} * NumDirections;
    if (transitions.use_count() > 1) {
        std::shared_ptr<Step[]> own(new Step[entries]);
        std::copy_n(transitions.get(), entries, own.get());
        transitions = std::move(own);
    }
    transitions[size_t{from} * NumDirections + dirIndex(d)] = Step{to, getBackDirection(side)};
}

// Cells

void GameBoard::set_square(index_t i, Square s) {
    const Square old = squares[i];
    squares[i] = s;
    if (isColour(old)) {
        --state.stoneCount[static_cast<unsigned>(old)];
    }
    if (isColour(s)) {
        ++state.stoneCount[static_cast<unsigned>(s)];
    }
    if (s == Square::NONE && old != Square::NONE) {
        --reducedboardsize;
    } else if (old == Square::NONE && s != Square::NONE) {
        ++reducedboardsize;
    }
}

// Stone moves

bool GameBoard::makeMove(Player player, index_t index, MoveChoice choice, bool apply) {
    if (!apply) {
        return canPlace(player, index);
    }
    std::vector<index_t> captured;
    return placeStone(player, index, choice, captured, nullptr);
}

bool GameBoard::placeStone(Player player, index_t index, MoveChoice choice,
                           std::vector<index_t>& captured, std::vector<Square>* before) {
    if (!validPlayer(player) || !valid_index(index) || squares[index] == Square::NONE) {
        return false;
    }
    if (!checkChoice(index, choice)) {
        return false;
    }
    const Square was = squares[index];
    const bool wasOccupied = isOccupied(was);
    if (wasOccupied && getOverrides(player) == 0) {
        return false;
    }
    if (!captureInto(player, index, captured, before)) {
        return false;
    }
    if (wasOccupied) {
        --overrides(player);
    }
    // The effect follows the placement, so this move's stones carry the colour the mover
    // owned before it.
    switch (was) {
    case Square::INVERSION:
        inversion();
        break;
    case Square::CHOICE:
        swap_players(player, static_cast<Player>(choice));
        break;
    case Square::BONUS:
        if (choice == MoveChoice::OVERRIDE) {
            ++overrides(player);
        } else {
            ++bombs(player);
        }
        break;
    default:
        break;
    }
    return true;
}

bool GameBoard::canPlace(Player player, index_t index) const {
    if (!validPlayer(player) || !valid_index(index)) {
        return false;
    }
    const Square s = squares[index];
    if (s == Square::NONE) {
        return false;
    }
    if (isOccupied(s) && getOverrides(player) == 0) {
        return false;
    }
    return hasCaptureLine(player, index);
}

bool GameBoard::hasCaptureLine(Player player, index_t index) const {
    if (squares[index] == Square::EXPANSION) {
        return true;
    }
    const Square colour = ptob(player);
    for (Direction d : AllDirections) {
        if (walkLine(index, d, colour, nullptr)) {
            return true;
        }
    }
    return false;
}

bool GameBoard::checkCapture(Player player, index_t index, bool apply) {
    if (!apply) {
        return hasCaptureLine(player, index);
    }
    std::vector<index_t> captured;
    return captureInto(player, index, captured, nullptr);
}

bool GameBoard::captureInto(Player player, index_t index, std::vector<index_t>& captured,
                            std::vector<Square>* before) {
    const Square colour = ptob(player);
    captured.clear();
    bool anyLine = false;
    for (Direction d : AllDirections) {
        anyLine |= walkLine(index, d, colour, &captured);
    }
    if (!anyLine && squares[index] != Square::EXPANSION) {
        return false;
    }
    captured.push_back(index);
    if (before != nullptr) {
        before->clear();
        for (const index_t cell : captured) {
            before->push_back(squares[cell]);
        }
    }
    // Every line was found on the board as it was; only now are stones turned, the placed
    // one last.
    for (const index_t cell : captured) {
        set_square(cell, colour);
    }
    return true;
}

bool GameBoard::capturePath(index_t start, Direction d, Square colour, bool apply,
                            std::vector<index_t>& captured) const {
    return walkLine(start, d, colour, apply ? &captured : nullptr);
}

bool GameBoard::walkLine(index_t start, Direction d, Square colour,
                         std::vector<index_t>* captured) const {
    const size_t mark = captured ? captured->size() : 0;
    // Valid maps make every walk end or return to its start; the bound (one visit per walker
    // state) only guards against a step table that breaks that promise.
    const uint32_t maxSteps = boardsize * NumDirections;
    uint32_t passed = 0;
    index_t cell = start;
    Direction dir = d;
    while (passed < maxSteps) {
        const Step step = transitions[size_t{cell} * NumDirections + dirIndex(dir)];
        cell = step.to;
        dir = step.next;
        if (cell == INVALID_INDEX || cell == start) {
            break;
        }
        const Square s = squares[cell];
        if (s == colour) {
            if (passed > 0) {
                return true;
            }
            break;
        }
        if (!isOccupied(s)) {
            break;
        }
        ++passed;
        if (captured) {
            captured->push_back(cell);
        }
    }
    if (captured) {
        captured->resize(mark);
    }
    return false;
}

bool GameBoard::checkChoice(index_t index, MoveChoice choice) const {
    if (!valid_index(index)) {
        return false;
    }
    switch (squares[index]) {
    case Square::BONUS:
        return choice == MoveChoice::BOMB || choice == MoveChoice::OVERRIDE;
    case Square::CHOICE:
        return choice >= MoveChoice::PLAYER1 && static_cast<unsigned>(choice) <= nplayers;
    default:
        return choice == MoveChoice::NONE;
    }
}

void GameBoard::inversion() {
    for (unsigned c = 1; c <= nplayers; ++c) {
        btop_map[c] = incrementPlayer(btop_map[c], nplayers);
    }
    for (unsigned c = 1; c <= nplayers; ++c) {
        ptob_map[static_cast<unsigned>(btop_map[c])] = static_cast<Square>(c);
    }
}

void GameBoard::swap_players(Player a, Player b) {
    const unsigned ia = static_cast<unsigned>(a);
    const unsigned ib = static_cast<unsigned>(b);
    std::swap(ptob_map[ia], ptob_map[ib]);
    btop_map[static_cast<unsigned>(ptob_map[ia])] = a;
    btop_map[static_cast<unsigned>(ptob_map[ib])] = b;
}

bool GameBoard::freeCellsFewer(Square colour) const {
    // A walk from a stone goes the whole length of its line, a test of a free cell stops at
    // its first line: measured on a large board, testing the free cells is the shorter way
    // once they are fewer than the foreign stones. The counts come from the counters
    // (expansion squares count as free).
    size_t stones = 0;
    for (unsigned c = 1; c < PLAYER_SLOTS; ++c) {
        stones += state.stoneCount[c];
    }
    const size_t free = reducedboardsize - stones;
    const size_t foreign = stones - state.stoneCount[static_cast<unsigned>(colour)];
    return free < foreign;
}

size_t GameBoard::legalFreeCells(Player player, std::vector<uint8_t>& marks) const {
    size_t count = 0;
    for (uint32_t c = 0; c < boardsize; ++c) {
        const Square s = squares[c];
        if (s != Square::NONE && !isOccupied(s) &&
            hasCaptureLine(player, static_cast<index_t>(c))) {
            marks[c] = 1;
            ++count;
        }
    }
    return count;
}

size_t GameBoard::legalCells(Player player, std::vector<uint8_t>& marks) const {
    marks.assign(boardsize, 0);
    if (!validPlayer(player)) {
        return 0;
    }
    const Square colour = ptob(player);
    const bool canOverride = getOverrides(player) != 0;
    if (!canOverride && freeCellsFewer(colour)) {
        return legalFreeCells(player, marks);
    }
    size_t count = 0;
    // Every line is walked backwards, from the stone of the player's colour that closes it:
    // the cell where such a walk leaves the foreign stones is playable, and with an override
    // stone so is every foreign stone on it but the first. A foreign stone met twice by one walk
    // would return to itself walking forward, so it is not marked from that walk.
    std::vector<uint16_t> seenOnWalk(canOverride ? boardsize : 0, 0);
    uint16_t walk = 0;
    const auto mark = [&](index_t cell) {
        count += marks[cell] == 0;
        marks[cell] = 1;
    };
    const Step* const steps = transitions.get();
    for (uint32_t c = 0; c < boardsize; ++c) {
        const Square here = squares[c];
        if (here == Square::EXPANSION && canOverride) {
            mark(static_cast<index_t>(c));
        }
        if (here != colour) {
            continue;
        }
        const index_t closing = static_cast<index_t>(c);
        for (unsigned d = 0; d < NumDirections; ++d) {
            Step step = steps[size_t{closing} * NumDirections + d];
            if (step.to == INVALID_INDEX || !isForeign(squares[step.to], colour)) {
                continue; // the common case: no foreign stone next to this one
            }
            ++walk;
            if (canOverride) {
                seenOnWalk[closing] = walk;
                seenOnWalk[step.to] = walk;
            }
            // Valid maps make every walk end or return to its start; the bound (one visit per
            // walker state) only guards against a step table that breaks that promise.
            for (uint32_t n = 0; n < boardsize * NumDirections; ++n) {
                step = steps[size_t{step.to} * NumDirections + dirIndex(step.next)];
                if (step.to == INVALID_INDEX || step.to == closing) {
                    break;
                }
                const Square s = squares[step.to];
                if (!isForeign(s, colour)) {
                    if (s != Square::NONE && (canOverride || !isOccupied(s))) {
                        mark(step.to);
                    }
                    break;
                }
                if (canOverride && seenOnWalk[step.to] != walk) {
                    seenOnWalk[step.to] = walk;
                    mark(step.to);
                }
            }
        }
    }
    return count;
}

bool GameBoard::move_possible(Player player) const {
    for (uint32_t i = 0; i < boardsize; ++i) {
        if (canPlace(player, static_cast<index_t>(i))) {
            return true;
        }
    }
    return false;
}

// Bombs

bool GameBoard::canBomb(Player player, index_t index) const {
    return validPlayer(player) && valid_index(index) && squares[index] != Square::NONE &&
           getBombs(player) != 0;
}

bool GameBoard::throwBomb(Player player, index_t index, bool apply) {
    if (!canBomb(player, index)) {
        return false;
    }
    if (!apply) {
        return true;
    }
    --bombs(player);
    std::vector<index_t> area;
    blastArea(index, area);
    for (const index_t cell : area) {
        set_square(cell, Square::NONE);
    }
    return true;
}

void GameBoard::blastArea(index_t target, std::vector<index_t>& area) const {
    area.clear();
    if (!valid_index(target) || squares[target] == Square::NONE) {
        return;
    }
    // Breadth first through cells that are not holes: layer k holds the cells k steps from the
    // target, and layers 0 to bomb_power are destroyed.
    const uint64_t span = 2 * uint64_t{bomb_power} + 1;
    area.reserve(static_cast<size_t>(std::min<uint64_t>(boardsize, span * span)));
    std::vector<bool> seen(boardsize, false);
    area.push_back(target);
    seen[target] = true;
    size_t layerStart = 0;
    for (unsigned layer = 0; layer < bomb_power; ++layer) {
        const size_t layerEnd = area.size();
        for (size_t k = layerStart; k < layerEnd; ++k) {
            for (const Direction d : AllDirections) {
                const index_t next = get_transition(area[k], d);
                if (next != INVALID_INDEX && !seen[next] && squares[next] != Square::NONE) {
                    seen[next] = true;
                    area.push_back(next);
                }
            }
        }
        if (area.size() == layerEnd) {
            break;
        }
        layerStart = layerEnd;
    }
}

// Make and unmake

void GameBoard::saveCounters(MoveUndo& undo) const {
    undo.state = state;
    undo.ptob_map = ptob_map;
    undo.btop_map = btop_map;
    undo.reducedboardsize = reducedboardsize;
}

bool GameBoard::playMove(Player player, index_t index, MoveChoice choice, MoveUndo& undo) {
    saveCounters(undo);
    if (!placeStone(player, index, choice, undo.cells, &undo.before)) {
        undo.cells.clear();
        undo.before.clear();
        return false;
    }
    return true;
}

bool GameBoard::playBomb(Player player, index_t index, MoveUndo& undo) {
    undo.cells.clear();
    undo.before.clear();
    if (!canBomb(player, index)) {
        return false;
    }
    saveCounters(undo);
    --bombs(player);
    blastArea(index, undo.cells);
    for (const index_t cell : undo.cells) {
        undo.before.push_back(squares[cell]);
        set_square(cell, Square::NONE);
    }
    return true;
}

void GameBoard::undoMove(const MoveUndo& undo) {
    // Backwards, so that a cell changed twice ends with its first content.
    for (size_t k = undo.cells.size(); k-- > 0;) {
        squares[undo.cells[k]] = undo.before[k];
    }
    state = undo.state;
    ptob_map = undo.ptob_map;
    btop_map = undo.btop_map;
    reducedboardsize = undo.reducedboardsize;
}

bool GameBoard::bomb_possible(Player player) const {
    return reducedboardsize != 0 && getBombs(player) >= 1;
}

// Turns

Player GameBoard::nextMover(Player last, GamePhase& phase) const {
    Player next = incrementPlayer(last, nplayers);
    const Player start = next;
    // Skip the players who cannot move; a full round without one ends the phase, and the
    // next phase skips from there.
    struct Stage {
        GamePhase phase;
        bool (GameBoard::*canMove)(Player) const;
        GamePhase after;
    };
    static constexpr Stage STAGES[] = {
        {GamePhase::BUILD, &GameBoard::move_possible, GamePhase::TERMINAL},
        {GamePhase::TERMINAL, &GameBoard::bomb_possible, GamePhase::FINAL},
    };
    for (const Stage& stage : STAGES) {
        if (phase != stage.phase) {
            continue;
        }
        while (getDisqualified(next) || !(this->*stage.canMove)(next)) {
            next = incrementPlayer(next, nplayers);
            if (next == start) {
                phase = stage.after;
                break;
            }
        }
    }
    return next;
}
