#pragma once
// The messages between the server and its clients, and the class that sends and receives them
// on one connection. On the wire a message is a five-byte header (type byte, big-endian 32-bit
// payload length) followed by the payload, with every number big-endian and no padding.

#include "Network.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

/// Message type, one byte on the wire.
enum class MsgType : uint8_t {
    CLIENT_GROUPID = 1,
    GAMEBOARD = 2,
    CLIENT_PLAYERNUM = 3,
    MOVEREQUEST = 4,
    MOVE = 5,
    MOVEANNOUNCE = 6,
    DISQUALIFICATION = 7,
    TERMINAL = 8,
    FIN = 9,
    /// Never sent: no valid message is at hand.
    FAIL = 100,
};

/// "GROUPID", "GAMEBOARD", "PLAYERNUM", "MOVE_REQ", "MOVE", "MOVE_ANN", "DISQUALIFICATION",
/// "TERMINAL", "FIN", "FAIL"; any other value "?".
std::ostream& operator<<(std::ostream& os, MsgType type);

/// Outcome of a receive or a getter.
enum class MsgResult : uint32_t {
    OK = 0,
    /// A broken connection, a bad header or a failed read.
    FAIL = 1,
    /// The time ran out.
    TIMEOUT = 2,
    /// A message of another type than expected, or a getter for the wrong type.
    TYPE = 3,
};

struct MessageHeader {
    MsgType type;
    uint32_t len;
};

/// Bytes of a header on the wire: type (1) and payload length (4).
constexpr size_t MESSAGE_HEADER_SIZE = 1 + 4;
/// The largest payload accepted for a map message.
constexpr uint32_t MAX_MESSAGE_SIZE = 2012000;

// Payloads in host byte order, laid out byte for byte as on the wire.
#pragma pack(push, 1)
struct payload_client_groupid {
    uint8_t groupid;
};
struct payload_client_playernum {
    Player player;
};
struct payload_moverequest {
    uint32_t timelimit; // milliseconds
    uint8_t depthlimit;
};
struct payload_move {
    uint16_t x;
    uint16_t y;
    MoveChoice choice;
};
struct payload_moveannounce {
    uint16_t x;
    uint16_t y;
    MoveChoice choice;
    Player player;
};
struct payload_disqualification {
    Player player;
};
#pragma pack(pop)

static_assert(sizeof(payload_client_groupid) == 1, "group id payload is 1 byte");
static_assert(sizeof(payload_client_playernum) == 1, "player number payload is 1 byte");
static_assert(sizeof(payload_moverequest) == 4 + 1, "move request payload is 5 bytes");
static_assert(sizeof(payload_move) == 2 + 2 + 1, "move payload is 5 bytes");
static_assert(sizeof(payload_moveannounce) == 2 + 2 + 1 + 1, "announce payload is 6 bytes");
static_assert(sizeof(payload_disqualification) == 1, "disqualification payload is 1 byte");

/// One value in network byte order; defined for unsigned 8-, 16- and 32-bit values.
template <typename T> T toNet(T value);
template <> uint8_t toNet<uint8_t>(uint8_t value);
template <> uint16_t toNet<uint16_t>(uint16_t value);
template <> uint32_t toNet<uint32_t>(uint32_t value);

/// Whole messages on one connection, for either end. Owns its socket: the destructor closes
/// and deletes it. The last message received stays available to the getters until the next
/// receive_msg.
class ProtoClient {
public:
    /// Takes over socket, which must have been made with new.
    explicit ProtoClient(TcpSocket* socket);
    virtual ~ProtoClient();
    ProtoClient(const ProtoClient&) = delete;
    ProtoClient& operator=(const ProtoClient&) = delete;

    // Sending. Each returns false, with "send_msg(): failed to send header" or "... payload"
    // logged, when the connection does not take every byte.

    /// Sends a header of type and len, then len bytes of payload (already in network order),
    /// both in one system call where the connection takes them at once.
    bool send_msg(MsgType type, const void* payload, uint32_t len);
    bool send_client_groupid(uint8_t groupid);
    /// The map text as it is, its size as the length (an empty text makes a corrupt header).
    bool send_gameboard(const std::string& board);
    bool send_client_playernum(Player player);
    bool send_moverequest(uint32_t timelimit, uint8_t depthlimit);
    bool send_move(uint16_t x, uint16_t y, MoveChoice choice);
    bool send_moveannounce(uint16_t x, uint16_t y, MoveChoice choice, Player player);
    bool send_disqualification(Player player);
    bool send_terminal();
    bool send_fin();

    // Receiving. One budget of msecs (0: no limit) covers header and payload.

    /// OK with the message kept for the getters; TIMEOUT when the budget ran out; FAIL on a
    /// broken connection, a failed read or a header whose length does not fit its type. After
    /// anything but OK the last type is FAIL and the stream may be out of step.
    MsgResult receive_msg(unsigned long msecs);
    /// As above. When check is true and a message of another type came, TYPE: type keeps the
    /// expected value and the message stays readable by its getter. Otherwise type is set to
    /// the received type (FAIL when the receive failed).
    MsgResult receive_msg(MsgType& type, bool check, unsigned long msecs);

    // Getters: OK with the last message's payload copied out when its type matches, else TYPE
    // with the argument untouched.

    MsgResult get_client_groupid(payload_client_groupid& payload) const;
    MsgResult get_gameboard(std::string& board) const;
    MsgResult get_client_playernum(payload_client_playernum& payload) const;
    MsgResult get_moverequest(payload_moverequest& payload) const;
    MsgResult get_move(payload_move& payload) const;
    MsgResult get_moveannounce(payload_moveannounce& payload) const;
    MsgResult get_disqualification(payload_disqualification& payload) const;
    MsgResult get_terminal() const;
    MsgResult get_fin() const;

    // Wire helpers

    /// True when the length is the one the type requires (1 to MAX_MESSAGE_SIZE for a map);
    /// false for an unknown type.
    static bool message_check_hdr(const MessageHeader& header);
    /// Turns a received payload of the header's type into host byte order in place; true.
    static bool message_ntoh(const MessageHeader& header, void* payload);

private:
    /// Copies the last payload into record when the last type is type.
    MsgResult copyPayload(MsgType type, void* record, size_t size) const;

    TcpSocket* m_socket;
    MessageHeader m_lastHeader;
    std::unique_ptr<uint8_t[]> m_lastPayload;
};
