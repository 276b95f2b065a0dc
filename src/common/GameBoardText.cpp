// The console texts of a board. Each text is built into one reserved string from ready-made
// pieces: the logged board is drawn before every move, on boards of up to 2500 cells.

#include "GameBoard.h"

#include "colors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <ostream>

namespace {

constexpr unsigned SQUARE_VALUES = 256;
// "\x1b[;7;37m" and a digit are the longest cell.
constexpr size_t CELL_TEXT_MAX = 16;
// Axis field width: every cell takes as many characters as an axis number.
constexpr size_t AXIS_FIELD = 3;

const char* const RESET = "\x1b[m";
constexpr size_t RESET_SIZE = 3;
const char* const AXIS_COLOUR = "\x1b[;1;30m";

// One cell as it is drawn, colour escape included.
struct CellText {
    std::array<char, CELL_TEXT_MAX> text{};
    uint8_t size = 0;

    void append(const char* part) {
        const size_t n = std::strlen(part);
        std::memcpy(text.data() + size, part, n);
        size = static_cast<uint8_t>(size + n);
    }
    void appendTo(std::string& out) const { out.append(text.data(), size); }
};

const char* playerColour(Player p) {
    // Players 1 to 6 in this order; the others are white.
    static const char* const colours[] = {ansi::CFG_RED,    ansi::CFG_BLUE, ansi::CFG_GREEN,
                                          ansi::CFG_YELLOW, ansi::CFG_CYAN, ansi::CFG_MAGENTA};
    const auto n = static_cast<size_t>(p);
    return n >= 1 && n <= std::size(colours) ? colours[n - 1] : ansi::CFG_WHITE;
}

// The escape ESC "[" codes "m" of the colour module, for codes given as its constants.
void appendEscape(CellText& cell, const char* first, const char* second = nullptr) {
    cell.append("\x1b[");
    cell.append(first);
    if (second != nullptr) {
        cell.append(second);
    }
    cell.append("m");
}

void appendNumber(CellText& cell, unsigned value) {
    const std::string digits = std::to_string(value);
    cell.append(digits.c_str());
}

// The squares drawn as a letter or a sign, and the background of those that have one in
// colour; every other square is drawn as its number.
struct SquareLook {
    Square square;
    const char* background;
    const char* token;
};
constexpr SquareLook SQUARE_LOOKS[] = {
    {Square::EMPTY, nullptr, "0"},
    {Square::EXPANSION, nullptr, "x"},
    {Square::NONE, nullptr, "-"},
    {Square::INVERSION, ansi::CFG_MAGENTA, "i"},
    {Square::CHOICE, ansi::CFG_YELLOW, "c"},
    {Square::BONUS, ansi::CFG_GREEN, "b"},
};

// The squares that are not stones, which look the same on every board: index 0 without
// colours, index 1 with them.
const std::array<std::array<CellText, SQUARE_VALUES>, 2>& fixedSquares() {
    static const auto table = [] {
        std::array<std::array<CellText, SQUARE_VALUES>, 2> t{};
        for (unsigned colours = 0; colours < 2; ++colours) {
            for (unsigned v = 0; v < SQUARE_VALUES; ++v) {
                CellText& cell = t[colours][v];
                const Square s = static_cast<Square>(v);
                const char* background = nullptr;
                const char* token = nullptr;
                for (const SquareLook& look : SQUARE_LOOKS) {
                    if (look.square == s) {
                        background = look.background;
                        token = look.token;
                    }
                }
                if (background != nullptr && colours != 0) {
                    appendEscape(cell, ansi::CBG_BLUE, background);
                }
                if (token != nullptr) {
                    cell.append(token);
                } else {
                    appendNumber(cell, v);
                }
            }
        }
        return t;
    }();
    return table;
}

} // namespace

// The cells of one drawing: stones depend on who owns each colour now and who is disqualified,
// everything else comes from the fixed table.
class GameBoard::SquareTexts {
public:
    SquareTexts(const GameBoard& board, bool colours) : m_fixed(fixedSquares()[colours ? 1 : 0]) {
        for (unsigned c = 1; c < m_stones.size(); ++c) {
            CellText& cell = m_stones[c];
            const Player owner = board.btop(static_cast<Square>(c));
            if (colours) {
                if (board.getDisqualified(owner)) {
                    appendEscape(cell, ansi::CT_INVERT, playerColour(owner));
                } else {
                    appendEscape(cell, playerColour(owner));
                }
            }
            appendNumber(cell, static_cast<unsigned>(owner));
            m_maxSize = std::max(m_maxSize, size_t{cell.size});
        }
        for (const CellText& cell : m_fixed) {
            m_maxSize = std::max(m_maxSize, size_t{cell.size});
        }
    }

    /// The longest cell text of this drawing.
    size_t maxSize() const { return m_maxSize; }

    const CellText& operator[](Square s) const {
        return isColour(s) ? m_stones[static_cast<unsigned>(s)] : m_fixed[static_cast<unsigned>(s)];
    }

private:
    const std::array<CellText, SQUARE_VALUES>& m_fixed;
    std::array<CellText, static_cast<unsigned>(Square::PLAYER_MAX) + 1> m_stones{};
    size_t m_maxSize = 0;
};

void GameBoard::printSquare(std::ostream& os, Square s, bool reset) const {
    std::string text;
    appendSquare(text, s, ansi::enableColor);
    if (reset) {
        os << text << C_RESET;
    } else {
        os << text;
    }
}

void GameBoard::appendSquare(std::string& out, Square s, bool colours) const {
    SquareTexts(*this, colours)[s].appendTo(out);
}

namespace {

// A number left-aligned in an axis field (wider numbers take the room they need).
void appendAxisNumber(std::string& out, unsigned value) {
    const std::string digits = std::to_string(value);
    out += digits;
    if (digits.size() < AXIS_FIELD) {
        out.append(AXIS_FIELD - digits.size(), ' ');
    }
}

} // namespace

std::string GameBoard::asString(Player player, bool showValidMoves, bool printAxis) const {
    const bool colours = ansi::enableColor;
    const SquareTexts cells(*this, colours);
    std::vector<uint8_t> marks;
    if (showValidMoves) {
        legalCells(player, marks);
    }
    const char* const reset = colours ? RESET : "";
    const size_t resetSize = colours ? RESET_SIZE : 0;
    const std::string axisColour = colours ? AXIS_COLOUR : "";
    // What follows a cell: an apostrophe for a legal move, else a blank, with the reset
    // between, and one more blank under the axes.
    CellText marked;
    CellText unmarked;
    marked.append("'");
    marked.append(reset);
    unmarked.append(reset);
    unmarked.append(" ");
    if (printAxis) {
        marked.append(" ");
        unmarked.append(" ");
    }

    std::string out;
    if (printAxis) {
        out += axisColour;
        out += "     ";
        for (unsigned x = 0; x < width; ++x) {
            appendAxisNumber(out, x);
        }
        out += "\n   /-";
        out.append(size_t{width} * 3, '-');
        out.append(reset, resetSize);
        out += '\n';
    }
    // The rows are written through a pointer into room for the largest pieces; a cell is
    // copied whole (CELL_TEXT_MAX bytes) and the pointer advanced by its real size.
    const size_t rowHead = axisColour.size() + AXIS_FIELD + 8 + resetSize;
    const size_t rowRoom = rowHead + size_t{width} * (cells.maxSize() + marked.size + 1) + 1;
    size_t used = out.size();
    out.resize(used + size_t{height} * rowRoom + CELL_TEXT_MAX);
    char* p = &out[used];
    for (unsigned y = 0; y < height; ++y) {
        if (printAxis) {
            p = std::copy(axisColour.begin(), axisColour.end(), p);
            const std::string number = std::to_string(y);
            p = std::copy(number.begin(), number.end(), p);
            for (size_t pad = number.size(); pad < AXIS_FIELD; ++pad) {
                *p++ = ' ';
            }
            *p++ = '|';
            *p++ = ' ';
            p = std::copy(reset, reset + resetSize, p);
        }
        const size_t rowStart = size_t{y} * width;
        for (size_t i = rowStart; i < rowStart + width; ++i) {
            const CellText& cell = cells[squares[i]];
            std::memcpy(p, cell.text.data(), CELL_TEXT_MAX);
            p += cell.size;
            const CellText& after = showValidMoves && marks[i] != 0 ? marked : unmarked;
            std::memcpy(p, after.text.data(), CELL_TEXT_MAX);
            p += after.size;
        }
        *p++ = '\n';
    }
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

std::string GameBoard::asSimpleString() const {
    const SquareTexts cells(*this, false);
    std::string out;
    out.resize(size_t{height} * (size_t{width} * cells.maxSize() + 1) + CELL_TEXT_MAX);
    char* p = &out[0];
    for (size_t y = 0; y < height; ++y) {
        const size_t rowStart = y * width;
        for (size_t i = rowStart; i < rowStart + width; ++i) {
            const CellText& cell = cells[squares[i]];
            std::memcpy(p, cell.text.data(), CELL_TEXT_MAX);
            p += cell.size;
        }
        *p++ = '\n';
    }
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

std::string GameBoard::playerStatus() const {
    std::string out;
    for (unsigned n = 1; n < static_cast<unsigned>(lastPlayer); ++n) {
        const Player p = static_cast<Player>(n);
        out += "Player " + std::to_string(n) + ": " + std::to_string(getBombs(p)) + " bombs, " +
               std::to_string(getOverrides(p)) + " overrides. Score is " +
               std::to_string(getStoneCount(p)) + "\n";
    }
    return out;
}
