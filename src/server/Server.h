#pragma once

#include "Game.h"
#include "Move.h"
#include "Tool.h"
#include "Types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class ProtoClient;

/// The connection record of one player.
struct NetworkClient {
    /// The client's protocol endpoint, owned; null when the player has no connection.
    ProtoClient* m_proto = nullptr;
    /// Group id announced at admission; 255 marks a human client.
    uint8_t m_gid = 0;
    /// Remaining time budget in milliseconds.
    uint32_t m_msecs_left = 0;
    /// Player number given at admission.
    Player m_player = Player::P_INVALID;
};

/// Largest offset above the base port tried when opening the listening port.
constexpr uint32_t MAX_PORTS = 100;
/// Pause after a move, terminal or disqualification message went to all clients.
constexpr uint32_t SERVER_SAFETY_OFFSET_USECS = 100000;
/// Group id that marks a human client: no time limit applies to it.
constexpr uint8_t HUMAN_GROUP_ID = 255;

/// The match server: loads a map, admits one client per player and referees the game.
class Server : public Tool {
public:
    Server();
    /// Requires every endpoint to have been released (asserted).
    ~Server() override;

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// Declares the server's options, parses them and converts the time limit.
    bool parseOptions(knob::ArgumentParser& parser) override;
    /// Plays one whole match: true when the game was played to its end.
    bool doRun() override;

    /// Opens the port, admits one client per player, sends map and player numbers.
    /// False when no port could be opened or a client did not connect; every admitted
    /// endpoint has then been released.
    bool protocolInit(Game* game);

    void broadcast_move(Game* game, const Move& move);
    void broadcast_terminal(Game* game);
    void broadcast_fin(Game* game);
    /// Tells every valid player that `player` was disqualified; nothing before admission ends.
    void broadcast_disqualification(Game* game, Player player);
    /// Takes the player out of the game, tells it and the others, closes its connection.
    /// Harmless for a player already disqualified.
    void disqualify(Game* game, Player player, const char* reason);
    /// Deletes the player's endpoint (closing the connection), if it has one.
    void disconnect(Player player);
    /// Map name, then per player: group id, score, time left, "ok" or "disq.".
    std::string statusString(Game* game);

    /// The record of player p (1 to 8).
    NetworkClient& ptoc(Player p) { return m_clients[static_cast<size_t>(p)]; }

    uint32_t timeLimit() const { return m_timeLimit; }
    uint32_t depthLimit() const { return m_depthLimit; }
    uint16_t basePort() const { return m_basePort; }
    uint32_t waitSeconds() const { return m_zleep; }
    const std::string& mapName() const { return m_mapName; }

private:
    bool playGame(Game* game);
    /// Sends to every player valid when called, in ascending order, skipping players
    /// disqualified meanwhile; calls `failed` for each player whose send fails.
    void sendToValidPlayers(Game* game, const std::function<bool(ProtoClient&)>& send,
                            const std::function<void(Player)>& failed);
    void pause() const;

    std::string m_mapName = "-";
    uint32_t m_timeLimit = 0;
    uint32_t m_depthLimit = 0;
    uint16_t m_basePort = 7777;
    uint32_t m_zleep = 0;
    bool m_protocolStarted = false;
    std::array<NetworkClient, 9> m_clients{};
};
