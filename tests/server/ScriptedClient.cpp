#include "ScriptedClient.h"

#include "Network.h"
#include "Protocol.h"

#include <chrono>
#include <sstream>

#include <sys/socket.h>

/// A client socket whose close can reset the connection.
class ResettableClient : public TcpClient {
public:
    /// Makes the coming close() send a reset instead of an orderly end.
    void resetOnClose() const {
        const linger immediately{1, 0};
        ::setsockopt(m_sock, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    }
};

namespace {

/// Longest wait for the server's next message before the client gives up.
constexpr unsigned long PATIENCE_MSECS = 20000;

unsigned num(Player p) {
    return static_cast<unsigned>(p);
}
unsigned num(MoveChoice c) {
    return static_cast<unsigned>(c);
}

} // namespace

Answer Answer::move(uint16_t x, uint16_t y, MoveChoice choice, unsigned delayMsecs) {
    Answer answer;
    answer.x = x;
    answer.y = y;
    answer.choice = choice;
    answer.delayMsecs = delayMsecs;
    return answer;
}

ScriptedClient::ScriptedClient(uint8_t groupId, std::vector<Answer> answers)
    : m_groupId(groupId), m_answers(std::move(answers)) {}

ScriptedClient::~ScriptedClient() {
    join();
}

bool ScriptedClient::connect(uint16_t port, const std::string& host) {
    auto* socket = new ResettableClient;
    if (!socket->connect_to(host, port)) {
        delete socket;
        return false;
    }
    m_socket = socket;
    m_proto = std::make_unique<ProtoClient>(socket);
    return true;
}

void ScriptedClient::start() {
    m_thread = std::thread([this] { run(); });
}

void ScriptedClient::join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ScriptedClient::run() {
    if (!m_proto) {
        return;
    }
    const auto startTime = std::chrono::steady_clock::now();
    if (m_moveAsGroupId) {
        m_proto->send_move(0, 0, MoveChoice::NONE);
    } else {
        m_proto->send_client_groupid(m_groupId);
    }

    size_t nextAnswer = 0;
    while (m_proto) {
        MsgType type = MsgType::FAIL;
        const MsgResult result = m_proto->receive_msg(type, false, PATIENCE_MSECS);
        m_arrivals.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - startTime)
                                 .count());
        if (result != MsgResult::OK) {
            m_messages.push_back(result == MsgResult::TIMEOUT ? "silent" : "closed");
            return;
        }
        if (type == MsgType::GAMEBOARD) {
            m_proto->get_gameboard(m_mapText);
        } else if (type == MsgType::MOVEREQUEST) {
            payload_moverequest request{};
            m_proto->get_moverequest(request);
            m_requestTimes.push_back(request.timelimit);
        }
        m_messages.push_back(transcriptLine(*m_proto, type));
        if (!m_resetAfter.empty() && m_messages.back() == m_resetAfter) {
            m_socket->resetOnClose();
            m_proto.reset();
            return;
        }

        if (type == MsgType::MOVEREQUEST) {
            if (nextAnswer < m_answers.size()) {
                answer(m_answers[nextAnswer++]);
            } else {
                m_proto.reset();
            }
        }
    }
}

void ScriptedClient::answer(const Answer& answer) {
    if (answer.delayMsecs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMsecs));
    }
    switch (answer.kind) {
    case Answer::Kind::Move:
        m_proto->send_move(answer.x, answer.y, answer.choice);
        break;
    case Answer::Kind::WrongType:
        m_proto->send_client_groupid(m_groupId);
        break;
    case Answer::Kind::CorruptHeader: {
        const uint8_t payload[4] = {0, 0, 0, 0};
        m_proto->send_msg(MsgType::MOVE, payload, sizeof payload);
        break;
    }
    case Answer::Kind::Close:
        m_proto.reset();
        break;
    }
}

std::string transcriptLine(const ProtoClient& proto, MsgType type) {
    std::ostringstream text;
    switch (type) {
    case MsgType::GAMEBOARD:
        text << "GAMEBOARD";
        break;
    case MsgType::CLIENT_PLAYERNUM: {
        payload_client_playernum payload{};
        proto.get_client_playernum(payload);
        text << "PLAYERNUM " << num(payload.player);
        break;
    }
    case MsgType::MOVEREQUEST: {
        payload_moverequest payload{};
        proto.get_moverequest(payload);
        text << "MOVEREQUEST " << payload.timelimit << " "
             << static_cast<unsigned>(payload.depthlimit);
        break;
    }
    case MsgType::MOVEANNOUNCE: {
        payload_moveannounce payload{};
        proto.get_moveannounce(payload);
        text << "MOVEANNOUNCE " << payload.x << " " << payload.y << " " << num(payload.choice)
             << " " << num(payload.player);
        break;
    }
    case MsgType::DISQUALIFICATION: {
        payload_disqualification payload{};
        proto.get_disqualification(payload);
        text << "DISQUALIFICATION " << num(payload.player);
        break;
    }
    case MsgType::TERMINAL:
        text << "TERMINAL";
        break;
    case MsgType::FIN:
        text << "FIN";
        break;
    default:
        text << "unexpected " << static_cast<unsigned>(type);
        break;
    }
    return text.str();
}

bool connectAndStart(const std::vector<ScriptedClient*>& clients, uint16_t port) {
    for (ScriptedClient* client : clients) {
        if (!client->connect(port)) {
            return false;
        }
    }
    for (ScriptedClient* client : clients) {
        client->start();
    }
    return true;
}

ServerResult playMatch(const std::string& map, std::vector<std::string> args,
                       const std::vector<ScriptedClient*>& clients) {
    ServerResult result;
    {
        ServerProcess server;
        args.insert(args.begin(), {server.writeMap(map), "-b", std::to_string(freePort())});
        if (server.start(args)) {
            const uint16_t port = server.waitForPort(10000);
            if (port != 0 && connectAndStart(clients, port)) {
                result = server.finish(30000);
            }
        }
        if (!result.exited) {
            result = server.finish(0);
        }
    }
    for (ScriptedClient* client : clients) {
        client->join();
    }
    return result;
}
