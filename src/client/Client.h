#pragma once
// The reference client program: connects to a match server, keeps its own passive copy of the
// game in step with the server's announcements and answers every move request with the move
// its strategy chooses.

#include "Game.h"
#include "Map.h"
#include "Protocol.h"
#include "Strategy.h"
#include "Tool.h"
#include "Types.h"

#include <cstdint>
#include <memory>
#include <string>

class Client : public Tool {
public:
    Client();
    ~Client() override;

    /// Declares the client's options (host, port, group id, strategy, seed, move time) before the
    /// basic options. False when the command line was refused.
    bool parseOptions(knob::ArgumentParser& parser) override;
    /// Plays one match. True after the server's end message; false when the server cannot be
    /// reached, goes away, breaks the protocol or disqualifies this client.
    bool doRun() override;

private:
    /// Each handler answers whether the match goes on; a false answer has been logged.
    bool onGameBoard(const ProtoClient& proto);
    bool onPlayerNumber(const ProtoClient& proto);
    bool onMoveRequest(ProtoClient& proto, const MoveLimits::Clock::time_point& received);
    bool onMoveAnnounce(const ProtoClient& proto);
    bool onDisqualification(const ProtoClient& proto);
    void onTerminal();
    /// Logs the final scores of the local game, one "Player N: X points" line per player.
    void logScores() const;

    std::string m_host = "localhost";
    uint16_t m_port = 7777;
    unsigned int m_groupId = 1;
    std::string m_strategyName = "search";
    unsigned int m_seed = 1;
    unsigned int m_moveTime = 250;

    std::unique_ptr<Strategy> m_strategy;
    std::unique_ptr<Map> m_map;
    std::unique_ptr<Game> m_game;
    Player m_me = Player::P_INVALID;
};
