#include "Map.h"

#include "Logging.h"

#include <cctype>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

namespace {

constexpr uint32_t MAX_STOCK_SUM = 255;
constexpr uint32_t MIN_PLAYERS = 2;
constexpr uint32_t MAX_PLAYERS = static_cast<uint32_t>(Player::P_MAX);
constexpr unsigned MAX_DIRECTION = static_cast<unsigned>(Direction::LAST);
// Marks the end of a text file on some systems.
constexpr int END_OF_FILE_MARK = 0x1A;
const char* const SEPARATOR = "<->";

// The squares a map names by a letter (or a sign) rather than a number, both ways.
struct SquareLetter {
    Square square;
    char letter;
};
constexpr SquareLetter SQUARE_LETTERS[] = {
    {Square::NONE, '-'},   {Square::EMPTY, '0'},     {Square::BONUS, 'b'},
    {Square::CHOICE, 'c'}, {Square::INVERSION, 'i'}, {Square::EXPANSION, 'x'},
};

// Reads an unsigned decimal number that fits 32 bits. Unlike the stream's own extraction it
// refuses a sign, so "-1" fails instead of wrapping to a huge value.
std::istream& readUnsigned(std::istream& is, uint32_t& value) {
    const std::istream::sentry sentry(is);
    if (!sentry) {
        return is;
    }
    const int next = is.peek();
    if (next == std::char_traits<char>::eof() || !std::isdigit(next)) {
        is.setstate(std::ios::failbit);
        return is;
    }
    unsigned long long number = 0;
    if (is >> number) {
        if (number > std::numeric_limits<uint32_t>::max()) {
            is.setstate(std::ios::failbit);
        } else {
            value = static_cast<uint32_t>(number);
        }
    }
    return is;
}

// Whether the part of a transition just read from `is` was valid; logs the part by name when
// it was not.
bool transitionPart(const std::istream& is, const char* part) {
    if (is.fail()) {
        LOG(Logging::loggerMap, lumber::ERR) << "Transition " << part << " invalid";
        return false;
    }
    return true;
}

} // namespace

// Transition

Transition::Transition(map_axis xStart, map_axis yStart, Direction dStart, map_axis xEnd,
                       map_axis yEnd, Direction dEnd)
    : m_xStart(xStart), m_yStart(yStart), m_dStart(dStart), m_xEnd(xEnd), m_yEnd(yEnd),
      m_dEnd(dEnd), m_isValid(true) {}

bool Transition::isValid(const Map& map) const {
    const bool coordinatesOk = m_xStart < map.getWidth() && m_xEnd < map.getWidth() &&
                               m_yStart < map.getHeight() && m_yEnd < map.getHeight();
    const bool gapsOk = map.getDirectNeighbour(m_xStart, m_yStart, m_dStart) == Square::NONE &&
                        map.getDirectNeighbour(m_xEnd, m_yEnd, m_dEnd) == Square::NONE;
    // A transition onto its own endpoint would turn every line through it straight back.
    const bool distinctEnds = m_xStart != m_xEnd || m_yStart != m_yEnd || m_dStart != m_dEnd;
    if (coordinatesOk && gapsOk && distinctEnds) {
        return true;
    }
    // One entry, one line: the failed checks follow the transition.
    LOG(Logging::loggerMap, lumber::ERR)
        << "Transition checks failed for transition " << *this
        << (coordinatesOk ? "" : "  Coordinates are invalid")
        << (gapsOk ? "" : "  Transition not connected via empty location")
        << (distinctEnds ? "" : "  Transition leads back to its own endpoint");
    return false;
}

bool Transition::sharesNeightbour(const Transition& other) const {
    auto same = [](map_axis x1, map_axis y1, Direction d1, map_axis x2, map_axis y2, Direction d2) {
        return x1 == x2 && y1 == y2 && d1 == d2;
    };
    return same(m_xStart, m_yStart, m_dStart, other.m_xStart, other.m_yStart, other.m_dStart) ||
           same(m_xStart, m_yStart, m_dStart, other.m_xEnd, other.m_yEnd, other.m_dEnd) ||
           same(m_xEnd, m_yEnd, m_dEnd, other.m_xStart, other.m_yStart, other.m_dStart) ||
           same(m_xEnd, m_yEnd, m_dEnd, other.m_xEnd, other.m_yEnd, other.m_dEnd);
}

std::ostream& operator<<(std::ostream& os, const Transition& t) {
    return os << t.m_xStart << " " << t.m_yStart << " " << t.m_dStart << " " << SEPARATOR << " "
              << t.m_xEnd << " " << t.m_yEnd << " " << t.m_dEnd;
}

// Map

Map::Map() = default;

Map::~Map() = default;

bool Map::loadFromFile(std::string filename) {
    if (filename == "-") {
        return loadFromStream(std::cin, std::move(filename));
    }
    std::ifstream file(filename);
    return loadFromStream(file, std::move(filename));
}

bool Map::loadFromStream(std::istream& input, std::string name) {
    input >> *this;
    m_name = std::move(name);
    return isValid();
}

bool Map::loadFromString(const std::string& description) {
    std::istringstream text(description);
    text >> *this;
    return isValid();
}

Square Map::getTile(map_axis x, map_axis y) const {
    if (!m_tiles || x >= m_width || y >= m_height) {
        return Square::NONE;
    }
    return m_tiles[static_cast<size_t>(y) * m_width + x];
}

Square Map::getDirectNeighbour(map_axis x, map_axis y, Direction d) const {
    // Off-board cells have no neighbours; this also keeps x + 1 and y + 1 from wrapping.
    if (x >= m_width || y >= m_height) {
        return Square::NONE;
    }
    const bool top = y == 0;
    const bool bottom = y == m_height - 1;
    const bool left = x == 0;
    const bool right = x == m_width - 1;
    switch (d) {
    case Direction::N:
        return top ? Square::NONE : getTile(x, y - 1);
    case Direction::NE:
        return top || right ? Square::NONE : getTile(x + 1, y - 1);
    case Direction::E:
        return right ? Square::NONE : getTile(x + 1, y);
    case Direction::SE:
        return bottom || right ? Square::NONE : getTile(x + 1, y + 1);
    case Direction::S:
        return bottom ? Square::NONE : getTile(x, y + 1);
    case Direction::SW:
        return bottom || left ? Square::NONE : getTile(x - 1, y + 1);
    case Direction::W:
        return left ? Square::NONE : getTile(x - 1, y);
    case Direction::NW:
        return top || left ? Square::NONE : getTile(x - 1, y - 1);
    }
    return Square::NONE;
}

bool Map::affectedByTransition(map_axis x, map_axis y) const {
    for (const Transition& t : m_transitions) {
        if ((t.m_xStart == x && t.m_yStart == y) || (t.m_xEnd == x && t.m_yEnd == y)) {
            return true;
        }
    }
    return false;
}

bool Map::readTransition(std::istream& is, Transition& transition) const {
    if (!is.good()) {
        return false;
    }
    is.setf(std::ios::skipws);
    is >> std::ws;
    const int first = is.peek();

    uint32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    Direction d1 = Direction::N, d2 = Direction::N;
    if (!readUnsigned(is, x1)) {
        if (is.eof()) {
            return false;
        }
        if (first == END_OF_FILE_MARK) {
            is.setstate(std::ios::eofbit);
            return false;
        }
        LOG(Logging::loggerMap, lumber::ERR) << "Transition x coordinate 1 invalid";
        return false;
    }
    if (!transitionPart(readUnsigned(is, y1), "y coordinate 1") ||
        !transitionPart(is >> d1, "direction 1")) {
        return false;
    }
    std::string separator;
    if (!(is >> separator) || separator != SEPARATOR) {
        LOG(Logging::loggerMap, lumber::ERR) << "Transition separator invalid";
        return false;
    }
    if (!transitionPart(readUnsigned(is, x2), "x coordinate 2") ||
        !transitionPart(readUnsigned(is, y2), "y coordinate 2") ||
        !transitionPart(is >> d2, "direction 2")) {
        return false;
    }
    transition = Transition(x1, y1, d1, x2, y2, d2);
    return true;
}

bool Map::headerFaulty() const {
    bool faulty = false;
    if (m_players < MIN_PLAYERS || m_players > MAX_PLAYERS) {
        LOG(Logging::loggerMap, lumber::ERR) << "Invalid number of players: " << m_players;
        faulty = true;
    }
    if (m_overrides > Map::MAX_OVERRIDE) {
        LOG(Logging::loggerMap, lumber::ERR) << "Invalid number of overrides: " << m_overrides;
        faulty = true;
    }
    if (m_bombs > Map::MAX_BOMBS) {
        LOG(Logging::loggerMap, lumber::ERR) << "Invalid number of bombs: " << m_bombs;
        faulty = true;
    }
    if (m_bombStrength > Map::MAX_BOMB_RADIUS) {
        LOG(Logging::loggerMap, lumber::ERR) << "Invalid bomb strength: " << m_bombStrength;
        faulty = true;
    }
    if (!dimensionsValid()) {
        LOG(Logging::loggerMap, lumber::ERR)
            << "Invalid map dimensions: (" << m_height << " x " << m_width << ")";
        faulty = true;
    }
    return faulty;
}

bool Map::dimensionsValid() const {
    return m_height != 0 && m_height <= Map::MAX_HEIGHT && m_width != 0 &&
           m_width <= Map::MAX_WIDTH;
}

bool Map::readGrid(std::istream& is, uint32_t& bonusCount) {
    bool faulty = false;
    m_tiles.reset(new Square[static_cast<size_t>(m_height) * m_width]);
    for (map_axis y = 0; y < m_height; ++y) {
        for (map_axis x = 0; x < m_width; ++x) {
            Square tile = Square::NONE;
            if (!(is >> tile)) {
                LOG(Logging::loggerMap, lumber::ERR)
                    << "Invalid tile at (" << x << ", " << y << ")";
                faulty = true;
                // Keep the unread cell defined.
                m_tiles[y * m_width + x] = Square::NONE;
                continue;
            }
            m_tiles[y * m_width + x] = tile;
            if (tile == Square::BONUS) {
                ++bonusCount;
            }
            if (tile != Square::NONE) {
                ++m_playable;
            }
        }
    }
    return faulty;
}

bool Map::stockFaulty(uint32_t bonusCount) const {
    bool faulty = false;
    const uint64_t bombSum = uint64_t{m_bombs} + bonusCount;
    if (bombSum > MAX_STOCK_SUM) {
        LOG(Logging::loggerMap, lumber::ERR)
            << "Sum of bonus-fields and bombs too large: " << bombSum;
        faulty = true;
    }
    const uint64_t overrideSum = uint64_t{m_overrides} + bonusCount;
    if (overrideSum > MAX_STOCK_SUM) {
        LOG(Logging::loggerMap, lumber::ERR)
            << "Sum of bonus-fields and overrides too large: " << overrideSum;
        faulty = true;
    }
    return faulty;
}

bool Map::readTransitions(std::istream& is) {
    bool faulty = false;
    Transition transition;
    while (readTransition(is, transition)) {
        if (transition.isValid(*this)) {
            m_transitions.push_back(transition);
        } else {
            faulty = true;
        }
        if (is.fail()) {
            break;
        }
    }
    // A list that stopped before the end of the input held a malformed line (logged).
    return faulty || !is.eof();
}

bool Map::transitionsShareEndpoints() const {
    bool faulty = false;
    const std::vector<Transition>& list = m_transitions;
    for (size_t i = 0; i < list.size(); ++i) {
        for (size_t j = i + 1; j < list.size(); ++j) {
            if (list[i].sharesNeightbour(list[j])) {
                LOG(Logging::loggerMap, lumber::ERR)
                    << "Duplicate transition endpoints: " << list[i] << " vs " << list[j];
                faulty = true;
            }
        }
    }
    return faulty;
}

std::istream& operator>>(std::istream& is, Map& map) {
    if (!is.good()) {
        LOG(Logging::loggerMap, lumber::ERR) << "Error in stream";
        return is;
    }
    map.m_isValid = false;
    // A map read into a used object starts from nothing: no cells, counts or transitions of
    // the earlier map survive, even when this read fails early.
    map.m_tiles.reset();
    map.m_playable = 0;
    map.m_transitions.clear();
    is.setf(std::ios::skipws);

    readUnsigned(is, map.m_players);
    readUnsigned(is, map.m_overrides);
    readUnsigned(is, map.m_bombs);
    readUnsigned(is, map.m_bombStrength);
    readUnsigned(is, map.m_height);
    readUnsigned(is, map.m_width);
    if (!is.good()) {
        LOG(Logging::loggerMap, lumber::ERR) << "Error in stream after parsing map header";
        return is;
    }

    bool faulty = map.headerFaulty();
    // With dimensions beyond the limits no grid is read: the cell count could be anything
    // up to 2^64, and the map is invalid anyway.
    uint32_t bonusCount = 0;
    if (map.dimensionsValid()) {
        faulty = map.readGrid(is, bonusCount) || faulty;
    }
    faulty = map.stockFaulty(bonusCount) || faulty;
    if (!faulty) {
        faulty = map.readTransitions(is);
    }
    faulty = map.transitionsShareEndpoints() || faulty;

    map.m_isValid = !faulty;
    if (map.m_isValid) {
        LOG(Logging::loggerMap, lumber::DEBUG) << "Done reading map:\n " << map;
    }
    return is;
}

std::ostream& operator<<(std::ostream& os, const Map& map) {
    os << map.m_players << "\n";
    os << map.m_overrides << "\n";
    os << map.m_bombs << " " << map.m_bombStrength << "\n";
    os << map.m_height << " " << map.m_width << "\n";
    for (map_axis y = 0; y < map.m_height; ++y) {
        for (map_axis x = 0; x < map.m_width; ++x) {
            if (x != 0) {
                os << " ";
            }
            os << map.getTile(x, y);
        }
        os << "\n";
    }
    for (const Transition& t : map.m_transitions) {
        os << t << "\n";
    }
    return os;
}

std::istream& operator>>(std::istream& is, Square& square) {
    is >> std::ws;
    const int c = is.get();
    for (const SquareLetter& letter : SQUARE_LETTERS) {
        if (c == letter.letter) {
            square = letter.square;
            return is;
        }
    }
    if (c == std::char_traits<char>::eof() || c < '1' || c > '9') {
        is.setstate(std::ios::failbit);
        return is;
    }
    // A digit 1 to 9 starts a number, so "12" is one (invalid) token.
    is.putback(static_cast<char>(c));
    uint32_t number = 0;
    if (readUnsigned(is, number)) {
        if (number >= static_cast<uint32_t>(Square::PLAYER1) &&
            number <= static_cast<uint32_t>(Square::PLAYER_MAX)) {
            square = static_cast<Square>(number);
        } else {
            is.setstate(std::ios::failbit);
        }
    }
    return is;
}

std::ostream& operator<<(std::ostream& os, Square square) {
    for (const SquareLetter& letter : SQUARE_LETTERS) {
        if (square == letter.square) {
            return os << letter.letter;
        }
    }
    return os << static_cast<unsigned>(square);
}

std::istream& operator>>(std::istream& is, Direction& direction) {
    uint32_t number = 0;
    if (readUnsigned(is, number)) {
        if (number > MAX_DIRECTION) {
            is.setstate(std::ios::failbit);
        } else {
            direction = static_cast<Direction>(number);
        }
    }
    return is;
}

std::ostream& operator<<(std::ostream& os, const Direction& direction) {
    return os << static_cast<unsigned>(direction);
}
