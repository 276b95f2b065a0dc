// The game: one turn is a move request and the judging of its answer.

#include "Server.h"

#include "GameBoard.h"
#include "Logging.h"
#include "Protocol.h"
#include "ServerFacts.h"
#include "colors.h"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <vector>

namespace {

using Logging::loggerConsole;
using Logging::loggerMatchpoint;
using Logging::loggerServer;

uint32_t elapsedMsecs(std::chrono::steady_clock::time_point start,
                      std::chrono::steady_clock::time_point end) {
    const auto msecs = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    if (msecs <= 0) {
        return 0;
    }
    return msecs > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(msecs);
}

/// a + b, held at the largest budget instead of wrapping round to a small one.
uint32_t addSaturated(uint32_t a, uint32_t b) {
    const uint32_t most = std::numeric_limits<uint32_t>::max();
    return b > most - a ? most : a + b;
}

} // namespace

bool Server::playGame(Game* game) {
    bool known_terminal = false;
    for (;;) {
        const Player currentPlayer = game->getCurrentPlayer();
        LOG(loggerConsole, lumber::INFO) << "Current board:\n"
                                         << game->getBoard().asString(currentPlayer, true, true);

        if (!known_terminal && game->is_terminal()) {
            known_terminal = true;
            LOG(loggerConsole, lumber::INFO) << ansi::color(ansi::CT_BOLD, ansi::CFG_BLUE)
                                             << "Terminal state reached." << C_RESET;
            LOG(loggerMatchpoint, lumber::INFO) << "Terminal state reached\n";
            broadcast_terminal(game);
            game->print_scores();
        }

        if (game->is_final()) {
            break;
        }
        // The announcement of the bombing phase can cost the player in turn its place (a
        // failed send); its endpoint is gone then, and the turn has moved on.
        if (game->is_disqualified(currentPlayer)) {
            continue;
        }
        judgeAnswer(game, currentPlayer, requestMove(game, currentPlayer));
    }
    endMatch(game);
    return true;
}

Server::MoveAnswer Server::requestMove(Game* game, Player player) {
    using Outcome = MoveAnswer::Outcome;
    NetworkClient& client = ptoc(player);
    MoveAnswer answer;

    client.m_msecs_left = addSaturated(client.m_msecs_left, m_timeLimit);
    const GameBoard& board = game->getBoard();
    LOG(loggerServer, lumber::INFO)
        << "Player " << player << " has " << static_cast<unsigned>(board.getOverrides(player))
        << " overrides and " << static_cast<unsigned>(board.getBombs(player)) << " bombs";
    LOG(loggerServer, lumber::INFO)
        << "Sending move request to player " << player << " with depth " << m_depthLimit
        << ", time left: " << client.m_msecs_left << " msecs.";
    LOG(loggerMatchpoint, lumber::INFO)
        << "Sending move request to player " << player << " with depth " << m_depthLimit
        << ", time left: " << client.m_msecs_left << " msecs.\n";

    // The depth field is one byte wide: the low 8 bits go out.
    const auto depthByte = static_cast<uint8_t>(m_depthLimit & 0xFFu);
    if (!client.m_proto->send_moverequest(client.m_msecs_left, depthByte)) {
        answer.outcome = Outcome::SEND_FAILED;
        return answer;
    }

    MsgType msgType = MsgType::MOVE;
    MsgResult result;
    const bool timed = m_timeLimit > 0 && client.m_gid != ServerFacts::UNTIMED_GROUP_ID;
    if (timed) {
        // Only the wait for the answer counts against the player.
        const auto starttime = std::chrono::steady_clock::now();
        result = client.m_proto->receive_msg(msgType, true, client.m_msecs_left);
        const auto endtime = std::chrono::steady_clock::now();
        answer.msecs = elapsedMsecs(starttime, endtime);
    } else {
        if (m_timeLimit > 0) {
            LOG(loggerConsole, lumber::INFO) << "Timelimit will not apply to human client!";
        }
        result = client.m_proto->receive_msg(msgType, true, 0);
    }
    if (result == MsgResult::OK) {
        result = client.m_proto->get_move(answer.move);
    }

    if (result != MsgResult::OK) {
        answer.outcome = result == MsgResult::TIMEOUT ? Outcome::TIMEOUT
                         : result == MsgResult::TYPE  ? Outcome::WRONG_MESSAGE
                                                      : Outcome::RECEIVE_FAILED;
        return answer;
    }
    if (timed) {
        // A measured time equal to the budget is still in time and leaves 0.
        if (answer.msecs > client.m_msecs_left) {
            answer.outcome = Outcome::LATE;
            return answer;
        }
        client.m_msecs_left -= answer.msecs;
    }
    answer.outcome = Outcome::MOVE;
    return answer;
}

void Server::judgeAnswer(Game* game, Player player, const MoveAnswer& answer) {
    const NetworkClient& client = ptoc(player);
    switch (answer.outcome) {
    case MoveAnswer::Outcome::MOVE:
        break;
    case MoveAnswer::Outcome::SEND_FAILED:
        disqualify(game, player, ServerFacts::Reason::REQUEST_NOT_SENT);
        return;
    case MoveAnswer::Outcome::RECEIVE_FAILED:
        LOG(loggerServer, lumber::INFO) << "Failed to receive message.";
        disqualify(game, player, ServerFacts::Reason::RECEIVE_FAILED);
        return;
    case MoveAnswer::Outcome::TIMEOUT:
        LOG(loggerServer, lumber::INFO)
            << ansi::color(ansi::CT_BOLD, ansi::CFG_YELLOW) << "timeout detected!" << C_RESET;
        disqualify(game, player, ServerFacts::Reason::TIMEOUT);
        return;
    case MoveAnswer::Outcome::WRONG_MESSAGE:
        LOG(loggerServer, lumber::INFO) << ansi::color(ansi::CT_BOLD, ansi::CFG_YELLOW)
                                        << "Incorrect message received" << C_RESET;
        disqualify(game, player, ServerFacts::Reason::WRONG_MESSAGE);
        return;
    case MoveAnswer::Outcome::LATE:
        LOG(loggerServer, lumber::INFO)
            << ansi::color(ansi::CT_BOLD, ansi::CFG_YELLOW)
            << "timeout detected! (dt>msecs_left; dt=" << answer.msecs
            << "ms, msecs_left=" << client.m_msecs_left << "ms)" << C_RESET;
        disqualify(game, player, ServerFacts::Reason::TIMEOUT);
        return;
    }

    const Move move(answer.move.x, answer.move.y, answer.move.choice, player, game->is_terminal());
    LOG(loggerServer, lumber::INFO) << "Received move " << game->get_movenumber() << ": " << move
                                    << ". time left: " << client.m_msecs_left << "msecs";
    LOG(loggerMatchpoint, lumber::INFO)
        << "Answer from player " << player << " for move " << game->get_movenumber()
        << " was (x,y,c) = (" << move.x << "," << move.y << "," << move.choice
        << "); time left: " << client.m_msecs_left << "msecs.\n";

    if (!game->checkMove(move, true)) {
        std::ostringstream reason;
        reason << ServerFacts::Reason::INVALID_MOVE << ": " << move
               << ". time left: " << client.m_msecs_left << " msecs";
        disqualify(game, player, reason.str().c_str());
        return;
    }
    if (!game->makeMove(move)) {
        // A move the rules accepted must apply; anything else is a fault of the rules.
        LOG(loggerServer, lumber::FATAL) << "Checked move was refused: " << move;
        std::abort();
    }
    broadcast_move(game, move);
    LOG(loggerMatchpoint, lumber::INFO) << "Board\n";
    LOG(loggerMatchpoint, lumber::INFO) << game->getBoard().asSimpleString();
}

void Server::endMatch(Game* game) {
    broadcast_fin(game);
    LOG(loggerConsole, lumber::INFO)
        << ansi::color(ansi::CT_BOLD, ansi::CFG_BLUE) << "Final state reached." << C_RESET;
    LOG(loggerMatchpoint, lumber::INFO) << "Final state reached\n";
    game->print_scores();
    for (const Player p : std::vector<Player>(game->getValidPlayers())) {
        disconnect(p);
    }
}
