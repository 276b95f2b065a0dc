// Messages to every client, disqualification and the release of connections.

#include "Server.h"

#include "Logging.h"
#include "Protocol.h"
#include "ServerFacts.h"
#include "colors.h"

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Logging::loggerMatchpoint;
using Logging::loggerServer;

} // namespace

void Server::pause() const {
    std::this_thread::sleep_for(std::chrono::microseconds(SERVER_SAFETY_OFFSET_USECS));
}

void Server::broadcast_move(Game* game, const Move& move) {
    sendToValidPlayers(
        game,
        [&](ProtoClient& proto) {
            return proto.send_moveannounce(move.x, move.y, move.choice, move.player);
        },
        [&](Player q) { disqualify(game, q, ServerFacts::Reason::MOVE_NOT_PROPAGATED); });
    pause();
}

void Server::broadcast_terminal(Game* game) {
    LOG(loggerServer, lumber::INFO) << "Terminal state reached";
    sendToValidPlayers(
        game, [](ProtoClient& proto) { return proto.send_terminal(); },
        [&](Player q) { disqualify(game, q, ServerFacts::Reason::TERM_NOT_SENT); });
    pause();
}

void Server::broadcast_fin(Game* game) {
    LOG(loggerServer, lumber::INFO) << "Final state reached";
    sendToValidPlayers(
        game, [](ProtoClient& proto) { return proto.send_fin(); },
        [&](Player q) { disqualify(game, q, ServerFacts::Reason::FIN_NOT_SENT); });
}

void Server::broadcast_disqualification(Game* game, Player player) {
    if (!m_protocolStarted) {
        return;
    }
    sendToValidPlayers(
        game, [&](ProtoClient& proto) { return proto.send_disqualification(player); },
        [&](Player q) {
            LOG(loggerServer, lumber::INFO)
                << "Failed to propagate disqualification to player " << q;
            disqualify(game, q, ServerFacts::Reason::DISQUALIFICATION_NOT_PROPAGATED);
        });
    pause();
}

void Server::sendToValidPlayers(Game* game, const std::function<bool(ProtoClient&)>& send,
                                const std::function<void(Player)>& failed) {
    // A failed send disqualifies, and a disqualification announces itself to the others, so
    // the list is copied first and players disqualified meanwhile are skipped.
    for (const Player q : std::vector<Player>(game->getValidPlayers())) {
        if (game->is_disqualified(q)) {
            continue;
        }
        ProtoClient* proto = ptoc(q).m_proto;
        if (proto == nullptr || !send(*proto)) {
            failed(q);
        }
    }
}

void Server::disqualify(Game* game, Player player, const char* reason) {
    if (game->is_disqualified(player)) {
        return;
    }
    game->disqualify(player);
    LOG(loggerServer, lumber::INFO)
        << ansi::color(ansi::CT_BOLD, ansi::CFG_RED) << "Player " << player << " disqualified."
        << C_RESET << " (" << reason << ")";
    LOG(loggerMatchpoint, lumber::INFO)
        << "Player " << player << " disqualified (" << reason << ")\n";
    if (ProtoClient* proto = ptoc(player).m_proto) {
        proto->send_disqualification(player);
    }
    broadcast_disqualification(game, player);
    disconnect(player);
}

void Server::disconnect(Player player) {
    NetworkClient& client = ptoc(player);
    delete client.m_proto;
    client.m_proto = nullptr;
}

std::string Server::statusString(Game* game) {
    std::vector<int> scores(game->getNrPlayers(), 0);
    game->get_scores(scores.data());
    std::ostringstream text;
    text << game->getMap().getName() << "\n";
    for (const Player p : game->getPlayers()) {
        const NetworkClient& client = ptoc(p);
        text << static_cast<unsigned>(client.m_gid) << "\t" << scores[static_cast<size_t>(p) - 1]
             << "\t";
        if (m_timeLimit > 0) {
            text << client.m_msecs_left << "msecs";
        } else {
            text << "inf";
        }
        text << "\t" << (game->is_disqualified(p) ? "disq." : "ok") << "\n";
    }
    return text.str();
}
