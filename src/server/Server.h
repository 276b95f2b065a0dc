#pragma once

#include "Game.h"
#include "Move.h"
#include "Protocol.h"
#include "Tool.h"
#include "Types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

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

/// Pause after a move, terminal or disqualification message went to all clients.
constexpr uint32_t SERVER_SAFETY_OFFSET_USECS = 100000;

/// The match server: loads a map, admits one client per player and referees the game.
///
/// The referee's steps: admission (protocolInit) opens the port, accepts one client per
/// player, collects their group ids and sends each the map and its number; then every turn is
/// a move request (requestMove, which keeps the player's time budget) followed by judging the
/// answer (judgeAnswer: check, apply and announce the move, or disqualify the player).
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

    // Broadcasts. Each sends to every player valid when it starts, in ascending order, once,
    // skipping players disqualified meanwhile; a player whose send fails is disqualified (which
    // announces it to the others) and the broadcast goes on with the next player.

    /// Announces the move (its x, y, choice and player) to every valid player, the mover
    /// included; reason on a failed send "Failed to propagate move". Pauses 100 ms afterwards.
    void broadcast_move(Game* game, const Move& move);
    /// Logs "Terminal state reached" and tells every valid player that the bombing phase
    /// begins; reason on a failed send "Failed to send TERM to player". Pauses 100 ms
    /// afterwards.
    void broadcast_terminal(Game* game);
    /// Logs "Final state reached" and sends the end message to every valid player; reason on a
    /// failed send "Failed to send FIN to player". Does not pause.
    void broadcast_fin(Game* game);
    /// Tells every valid player that `player` was disqualified, then pauses 100 ms; an
    /// unreachable player is disqualified in turn ("Failed to propagate disqualification to
    /// player"). Does nothing, and does not pause, before admission has ended.
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
    /// What became of one move request.
    struct MoveAnswer {
        enum class Outcome {
            MOVE,           // a move came in time
            SEND_FAILED,    // the request could not be sent
            RECEIVE_FAILED, // the connection or the message broke
            TIMEOUT,        // the receive ran out of time
            WRONG_MESSAGE,  // another message than a move came
            LATE,           // a move came, but after the budget
        };
        Outcome outcome = Outcome::RECEIVE_FAILED;
        payload_move move{};
        /// The measured wait in whole milliseconds; 0 when the wait was not timed.
        uint32_t msecs = 0;
    };

    // Admission, in this order.

    /// Opens the first port from the base port on that can be opened; false after the last.
    bool openPort(TcpServer& master);
    /// Accepts one client per player, numbered in order of arrival. False when one did not
    /// come; the listening socket is closed and the admitted clients released then.
    bool acceptClients(Game* game, TcpServer& master);
    /// Waits, without limit, for each valid player's group id; disqualifies on failure.
    void collectGroupIds(Game* game);
    /// Sends each valid player the map text and its number; disqualifies on failure.
    void sendMapAndNumbers(Game* game);
    /// After a pause, marks admission over and announces its disqualifications.
    void startProtocol(Game* game);

    // The game.

    /// Plays turns until the game is final, then ends the match. Always true.
    bool playGame(Game* game);
    /// Credits the player's budget, sends the request and waits for the answer (timed unless
    /// the match is untimed or the client human); a move in time is charged to the budget.
    MoveAnswer requestMove(Game* game, Player player);
    /// Applies and announces a legal move; disqualifies the player for anything else.
    void judgeAnswer(Game* game, Player player, const MoveAnswer& answer);
    /// Tells the clients, prints the scores and releases every endpoint.
    void endMatch(Game* game);

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
