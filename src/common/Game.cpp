#include "Game.h"

#include "Logging.h"

#include <array>
#include <cassert>
#include <cstring>
#include <sstream>

namespace {

// The choice an enumeration tries first on a square of the building phase.
MoveChoice firstChoice(Square s) {
    switch (s) {
    case Square::CHOICE:
        return MoveChoice::PLAYER1;
    case Square::BONUS:
        return MoveChoice::BOMB;
    default:
        return MoveChoice::NONE;
    }
}

} // namespace

Game::Game(const Map& map, bool passive) : Game(map, new GameBoard(map), passive) {}

Game::Game(const Map& map, GameBoard* board, bool passive)
    : StateManager(DEFAULT_STACK_SIZE), m_map(map), m_gb(board), valid_players(map.getPlayers()),
      nplayers(map.getPlayers()), m_passive(passive) {
    for (uint32_t p = 1; p <= nplayers; ++p) {
        m_players.push_back(static_cast<Player>(p));
    }
    m_validPlayers = m_players;
    turn_inc();
}

Game::~Game() = default;

bool Game::saveState() {
    void* cursor = getCurrentPointer(-1);
    if (!cursor) {
        return false;
    }
    const GameState state{next_turn, movenumber, m_phase};
    std::memcpy(cursor, &state, sizeof(state));
    incPointer(cursor, sizeof(state));
    return true;
}

bool Game::loadState(int index) {
    void* cursor = getCurrentPointer(index);
    if (!cursor) {
        return false;
    }
    GameState state;
    std::memcpy(&state, cursor, sizeof(state));
    incPointer(cursor, sizeof(state));
    next_turn = state.next_turn;
    movenumber = state.movenumber;
    m_phase = state.phase;
    return true;
}

uint32_t Game::getStateSize() const {
    return sizeof(GameState);
}

void Game::force_terminal() {
    if (m_passive) {
        m_phase = GamePhase::TERMINAL;
    }
}

void Game::turn_inc() {
    if (valid_players == 0) {
        LOG(Logging::loggerGame, lumber::WARN) << "No more valid players in the game!";
        return;
    }
    next_turn = m_gb->nextMover(next_turn, m_phase);
    if (m_phase == GamePhase::FINAL) {
        LOG(Logging::loggerGame, lumber::TRACE) << "Game has ended, turn_inc no-op";
    }
    LOG(Logging::loggerGame, lumber::TRACE) << "turn_inc: next valid player is " << next_turn;
}

bool Game::checkMove(const Move& move, bool checkChoice) const {
    if (move.player != next_turn || move.terminal != is_terminal()) {
        return false;
    }
    const index_t index = m_gb->coords2index(move.x, move.y);
    if (index == INVALID_INDEX) {
        return false;
    }
    if (move.terminal) {
        if (!m_gb->canBomb(move.player, index)) {
            return false;
        }
        return !checkChoice || move.choice == MoveChoice::NONE || m_passive;
    }
    if (!m_gb->canPlace(move.player, index)) {
        return false;
    }
    return !checkChoice || m_gb->checkChoice(index, move.choice);
}

bool Game::makeMove(const Move& move) {
    ++movenumber;
    LOG(Logging::loggerGame, lumber::DEBUG) << "Making move, " << move;
    LOG(Logging::loggerGame, lumber::TRACE) << "Current move is " << movenumber;

    const index_t index = m_gb->coords2index(move.x, move.y);

    if (move.player != next_turn) {
        if (!m_passive) {
            LOG(Logging::loggerGame, lumber::INFO) << "Disqualifying player: out of turn";
            // Not the current player's fault: the turn stays where it is.
            disqualify(move.player);
            return false;
        }
        const unsigned p = static_cast<unsigned>(move.player);
        if (p < 1 || p > nplayers) {
            // The board keeps counters for the map's players only.
            LOG(Logging::loggerGame, lumber::WARN)
                << "Move by unknown player " << move.player << " ignored (passive)";
            return false;
        }
        LOG(Logging::loggerGame, lumber::WARN)
            << "Out of turn move detected, but applying anyway (passive)";
        next_turn = move.player;
    }

    bool success = false;
    if (!is_terminal()) {
        success = m_gb->makeMove(move.player, index, move.choice, true);
    } else if (move.choice == MoveChoice::NONE) {
        success = m_gb->throwBomb(move.player, index, true);
    } else if (!m_passive) {
        LOG(Logging::loggerGame, lumber::INFO)
            << "Disqualifying player: choice not 0 on bomb throw";
    } else {
        LOG(Logging::loggerGame, lumber::INFO) << "Invalid choice detected, but ignoring (passive)";
        success = m_gb->throwBomb(move.player, index, true);
    }

    if (success || m_passive) {
        turn_inc();
        return success;
    }
    // The mover is the current player here, and disqualify passes the turn on by itself while
    // the game goes on; passing it again would skip the next player.
    disqualify(move.player);
    return false;
}

void Game::disqualify(Player p) {
    const unsigned number = static_cast<unsigned>(p);
    if (number < 1 || number > nplayers || disqualified[number - 1]) {
        return;
    }
    --valid_players;
    disqualified[number - 1] = true;
    m_gb->disqualify(p);

    m_validPlayers.clear();
    for (const Player q : m_players) {
        if (!is_disqualified(q)) {
            m_validPlayers.push_back(q);
        }
    }

    if (valid_players <= 1) {
        m_phase = GamePhase::FINAL;
    } else if (p == next_turn) {
        LOG(Logging::loggerGame, lumber::DEBUG) << "Current player disqualified, increment turn";
        turn_inc();
    }
    LOG(Logging::loggerGame, lumber::INFO) << "Disqualified player " << p;
}

Player Game::get_scores(int* scores) const {
    Player leader = Player::P_INVALID;
    int best = -1;
    for (const Player p : m_players) {
        const int score = is_disqualified(p) ? -1 : static_cast<int>(m_gb->getStoneCount(p));
        scores[static_cast<unsigned>(p) - 1] = score;
        if (score > best) {
            best = score;
            leader = p;
        }
    }
    return leader;
}

bool Game::calcNextMove(Move& move, bool apply) {
    const uint32_t boardsize = m_gb->getBoardSize();
    uint32_t from = 0;

    if (!move.isValid()) {
        move.player = next_turn;
        move.terminal = is_terminal();
        move.choice = MoveChoice::NONE;
    } else {
        assert(move.terminal == is_terminal());
        const index_t index = m_gb->coords2index(move.x, move.y);
        if (index == INVALID_INDEX) {
            move.player = Player::P_INVALID;
            return false;
        }
        if (!move.terminal) {
            // The other choices of a cell need no new board test: the test form of a stone
            // move does not look at the choice.
            switch (m_gb->get_square(index)) {
            case Square::CHOICE:
                assert(move.choice >= MoveChoice::PLAYER1 && move.choice <= MoveChoice::PLAYER_MAX);
                if (static_cast<unsigned>(move.choice) < nplayers) {
                    move.choice = static_cast<MoveChoice>(static_cast<unsigned>(move.choice) + 1);
                    return true;
                }
                break;
            case Square::BONUS:
                assert(move.choice == MoveChoice::BOMB || move.choice == MoveChoice::OVERRIDE);
                if (move.choice == MoveChoice::BOMB) {
                    move.choice = MoveChoice::OVERRIDE;
                    return true;
                }
                break;
            default:
                assert(move.choice == MoveChoice::NONE);
                break;
            }
        }
        from = static_cast<uint32_t>(index) + 1;
    }

    for (uint32_t i = from; i < boardsize; ++i) {
        const index_t index = static_cast<index_t>(i);
        bool legal = false;
        MoveChoice choice = MoveChoice::NONE;
        if (move.terminal) {
            legal = m_gb->throwBomb(move.player, index, apply);
        } else {
            choice = firstChoice(m_gb->get_square(index));
            legal = m_gb->makeMove(move.player, index, choice, apply);
        }
        if (legal) {
            uint16_t x = 0;
            uint16_t y = 0;
            m_gb->index2coords(index, x, y);
            move.x = x;
            move.y = y;
            move.choice = choice;
            return true;
        }
    }
    move.player = Player::P_INVALID;
    return false;
}

bool Game::nextMove(Move& move, bool apply) {
    const bool found = calcNextMove(move, apply);
    if (found && apply) {
        if (m_passive) {
            nextPlayer();
        } else {
            turn_inc();
        }
    }
    return found;
}

void Game::nextPlayer() {
    if (!m_passive) {
        assert(false);
        return;
    }
    if (valid_players == 0) {
        return;
    }
    do {
        next_turn = incrementPlayer(next_turn, nplayers);
    } while (is_disqualified(next_turn));
}

void Game::print_scores() const {
    std::array<int, 8> scores{};
    const Player leader = get_scores(scores.data());
    LOG(Logging::loggerGame, lumber::INFO) << "Scores:";
    for (const Player p : m_players) {
        const int score = scores[static_cast<unsigned>(p) - 1];
        if (is_disqualified(p)) {
            LOG(Logging::loggerGame, lumber::INFO) << "Player " << p << ": disqualified";
        } else if (p == leader) {
            LOG(Logging::loggerGame, lumber::INFO)
                << "Player " << p << ": " << score << " points and is currently leading";
        } else {
            LOG(Logging::loggerGame, lumber::INFO) << "Player " << p << ": " << score << " points";
        }
    }
}

std::string Game::getStatus() const {
    std::ostringstream os;
    os << next_turn << '\n';
    for (const Player p : m_players) {
        os << static_cast<unsigned>(m_gb->getOverrides(p)) << ' '
           << static_cast<unsigned>(m_gb->getBombs(p)) << ' ' << (is_disqualified(p) ? 1 : 0)
           << '\n';
    }
    return os.str();
}
