#include "Server.h"

#include "GameBoard.h"
#include "Logging.h"
#include "Map.h"
#include "Network.h"
#include "Protocol.h"
#include "ServerOptions.h"
#include "colors.h"
#include "knob/ArgumentParser.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Logging::loggerConsole;
using Logging::loggerMatchpoint;
using Logging::loggerServer;

/// Highest port number; the port search never wraps past it.
constexpr uint32_t HIGHEST_PORT = 65535;

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

Server::Server() = default;

Server::~Server() {
    for (const NetworkClient& client : m_clients) {
        assert(client.m_proto == nullptr);
        (void)client;
    }
}

bool Server::parseOptions(knob::ArgumentParser& parser) {
    ServerOptions options(m_mapName, m_basePort, m_depthLimit, m_zleep);
    options.addTo(parser);
    if (!Tool::parseOptions(parser)) {
        return false;
    }
    m_timeLimit = options.timeLimitMsecs();
    return true;
}

bool Server::doRun() {
    LOG(loggerServer, lumber::INFO) << "Initializing server";
    if (m_mapName != "-") {
        LOG(loggerServer, lumber::INFO) << "Loading map " << m_mapName;
    } else {
        LOG(loggerServer, lumber::INFO) << "Loading map from stdin";
    }

    // The game refers to the map, so the map outlives it.
    Map map;
    if (!map.loadFromFile(m_mapName)) {
        LOG(loggerServer, lumber::FATAL) << "Error loading map";
        return false;
    }
    LOG(loggerServer, lumber::INFO) << "The map is a " << map.getPlayers() << "-player map";

    std::unique_ptr<Game> game(new Game(map, false));
    if (game->is_final()) {
        LOG(loggerServer, lumber::FATAL) << "Map is final, nothing to do.";
        LOG(loggerMatchpoint, lumber::INFO) << "Map is final\n";
        return false;
    }

    if (!protocolInit(game.get())) {
        LOG(loggerServer, lumber::FATAL) << "Server init failed";
        LOG(loggerMatchpoint, lumber::INFO) << "bye bye\n";
        return false;
    }

    LOG(loggerServer, lumber::INFO) << "Init OK, starting game";
    LOG(loggerServer, lumber::INFO) << "timelimit " << m_timeLimit;
    LOG(loggerServer, lumber::INFO) << "depthlimit " << m_depthLimit;
    LOG(loggerServer, lumber::INFO) << "Current map:\n" << game->getMap();
    LOG(loggerMatchpoint, lumber::INFO) << "Game started";
    if (game->is_terminal()) {
        LOG(loggerConsole, lumber::INFO) << "Bombing-only map...";
    }
    LOG(loggerServer, lumber::DEBUG) << "Entering game loop";

    return playGame(game.get());
}

bool Server::playGame(Game* game) {
    bool known_terminal = false;
    for (;;) {
        const Player currentPlayer = game->getCurrentPlayer();
        NetworkClient& currentClient = ptoc(currentPlayer);

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

        currentClient.m_msecs_left = addSaturated(currentClient.m_msecs_left, m_timeLimit);
        const GameBoard& board = game->getBoard();
        LOG(loggerServer, lumber::INFO)
            << "Player " << currentPlayer << " has "
            << static_cast<unsigned>(board.getOverrides(currentPlayer)) << " overrides and "
            << static_cast<unsigned>(board.getBombs(currentPlayer)) << " bombs";
        LOG(loggerServer, lumber::INFO)
            << "Sending move request to player " << currentPlayer << " with depth " << m_depthLimit
            << ", time left: " << currentClient.m_msecs_left << " msecs.";
        LOG(loggerMatchpoint, lumber::INFO)
            << "Sending move request to player " << currentPlayer << " with depth " << m_depthLimit
            << ", time left: " << currentClient.m_msecs_left << " msecs.\n";

        // The depth field is one byte wide: the low 8 bits go out.
        const auto depthByte = static_cast<uint8_t>(m_depthLimit & 0xFFu);
        if (!currentClient.m_proto->send_moverequest(currentClient.m_msecs_left, depthByte)) {
            disqualify(game, currentPlayer, "Failed to send moverequest to player");
            continue;
        }

        MsgType msgType = MsgType::MOVE;
        payload_move payloadMove{};
        MsgResult msgResult;
        uint32_t dt = 0;
        const bool timed = m_timeLimit > 0 && currentClient.m_gid != HUMAN_GROUP_ID;
        if (timed) {
            // Only the wait for the answer counts against the player.
            const auto starttime = std::chrono::steady_clock::now();
            msgResult =
                currentClient.m_proto->receive_msg(msgType, true, currentClient.m_msecs_left);
            const auto endtime = std::chrono::steady_clock::now();
            dt = elapsedMsecs(starttime, endtime);
        } else {
            if (m_timeLimit > 0) {
                LOG(loggerConsole, lumber::INFO) << "Timelimit will not apply to human client!";
            }
            msgResult = currentClient.m_proto->receive_msg(msgType, true, 0);
        }
        if (msgResult == MsgResult::OK) {
            msgResult = currentClient.m_proto->get_move(payloadMove);
        }

        switch (msgResult) {
        case MsgResult::OK:
            break;
        case MsgResult::FAIL:
            LOG(loggerServer, lumber::INFO) << "Failed to receive message.";
            disqualify(game, currentPlayer, "receive failed");
            continue;
        case MsgResult::TIMEOUT:
            LOG(loggerServer, lumber::INFO)
                << ansi::color(ansi::CT_BOLD, ansi::CFG_YELLOW) << "timeout detected!" << C_RESET;
            disqualify(game, currentPlayer, "timeout during move");
            continue;
        case MsgResult::TYPE:
            LOG(loggerServer, lumber::INFO) << ansi::color(ansi::CT_BOLD, ansi::CFG_YELLOW)
                                            << "Incorrect message received" << C_RESET;
            disqualify(game, currentPlayer, "wrong message");
            continue;
        }

        if (timed) {
            if (dt > currentClient.m_msecs_left) {
                LOG(loggerServer, lumber::INFO)
                    << ansi::color(ansi::CT_BOLD, ansi::CFG_YELLOW)
                    << "timeout detected! (dt>msecs_left; dt=" << dt
                    << "ms, msecs_left=" << currentClient.m_msecs_left << "ms)" << C_RESET;
                disqualify(game, currentPlayer, "timeout during move");
                continue;
            }
            currentClient.m_msecs_left -= dt;
        }

        const Move move(payloadMove.x, payloadMove.y, payloadMove.choice, currentPlayer,
                        game->is_terminal());
        LOG(loggerServer, lumber::INFO)
            << "Received move " << game->get_movenumber() << ": " << move
            << ". time left: " << currentClient.m_msecs_left << "msecs";
        LOG(loggerMatchpoint, lumber::INFO)
            << "Answer from player " << currentPlayer << " for move " << game->get_movenumber()
            << " was (x,y,c) = (" << move.x << "," << move.y << "," << move.choice
            << "); time left: " << currentClient.m_msecs_left << "msecs.\n";

        if (game->checkMove(move, true)) {
            if (!game->makeMove(move)) {
                // A move the rules accepted must apply; anything else is a fault of the rules.
                LOG(loggerServer, lumber::FATAL) << "Checked move was refused: " << move;
                std::abort();
            }
            broadcast_move(game, move);
            LOG(loggerMatchpoint, lumber::INFO) << "Board\n";
            LOG(loggerMatchpoint, lumber::INFO) << game->getBoard().asSimpleString();
        } else {
            std::ostringstream reason;
            reason << "Invalid move: " << move << ". time left: " << currentClient.m_msecs_left
                   << " msecs";
            disqualify(game, currentPlayer, reason.str().c_str());
        }
    }

    broadcast_fin(game);
    LOG(loggerConsole, lumber::INFO)
        << ansi::color(ansi::CT_BOLD, ansi::CFG_BLUE) << "Final state reached." << C_RESET;
    LOG(loggerMatchpoint, lumber::INFO) << "Final state reached\n";
    game->print_scores();
    for (const Player p : std::vector<Player>(game->getValidPlayers())) {
        disconnect(p);
    }
    return true;
}

bool Server::protocolInit(Game* game) {
    LOG(loggerServer, lumber::INFO) << "Starting Server.";
    TcpServer master;
    LOG(loggerServer, lumber::INFO) << "Opening port...";
    LOG(loggerMatchpoint, lumber::INFO) << "Opening port...";

    uint32_t portOffset = 0;
    uint16_t port = 0;
    for (;;) {
        const uint32_t candidate = static_cast<uint32_t>(m_basePort) + portOffset;
        if (candidate <= HIGHEST_PORT) {
            port = static_cast<uint16_t>(candidate);
            if (master.open_port(port)) {
                break;
            }
        }
        ++portOffset;
        if (portOffset > MAX_PORTS ||
            static_cast<uint32_t>(m_basePort) + portOffset > HIGHEST_PORT) {
            LOG(loggerMatchpoint, lumber::INFO) << "FAILED\n";
            LOG(loggerServer, lumber::FATAL) << "Could not open port.";
            return false;
        }
    }
    LOG(loggerMatchpoint, lumber::INFO) << "OK. Port number is " << port << "\n";
    LOG(loggerServer, lumber::INFO) << "Server is listening on port " << port;
    LOG(loggerServer, lumber::INFO) << "Waiting for clients";

    // The wait option is in seconds; a product beyond 32 bits waits as long as it can
    // instead of wrapping to a short (or unlimited) wait.
    const uint64_t waitMsecs = static_cast<uint64_t>(m_zleep) * 1000u;
    const auto acceptMsecs = static_cast<unsigned long>(
        std::min<uint64_t>(waitMsecs, std::numeric_limits<uint32_t>::max()));

    uint32_t connectedClients = 0;
    Player currentPlayer = Player::P1;
    while (connectedClients < game->getNrPlayers()) {
        LOG(loggerServer, lumber::INFO)
            << "Waiting for client " << connectedClients << " to connect...";
        LOG(loggerMatchpoint, lumber::INFO)
            << "Waiting client " << connectedClients << " to connect...";
        TcpSocket* socket = master.accept(acceptMsecs);
        if (socket == nullptr) {
            LOG(loggerMatchpoint, lumber::INFO) << "Failed\n";
            LOG(loggerServer, lumber::FATAL) << "Could not accept connection";
            master.close();
            for (uint32_t k = 1; k <= connectedClients; ++k) {
                disconnect(static_cast<Player>(k));
            }
            return false;
        }
        ++connectedClients;
        NetworkClient& client = ptoc(static_cast<Player>(connectedClients));
        client.m_proto = new ProtoClient(socket);
        LOG(loggerMatchpoint, lumber::INFO) << "OK\n";
        LOG(loggerServer, lumber::INFO) << "Client connected";
        client.m_player = currentPlayer;
        LOG(loggerServer, lumber::INFO) << "Client is player " << currentPlayer;
        currentPlayer = static_cast<Player>(static_cast<unsigned>(currentPlayer) + 1);
    }
    master.close();

    for (const Player p : std::vector<Player>(game->getValidPlayers())) {
        if (game->is_disqualified(p)) {
            continue;
        }
        LOG(loggerServer, lumber::INFO) << "Waiting for group id of player " << p;
        NetworkClient& client = ptoc(p);
        MsgType msgType = MsgType::CLIENT_GROUPID;
        payload_client_groupid groupid{};
        MsgResult result = client.m_proto->receive_msg(msgType, true, 0);
        if (result == MsgResult::OK) {
            result = client.m_proto->get_client_groupid(groupid);
        }
        if (result != MsgResult::OK) {
            LOG(loggerServer, lumber::ERR) << "Failed to receive msg";
            disqualify(game, p, "Failed to receive group id");
            continue;
        }
        client.m_gid = groupid.groupid;
        LOG(loggerServer, lumber::INFO)
            << "OK, got a group: " << static_cast<unsigned>(client.m_gid);
    }

    for (uint32_t k = 1; k <= connectedClients; ++k) {
        const NetworkClient& client = ptoc(static_cast<Player>(k));
        LOG(loggerServer, lumber::INFO)
            << "Client " << k << " connected as player " << client.m_player << " with group "
            << static_cast<unsigned>(client.m_gid);
    }

    std::ostringstream mapStream;
    mapStream << game->getMap();
    const std::string mapText = mapStream.str();
    for (const Player p : std::vector<Player>(game->getValidPlayers())) {
        if (game->is_disqualified(p)) {
            continue;
        }
        LOG(loggerServer, lumber::INFO) << "Sending data to player " << p;
        ProtoClient* proto = ptoc(p).m_proto;
        if (!proto->send_gameboard(mapText) || !proto->send_client_playernum(p)) {
            LOG(loggerServer, lumber::ERR) << "FAILED. Terminating.";
            disqualify(game, p, "Failed to send board");
        }
    }

    std::this_thread::sleep_for(std::chrono::seconds(1));
    m_protocolStarted = true;
    for (const Player p : game->getPlayers()) {
        if (game->is_disqualified(p)) {
            broadcast_disqualification(game, p);
        }
    }
    return true;
}

void Server::pause() const {
    std::this_thread::sleep_for(std::chrono::microseconds(SERVER_SAFETY_OFFSET_USECS));
}

void Server::broadcast_move(Game* game, const Move& move) {
    sendToValidPlayers(
        game,
        [&](ProtoClient& proto) {
            return proto.send_moveannounce(move.x, move.y, move.choice, move.player);
        },
        [&](Player q) { disqualify(game, q, "Failed to propagate move"); });
    pause();
}

void Server::broadcast_terminal(Game* game) {
    LOG(loggerServer, lumber::INFO) << "Terminal state reached";
    sendToValidPlayers(
        game, [](ProtoClient& proto) { return proto.send_terminal(); },
        [&](Player q) { disqualify(game, q, "Failed to send TERM to player"); });
    pause();
}

void Server::broadcast_fin(Game* game) {
    LOG(loggerServer, lumber::INFO) << "Final state reached";
    sendToValidPlayers(
        game, [](ProtoClient& proto) { return proto.send_fin(); },
        [&](Player q) { disqualify(game, q, "Failed to send FIN to player"); });
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
            disqualify(game, q, "Failed to propagate disqualification to player");
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
