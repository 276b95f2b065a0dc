// Admission: the listening port, the clients, their group ids, the map and player numbers.

#include "Server.h"

#include "Logging.h"
#include "Network.h"
#include "Protocol.h"
#include "ServerFacts.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Logging::loggerMatchpoint;
using Logging::loggerServer;

/// Highest port number; the port search never wraps past it.
constexpr uint32_t HIGHEST_PORT = 65535;

} // namespace

bool Server::protocolInit(Game* game) {
    LOG(loggerServer, lumber::INFO) << "Starting Server.";
    TcpServer master;
    if (!openPort(master) || !acceptClients(game, master)) {
        return false;
    }
    collectGroupIds(game);
    for (uint32_t k = 1; k <= game->getNrPlayers(); ++k) {
        const NetworkClient& client = ptoc(static_cast<Player>(k));
        LOG(loggerServer, lumber::INFO)
            << "Client " << k << " connected as player " << client.m_player << " with group "
            << static_cast<unsigned>(client.m_gid);
    }
    sendMapAndNumbers(game);
    startProtocol(game);
    return true;
}

bool Server::openPort(TcpServer& master) {
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
        if (portOffset > ServerFacts::MAX_PORTS ||
            static_cast<uint32_t>(m_basePort) + portOffset > HIGHEST_PORT) {
            LOG(loggerMatchpoint, lumber::INFO) << "FAILED\n";
            LOG(loggerServer, lumber::FATAL) << "Could not open port.";
            return false;
        }
    }
    LOG(loggerMatchpoint, lumber::INFO) << "OK. Port number is " << port << "\n";
    LOG(loggerServer, lumber::INFO) << "Server is listening on port " << port;
    return true;
}

bool Server::acceptClients(Game* game, TcpServer& master) {
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
    return true;
}

void Server::collectGroupIds(Game* game) {
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
            disqualify(game, p, ServerFacts::Reason::NO_GROUP_ID);
            continue;
        }
        client.m_gid = groupid.groupid;
        LOG(loggerServer, lumber::INFO)
            << "OK, got a group: " << static_cast<unsigned>(client.m_gid);
    }
}

void Server::sendMapAndNumbers(Game* game) {
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
            disqualify(game, p, ServerFacts::Reason::BOARD_NOT_SENT);
        }
    }
}

void Server::startProtocol(Game* game) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    m_protocolStarted = true;
    // Disqualifications during admission were told only to the player concerned.
    for (const Player p : game->getPlayers()) {
        if (game->is_disqualified(p)) {
            broadcast_disqualification(game, p);
        }
    }
}
