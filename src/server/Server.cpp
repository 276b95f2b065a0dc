#include "Server.h"

#include "Logging.h"
#include "Map.h"
#include "ServerOptions.h"
#include "colors.h"

#include <cassert>
#include <memory>

namespace {

using Logging::loggerConsole;
using Logging::loggerMatchpoint;
using Logging::loggerServer;

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
