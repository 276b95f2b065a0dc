#include "Replay.h"

#include "MoveFault.h"

#include <sstream>

Replay::Replay() = default;
Replay::~Replay() = default;

bool Replay::start(const std::string& mapText, std::string& error) {
    m_game.reset();
    m_map = std::make_unique<Map>();
    if (!m_map->loadFromString(mapText)) {
        error = "the map is not valid";
        m_map.reset();
        return false;
    }
    m_game = std::make_unique<Game>(*m_map, false);
    return true;
}

std::string Replay::fault(uint16_t x, uint16_t y, uint8_t choice, unsigned player) const {
    if (player < 1 || player > players()) {
        return "no such player";
    }
    const Move move(x, y, static_cast<MoveChoice>(choice), static_cast<Player>(player),
                    m_game->is_terminal());
    return MoveFault::explain(*m_game, move);
}

bool Replay::play(uint16_t x, uint16_t y, uint8_t choice, unsigned player,
                  std::vector<CellChange>& changes) {
    changes.clear();
    if (!fault(x, y, choice, player).empty()) {
        return false;
    }
    const GameBoard& board = m_game->getBoard();
    const uint16_t width = board.getWidth();
    const uint16_t height = board.getHeight();
    std::vector<std::string> before;
    before.reserve(static_cast<size_t>(width) * height);
    for (uint16_t y = 0; y < height; ++y) {
        for (uint16_t x = 0; x < width; ++x) {
            before.push_back(token(x, y));
        }
    }
    const Move move(x, y, static_cast<MoveChoice>(choice), static_cast<Player>(player),
                    m_game->is_terminal());
    if (!m_game->makeMove(move)) {
        return false;
    }
    for (uint16_t row = 0; row < height; ++row) {
        for (uint16_t col = 0; col < width; ++col) {
            std::string now = token(col, row);
            if (now != before[static_cast<size_t>(row) * width + col]) {
                changes.push_back({col, row, std::move(now)});
            }
        }
    }
    return true;
}

void Replay::disqualify(unsigned player) {
    if (player >= 1 && player <= players()) {
        m_game->disqualify(static_cast<Player>(player));
    }
}

std::string Replay::phase() const {
    if (m_game->is_final()) {
        return "final";
    }
    return m_game->is_terminal() ? "bomb" : "build";
}

unsigned Replay::players() const {
    return m_game ? m_game->getNrPlayers() : 0;
}

unsigned Replay::currentPlayer() const {
    return static_cast<unsigned>(m_game->getCurrentPlayer());
}

std::vector<int> Replay::scores() const {
    std::vector<int> result(players());
    m_game->get_scores(result.data());
    return result;
}

std::string Replay::token(unsigned x, unsigned y) const {
    const GameBoard& board = m_game->getBoard();
    const Square s =
        board.get_square(board.coords2index(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
    std::ostringstream os;
    if (isColour(s)) {
        os << static_cast<unsigned>(board.btop(s));
    } else {
        os << s;
    }
    return os.str();
}

std::vector<std::string> Replay::cells() const {
    const GameBoard& board = m_game->getBoard();
    std::vector<std::string> rows;
    for (unsigned y = 0; y < board.getHeight(); ++y) {
        std::string row;
        for (unsigned x = 0; x < board.getWidth(); ++x) {
            row += (x ? " " : "") + token(x, y);
        }
        rows.push_back(row);
    }
    return rows;
}

std::string Replay::mapText() const {
    std::ostringstream os;
    os << *m_map;
    return os.str();
}
