#include "Position.h"

#include <algorithm>

Position::Position(const Game& game, Player toMove)
    : m_board(game.getBoard()), m_toMove(toMove), m_phase(game.is_final()      ? GamePhase::FINAL
                                                          : game.is_terminal() ? GamePhase::TERMINAL
                                                                               : GamePhase::BUILD) {
}

void Position::legalMoves(std::vector<Candidate>& out) const {
    out.clear();
    if (m_phase == GamePhase::FINAL) {
        return;
    }
    const uint32_t size = m_board.getBoardSize();
    if (m_phase == GamePhase::TERMINAL) {
        if (m_board.getBombs(m_toMove) == 0) {
            return;
        }
        for (uint32_t i = 0; i < size; ++i) {
            if (m_board.get_square(static_cast<index_t>(i)) != Square::NONE) {
                out.push_back({static_cast<index_t>(i), MoveChoice::NONE});
            }
        }
        return;
    }
    // The board's test form ignores the choice, so each legal cell is expanded into the choices
    // its square accepts. The test form changes nothing; it is only not declared const.
    GameBoard& probe = const_cast<GameBoard&>(m_board);
    for (uint32_t i = 0; i < size; ++i) {
        const index_t index = static_cast<index_t>(i);
        if (!probe.makeMove(m_toMove, index, MoveChoice::NONE, false)) {
            continue;
        }
        switch (m_board.get_square(index)) {
        case Square::CHOICE:
            for (unsigned p = 1; p <= nrPlayers(); ++p) {
                out.push_back({index, static_cast<MoveChoice>(p)});
            }
            break;
        case Square::BONUS:
            out.push_back({index, MoveChoice::BOMB});
            out.push_back({index, MoveChoice::OVERRIDE});
            break;
        default:
            out.push_back({index, MoveChoice::NONE});
            break;
        }
    }
}

bool Position::play(const Candidate& move) {
    bool legal = false;
    if (m_phase == GamePhase::BUILD) {
        legal = m_board.makeMove(m_toMove, move.index, move.choice, true);
    } else if (m_phase == GamePhase::TERMINAL) {
        legal = move.choice == MoveChoice::NONE && m_board.throwBomb(m_toMove, move.index, true);
    }
    if (legal) {
        passTurn();
    }
    return legal;
}

void Position::passTurn() {
    const unsigned n = nrPlayers();
    m_toMove = incrementPlayer(m_toMove, n);
    const Player start = m_toMove;
    if (m_phase == GamePhase::BUILD) {
        while (m_board.getDisqualified(m_toMove) || !m_board.move_possible(m_toMove)) {
            m_toMove = incrementPlayer(m_toMove, n);
            if (m_toMove == start) {
                m_phase = GamePhase::TERMINAL;
                break;
            }
        }
    }
    if (m_phase == GamePhase::TERMINAL) {
        while (m_board.getDisqualified(m_toMove) || !m_board.bomb_possible(m_toMove)) {
            m_toMove = incrementPlayer(m_toMove, n);
            if (m_toMove == start) {
                m_phase = GamePhase::FINAL;
                break;
            }
        }
    }
}

std::vector<index_t> Position::blastArea(index_t target) const {
    std::vector<index_t> area;
    if (!m_board.valid_index(target) || m_board.get_square(target) == Square::NONE) {
        return area;
    }
    // Breadth first through cells that are not holes, up to the bomb strength in steps: the
    // cells a throw turns into holes, layer by layer.
    std::vector<bool> seen(m_board.getBoardSize(), false);
    area.push_back(target);
    seen[target] = true;
    size_t layerStart = 0;
    for (unsigned layer = 0; layer < m_board.getBombPower(); ++layer) {
        const size_t layerEnd = area.size();
        for (size_t k = layerStart; k < layerEnd; ++k) {
            for (Direction d : AllDirections) {
                const index_t next = m_board.get_transition(area[k], d);
                if (next != INVALID_INDEX && !seen[next] &&
                    m_board.get_square(next) != Square::NONE) {
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
    return area;
}
