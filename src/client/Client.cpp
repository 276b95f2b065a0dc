#include "Client.h"

#include "BasicOptions.h"
#include "Logging.h"
#include "Network.h"
#include "knob/Exceptions.h"
#include "knob/VariableArgument.h"

#include <chrono>
#include <vector>

namespace {

/// The largest group id: one byte on the wire.
constexpr unsigned int MAX_GROUP_ID = 255;

const char* const STRATEGY_NAMES = "random, greedy or search";

} // namespace

Client::Client() = default;
Client::~Client() = default;

bool Client::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> host("Connect to this $host (name or address)", m_host);
    host.valuename("name").alias('H');
    knob::VariableArgument<uint16_t> port("Connect to this &port", m_port);
    port.valuename("port number").check_typed(BasicOptions::refuseZeroPort);
    knob::VariableArgument<unsigned int> group("Send this &group id (0 to 255)", m_groupId);
    group.valuename("number").check_typed(
        [](const knob::TypedArgument<unsigned int>&, const unsigned int& value) {
            if (value > MAX_GROUP_ID) {
                throw knob::exception("Please choose a group id from 0 to 255.");
            }
        });
    knob::VariableArgument<std::string> strategy(
        std::string("Play with this &strategy: ") + STRATEGY_NAMES, m_strategyName);
    strategy.valuename("name").check_typed([](const knob::TypedArgument<std::string>&,
                                              const std::string& value) {
        if (!Strategy::known(value)) {
            throw knob::exception("Unknown strategy " + value + ": choose " + STRATEGY_NAMES + ".");
        }
    });
    knob::VariableArgument<unsigned int> seed("Random $seed of the random and greedy strategies",
                                              m_seed);
    seed.valuename("number");
    knob::VariableArgument<unsigned int> moveTime(
        "Give a search at most this &movetime (milliseconds)", m_moveTime);
    moveTime.valuename("msecs");

    parser.add(host).add(port).add(group).add(strategy).add(seed).add(moveTime);
    return Tool::parseOptions(parser);
}

bool Client::doRun() {
    m_strategy = Strategy::create(m_strategyName, m_seed, m_moveTime);
    if (!m_strategy) {
        LOG(Logging::loggerAI, lumber::FATAL) << "No strategy named " << m_strategyName;
        return false;
    }

    LOG(Logging::loggerAI, lumber::INFO) << "Connecting to " << m_host << " port " << m_port;
    auto* socket = new TcpClient();
    if (!socket->connect_to(m_host, m_port)) {
        socket->close();
        delete socket;
        LOG(Logging::loggerAI, lumber::ERR)
            << "Could not connect to the server at " << m_host << " port " << m_port;
        return false;
    }
    ProtoClient proto(socket);
    if (!proto.send_client_groupid(static_cast<uint8_t>(m_groupId))) {
        LOG(Logging::loggerAI, lumber::ERR) << "Could not send the group id: the server went away";
        return false;
    }
    LOG(Logging::loggerAI, lumber::INFO) << "Connected as group " << m_groupId;

    for (;;) {
        MsgType type = MsgType::FAIL;
        if (proto.receive_msg(type, false, 0) != MsgResult::OK) {
            LOG(Logging::loggerAI, lumber::ERR)
                << "The server went away (connection closed or message corrupt)";
            return false;
        }
        const auto received = MoveLimits::Clock::now();
        bool goOn = true;
        switch (type) {
        case MsgType::GAMEBOARD:
            goOn = onGameBoard(proto);
            break;
        case MsgType::CLIENT_PLAYERNUM:
            goOn = onPlayerNumber(proto);
            break;
        case MsgType::MOVEREQUEST:
            goOn = onMoveRequest(proto, received);
            break;
        case MsgType::MOVEANNOUNCE:
            goOn = onMoveAnnounce(proto);
            break;
        case MsgType::DISQUALIFICATION:
            goOn = onDisqualification(proto);
            break;
        case MsgType::TERMINAL:
            onTerminal();
            break;
        case MsgType::FIN:
            if (!m_game) {
                LOG(Logging::loggerAI, lumber::ERR) << "The server ended before the game began";
                return false;
            }
            LOG(Logging::loggerAI, lumber::INFO) << "The game is over";
            logScores();
            return true;
        default:
            LOG(Logging::loggerAI, lumber::ERR) << "Unexpected message from the server: " << type;
            return false;
        }
        if (!goOn) {
            return false;
        }
    }
}

bool Client::onGameBoard(const ProtoClient& proto) {
    if (m_map) {
        LOG(Logging::loggerAI, lumber::ERR) << "The server sent a second map";
        return false;
    }
    std::string text;
    proto.get_gameboard(text);
    m_map = std::make_unique<Map>();
    if (!m_map->loadFromString(text)) {
        LOG(Logging::loggerAI, lumber::ERR) << "The server sent a map that is not valid";
        return false;
    }
    m_game = std::make_unique<Game>(*m_map, true);
    LOG(Logging::loggerAI, lumber::INFO)
        << "Received a " << m_map->getPlayers() << "-player map of " << m_map->getHeight() << " x "
        << m_map->getWidth() << " cells";
    return true;
}

bool Client::onPlayerNumber(const ProtoClient& proto) {
    payload_client_playernum payload{};
    proto.get_client_playernum(payload);
    const unsigned number = static_cast<unsigned>(payload.player);
    if (!m_game || m_me != Player::P_INVALID || number < 1 || number > m_game->getNrPlayers()) {
        LOG(Logging::loggerAI, lumber::ERR)
            << "The server sent an unexpected player number " << number;
        return false;
    }
    m_me = payload.player;
    LOG(Logging::loggerAI, lumber::INFO)
        << "Playing as player " << m_me << " with the " << m_strategy->name() << " strategy";
    return true;
}

bool Client::onMoveRequest(ProtoClient& proto, const MoveLimits::Clock::time_point& received) {
    if (!m_game || m_me == Player::P_INVALID) {
        LOG(Logging::loggerAI, lumber::ERR)
            << "The server asked for a move before sending the map and the player number";
        return false;
    }
    payload_moverequest request{};
    proto.get_moverequest(request);
    if (m_game->getCurrentPlayer() != m_me) {
        LOG(Logging::loggerAI, lumber::WARN)
            << "Asked for a move while the local game expects player "
            << m_game->getCurrentPlayer();
    }
    MoveLimits limits;
    limits.timeLeft = request.timelimit;
    limits.depth = request.depthlimit;
    limits.received = received;
    Move move(0, 0, MoveChoice::NONE, m_me, m_game->is_terminal());
    if (!m_strategy->chooseMove(*m_game, m_me, limits, move)) {
        LOG(Logging::loggerAI, lumber::ERR) << "No legal move found; answering " << move;
    }
    if (!proto.send_move(move.x, move.y, move.choice)) {
        LOG(Logging::loggerAI, lumber::ERR) << "The server went away: the move could not be sent";
        return false;
    }
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(MoveLimits::Clock::now() - received);
    LOG(Logging::loggerAI, lumber::INFO)
        << "Answered " << move << " in " << spent.count() << " ms (time left " << request.timelimit
        << " ms, depth limit " << static_cast<unsigned>(request.depthlimit) << ")";
    return true;
}

bool Client::onMoveAnnounce(const ProtoClient& proto) {
    payload_moveannounce announce{};
    proto.get_moveannounce(announce);
    const unsigned mover = static_cast<unsigned>(announce.player);
    if (!m_game || mover < 1 || mover > m_game->getNrPlayers()) {
        LOG(Logging::loggerAI, lumber::ERR)
            << "The server announced a move of player " << mover << " out of place";
        return false;
    }
    const Move move(announce.x, announce.y, announce.choice, announce.player,
                    m_game->is_terminal());
    if (!m_game->makeMove(move)) {
        LOG(Logging::loggerAI, lumber::WARN)
            << "The local game refused the announced move " << move;
    } else {
        LOG(Logging::loggerAI, lumber::DEBUG) << "Announced: " << move;
    }
    return true;
}

bool Client::onDisqualification(const ProtoClient& proto) {
    payload_disqualification payload{};
    proto.get_disqualification(payload);
    // Before the player number arrives, a disqualification can only be this client's own.
    if (payload.player == m_me || m_me == Player::P_INVALID) {
        LOG(Logging::loggerAI, lumber::ERR) << "This client was disqualified by the server";
        return false;
    }
    const unsigned number = static_cast<unsigned>(payload.player);
    if (!m_game || number < 1 || number > m_game->getNrPlayers()) {
        LOG(Logging::loggerAI, lumber::ERR)
            << "The server disqualified an unknown player " << number;
        return false;
    }
    m_game->disqualify(payload.player);
    LOG(Logging::loggerAI, lumber::INFO) << "Player " << payload.player << " was disqualified";
    return true;
}

void Client::onTerminal() {
    LOG(Logging::loggerAI, lumber::INFO) << "The bombing phase begins";
    // The local game usually got there by itself with the last move.
    if (m_game && !m_game->is_terminal() && !m_game->is_final()) {
        m_game->force_terminal();
    }
}

void Client::logScores() const {
    std::vector<int> scores(m_game->getNrPlayers());
    const Player leader = m_game->get_scores(scores.data());
    LOG(Logging::loggerAI, lumber::INFO) << "Final scores:";
    unsigned leaders = 0;
    for (Player p : m_game->getPlayers()) {
        const int score = scores[static_cast<unsigned>(p) - 1];
        if (score < 0) {
            LOG(Logging::loggerAI, lumber::INFO) << "Player " << p << ": disqualified";
        } else {
            LOG(Logging::loggerAI, lumber::INFO) << "Player " << p << ": " << score << " points";
        }
        if (leader != Player::P_INVALID && score == scores[static_cast<unsigned>(leader) - 1]) {
            ++leaders;
        }
    }
    if (leaders > 1) {
        LOG(Logging::loggerAI, lumber::INFO) << "Draw between " << leaders << " players";
    } else if (leaders == 1) {
        LOG(Logging::loggerAI, lumber::INFO)
            << "Winner: player " << leader << (leader == m_me ? " (this client)" : "");
    }
}
