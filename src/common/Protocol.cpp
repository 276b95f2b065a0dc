#include "Protocol.h"

#include "Logging.h"

#include <arpa/inet.h>

#include <cstring>
#include <new>
#include <utility>

namespace {

// The name of every message type in logs and test transcripts.
constexpr std::pair<MsgType, const char*> MESSAGE_NAMES[] = {
    {MsgType::CLIENT_GROUPID, "GROUPID"},
    {MsgType::GAMEBOARD, "GAMEBOARD"},
    {MsgType::CLIENT_PLAYERNUM, "PLAYERNUM"},
    {MsgType::MOVEREQUEST, "MOVE_REQ"},
    {MsgType::MOVE, "MOVE"},
    {MsgType::MOVEANNOUNCE, "MOVE_ANN"},
    {MsgType::DISQUALIFICATION, "DISQUALIFICATION"},
    {MsgType::TERMINAL, "TERMINAL"},
    {MsgType::FIN, "FIN"},
    {MsgType::FAIL, "FAIL"},
};

} // namespace

std::ostream& operator<<(std::ostream& os, MsgType type) {
    for (const auto& [known, name] : MESSAGE_NAMES) {
        if (type == known) {
            return os << name;
        }
    }
    return os << "?";
}

template <> uint8_t toNet<uint8_t>(uint8_t value) {
    return value;
}

template <> uint16_t toNet<uint16_t>(uint16_t value) {
    return htons(value);
}

template <> uint32_t toNet<uint32_t>(uint32_t value) {
    return htonl(value);
}

ProtoClient::ProtoClient(TcpSocket* socket)
    : m_socket(socket), m_lastHeader{MsgType::FAIL, 0}, m_lastPayload() {}

ProtoClient::~ProtoClient() {
    if (m_socket != nullptr) {
        m_socket->close();
        delete m_socket;
    }
}

bool ProtoClient::send_msg(MsgType type, const void* payload, uint32_t len) {
    // Header and payload leave in one system call.
    uint8_t header[MESSAGE_HEADER_SIZE];
    header[0] = static_cast<uint8_t>(type);
    const uint32_t netLen = toNet(len);
    std::memcpy(header + 1, &netLen, sizeof netLen);
    const size_t sent = m_socket->send(header, sizeof header, payload, len);
    // A short count is a failure too: the peer would see a message cut off.
    if (sent < sizeof header) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "send_msg(): failed to send header";
        return false;
    }
    if (sent < sizeof header + len) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "send_msg(): failed to send payload";
        return false;
    }
    return true;
}

bool ProtoClient::send_client_groupid(uint8_t groupid) {
    const payload_client_groupid payload{toNet(groupid)};
    return send_msg(MsgType::CLIENT_GROUPID, &payload, sizeof payload);
}

bool ProtoClient::send_gameboard(const std::string& board) {
    return send_msg(MsgType::GAMEBOARD, board.data(), static_cast<uint32_t>(board.size()));
}

bool ProtoClient::send_client_playernum(Player player) {
    const payload_client_playernum payload{player};
    return send_msg(MsgType::CLIENT_PLAYERNUM, &payload, sizeof payload);
}

bool ProtoClient::send_moverequest(uint32_t timelimit, uint8_t depthlimit) {
    const payload_moverequest payload{toNet(timelimit), toNet(depthlimit)};
    return send_msg(MsgType::MOVEREQUEST, &payload, sizeof payload);
}

bool ProtoClient::send_move(uint16_t x, uint16_t y, MoveChoice choice) {
    const payload_move payload{toNet(x), toNet(y), choice};
    return send_msg(MsgType::MOVE, &payload, sizeof payload);
}

bool ProtoClient::send_moveannounce(uint16_t x, uint16_t y, MoveChoice choice, Player player) {
    const payload_moveannounce payload{toNet(x), toNet(y), choice, player};
    return send_msg(MsgType::MOVEANNOUNCE, &payload, sizeof payload);
}

bool ProtoClient::send_disqualification(Player player) {
    const payload_disqualification payload{player};
    return send_msg(MsgType::DISQUALIFICATION, &payload, sizeof payload);
}

bool ProtoClient::send_terminal() {
    return send_msg(MsgType::TERMINAL, nullptr, 0);
}

bool ProtoClient::send_fin() {
    return send_msg(MsgType::FIN, nullptr, 0);
}

MsgResult ProtoClient::receive_msg(unsigned long msecs) {
    m_lastHeader.type = MsgType::FAIL;
    const bool timed = msecs != 0;

    uint8_t header[MESSAGE_HEADER_SIZE];
    const bool headerRead = timed ? m_socket->receive(header, sizeof header, msecs)
                                  : m_socket->receive(header, sizeof header);
    if (!headerRead) {
        // The socket leaves the budget at 0 only when the time ran out.
        if (timed && msecs == 0) {
            LOG(Logging::loggerNetwork, lumber::ERR) << "receive_msg(): timeout reading header";
            return MsgResult::TIMEOUT;
        }
        LOG(Logging::loggerNetwork, lumber::ERR) << "receive_msg(): error reading header";
        return MsgResult::FAIL;
    }
    uint32_t netLen = 0;
    std::memcpy(&netLen, header + 1, sizeof netLen);
    m_lastHeader.type = static_cast<MsgType>(header[0]);
    m_lastHeader.len = ntohl(netLen);
    if (!message_check_hdr(m_lastHeader)) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "receive_msg(): corrupt header";
        m_lastHeader.type = MsgType::FAIL;
        return MsgResult::FAIL;
    }
    if (m_lastHeader.len == 0) {
        return MsgResult::OK;
    }
    if (timed && msecs == 0) {
        LOG(Logging::loggerNetwork, lumber::ERR) << "receive_msg(): timeout afterreading header";
        m_lastHeader.type = MsgType::FAIL;
        return MsgResult::TIMEOUT;
    }

    m_lastPayload.reset(new (std::nothrow) uint8_t[m_lastHeader.len]);
    const bool payloadRead =
        m_lastPayload != nullptr &&
        (timed ? m_socket->receive(m_lastPayload.get(), m_lastHeader.len, msecs)
               : m_socket->receive(m_lastPayload.get(), m_lastHeader.len));
    if (!payloadRead) {
        m_lastHeader.type = MsgType::FAIL;
        if (timed && msecs == 0) {
            LOG(Logging::loggerNetwork, lumber::ERR) << "receive_msg(): timeout reading payload";
            return MsgResult::TIMEOUT;
        }
        LOG(Logging::loggerNetwork, lumber::ERR) << "receive_msg(): error reading payload";
        return MsgResult::FAIL;
    }
    message_ntoh(m_lastHeader, m_lastPayload.get());
    return MsgResult::OK;
}

MsgResult ProtoClient::receive_msg(MsgType& type, bool check, unsigned long msecs) {
    const MsgResult result = receive_msg(msecs);
    if (result != MsgResult::OK) {
        type = MsgType::FAIL;
        return result;
    }
    if (check && m_lastHeader.type != type) {
        return MsgResult::TYPE;
    }
    type = m_lastHeader.type;
    return MsgResult::OK;
}

MsgResult ProtoClient::copyPayload(MsgType type, void* record, size_t size) const {
    if (m_lastHeader.type != type) {
        return MsgResult::TYPE;
    }
    // The header check made the length equal to the record's size.
    std::memcpy(record, m_lastPayload.get(), size);
    return MsgResult::OK;
}

MsgResult ProtoClient::get_client_groupid(payload_client_groupid& payload) const {
    return copyPayload(MsgType::CLIENT_GROUPID, &payload, sizeof payload);
}

MsgResult ProtoClient::get_gameboard(std::string& board) const {
    if (m_lastHeader.type != MsgType::GAMEBOARD) {
        return MsgResult::TYPE;
    }
    board.assign(reinterpret_cast<const char*>(m_lastPayload.get()), m_lastHeader.len);
    return MsgResult::OK;
}

MsgResult ProtoClient::get_client_playernum(payload_client_playernum& payload) const {
    return copyPayload(MsgType::CLIENT_PLAYERNUM, &payload, sizeof payload);
}

MsgResult ProtoClient::get_moverequest(payload_moverequest& payload) const {
    return copyPayload(MsgType::MOVEREQUEST, &payload, sizeof payload);
}

MsgResult ProtoClient::get_move(payload_move& payload) const {
    return copyPayload(MsgType::MOVE, &payload, sizeof payload);
}

MsgResult ProtoClient::get_moveannounce(payload_moveannounce& payload) const {
    return copyPayload(MsgType::MOVEANNOUNCE, &payload, sizeof payload);
}

MsgResult ProtoClient::get_disqualification(payload_disqualification& payload) const {
    return copyPayload(MsgType::DISQUALIFICATION, &payload, sizeof payload);
}

MsgResult ProtoClient::get_terminal() const {
    return m_lastHeader.type == MsgType::TERMINAL ? MsgResult::OK : MsgResult::TYPE;
}

MsgResult ProtoClient::get_fin() const {
    return m_lastHeader.type == MsgType::FIN ? MsgResult::OK : MsgResult::TYPE;
}

bool ProtoClient::message_check_hdr(const MessageHeader& header) {
    switch (header.type) {
    case MsgType::CLIENT_GROUPID:
        return header.len == sizeof(payload_client_groupid);
    case MsgType::GAMEBOARD:
        return header.len >= 1 && header.len <= MAX_MESSAGE_SIZE;
    case MsgType::CLIENT_PLAYERNUM:
        return header.len == sizeof(payload_client_playernum);
    case MsgType::MOVEREQUEST:
        return header.len == sizeof(payload_moverequest);
    case MsgType::MOVE:
        return header.len == sizeof(payload_move);
    case MsgType::MOVEANNOUNCE:
        return header.len == sizeof(payload_moveannounce);
    case MsgType::DISQUALIFICATION:
        return header.len == sizeof(payload_disqualification);
    case MsgType::TERMINAL:
    case MsgType::FIN:
        return header.len == 0;
    case MsgType::FAIL:
        return false;
    }
    return false;
}

bool ProtoClient::message_ntoh(const MessageHeader& header, void* payload) {
    switch (header.type) {
    case MsgType::MOVEREQUEST: {
        auto* request = static_cast<payload_moverequest*>(payload);
        request->timelimit = ntohl(request->timelimit);
        break;
    }
    case MsgType::MOVE: {
        auto* move = static_cast<payload_move*>(payload);
        move->x = ntohs(move->x);
        move->y = ntohs(move->y);
        break;
    }
    case MsgType::MOVEANNOUNCE: {
        auto* announce = static_cast<payload_moveannounce*>(payload);
        announce->x = ntohs(announce->x);
        announce->y = ntohs(announce->y);
        break;
    }
    default:
        break;
    }
    return true;
}
