#include "Position.h"

#include <cstdint>

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
        for (uint32_t i = 0; i < size; ++i) {
            if (m_board.canBomb(m_toMove, static_cast<index_t>(i))) {
                out.push_back({static_cast<index_t>(i), MoveChoice::NONE});
            }
        }
        return;
    }
    // The legal cells hold for every choice, so each is expanded into the choices its square
    // accepts.
    std::vector<uint8_t> legal;
    m_board.legalCells(m_toMove, legal);
    for (uint32_t i = 0; i < size; ++i) {
        const index_t index = static_cast<index_t>(i);
        if (legal[i] == 0) {
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
        m_toMove = m_board.nextMover(m_toMove, m_phase);
    }
    return legal;
}

std::vector<index_t> Position::blastArea(index_t target) const {
    std::vector<index_t> area;
    m_board.blastArea(target, area);
    return area;
}
