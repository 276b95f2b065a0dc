#include "Protocol.h"
#include "LoopbackSupport.h"

#include <functional>
#include <thread>
#include <utility>

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes TERMINAL_BYTES = {0x08, 0x00, 0x00, 0x00, 0x00};

class ProtocolTest : public LoopbackTest {
protected:
    // The server's end as a protocol client; m_client stays a raw socket.
    ProtoClient& server() {
        if (!m_server_proto) {
            m_server_proto = std::make_unique<ProtoClient>(std::exchange(m_accepted, nullptr));
        }
        return *m_server_proto;
    }
    // The connecting end as a protocol client; afterwards m_client is no longer usable.
    ProtoClient& client() {
        if (!m_client_proto) {
            m_client_proto = std::make_unique<ProtoClient>(std::exchange(m_client, nullptr));
        }
        return *m_client_proto;
    }
    Bytes readRaw(size_t count) {
        Bytes bytes(count);
        unsigned long budget = 2000;
        EXPECT_TRUE(m_client->receive(bytes.data(), count, budget));
        return bytes;
    }

    std::unique_ptr<ProtoClient> m_server_proto;
    std::unique_ptr<ProtoClient> m_client_proto;
};

} // namespace

TEST(ProtocolWireTest, EveryTypeHasItsNameAndUnknownOnesAQuestionMark) {
    const char* names[] = {"?",        "GROUPID", "GAMEBOARD", "PLAYERNUM",
                           "MOVE_REQ", "MOVE",    "MOVE_ANN",  "DISQUALIFICATION",
                           "TERMINAL", "FIN",     "?"};
    const std::pair<int, const char*> others[] = {{100, "FAIL"}, {99, "?"}, {255, "?"}};
    for (int value = 0; value <= 10; ++value) {
        std::ostringstream os;
        os << static_cast<MsgType>(value);
        EXPECT_EQ(os.str(), names[value]) << value;
    }
    for (const auto& [value, name] : others) {
        std::ostringstream os;
        os << static_cast<MsgType>(value);
        EXPECT_EQ(os.str(), name) << value;
    }
}

TEST(ProtocolWireTest, HeaderLengthMustFitItsType) {
    const struct {
        int type;
        uint32_t len;
        bool valid;
    } cases[] = {{1, 1, true},   {1, 0, false},      {1, 2, false},       {2, 0, false},
                 {2, 1, true},   {2, 2012000, true}, {2, 2012001, false}, {3, 1, true},
                 {3, 5, false},  {4, 5, true},       {4, 6, false},       {5, 5, true},
                 {5, 4, false},  {5, 6, false},      {6, 6, true},        {6, 5, false},
                 {7, 1, true},   {7, 0, false},      {8, 0, true},        {8, 1, false},
                 {9, 0, true},   {9, 5, false},      {0, 0, false},       {0, 1, false},
                 {10, 0, false}, {100, 0, false},    {255, 1, false}};
    for (const auto& c : cases) {
        const MessageHeader header{static_cast<MsgType>(c.type), c.len};
        EXPECT_EQ(ProtoClient::message_check_hdr(header), c.valid) << c.type << "/" << c.len;
    }
}

TEST_F(ProtocolTest, SendersWriteExactBytes) {
    const std::pair<std::function<bool(ProtoClient&)>, Bytes> cases[] = {
        {[](ProtoClient& p) { return p.send_move(3, 10, MoveChoice::NONE); },
         {0x05, 0, 0, 0, 0x05, 0x00, 0x03, 0x00, 0x0A, 0x00}},
        {[](ProtoClient& p) { return p.send_moveannounce(3, 10, MoveChoice::NONE, Player::P2); },
         {0x06, 0, 0, 0, 0x06, 0x00, 0x03, 0x00, 0x0A, 0x00, 0x02}},
        {[](ProtoClient& p) { return p.send_terminal(); }, {0x08, 0, 0, 0, 0}},
        {[](ProtoClient& p) { return p.send_fin(); }, {0x09, 0, 0, 0, 0}},
        {[](ProtoClient& p) { return p.send_client_groupid(7); }, {0x01, 0, 0, 0, 1, 0x07}},
        {[](ProtoClient& p) { return p.send_client_playernum(Player::P3); },
         {0x03, 0, 0, 0, 1, 0x03}},
        {[](ProtoClient& p) { return p.send_moverequest(0x01020304, 5); },
         {0x04, 0, 0, 0, 5, 0x01, 0x02, 0x03, 0x04, 0x05}},
        {[](ProtoClient& p) { return p.send_disqualification(Player::P8); },
         {0x07, 0, 0, 0, 1, 0x08}},
        {[](ProtoClient& p) { return p.send_gameboard("ab\n"); },
         {0x02, 0, 0, 0, 3, 'a', 'b', '\n'}},
        {[](ProtoClient& p) { return p.send_gameboard(""); }, {0x02, 0, 0, 0, 0}},
        {[](ProtoClient& p) {
             return p.send_moveannounce(0x1234, 0xFFFE, MoveChoice::BOMB, Player::P8);
         },
         {0x06, 0, 0, 0, 6, 0x12, 0x34, 0xFF, 0xFE, 20, 8}},
    };
    for (const auto& [send, expected] : cases) {
        EXPECT_TRUE(send(server()));
        EXPECT_EQ(readRaw(expected.size()), expected);
    }
    EXPECT_FALSE(m_client->wait(50));
}

TEST_F(ProtocolTest, MessagesArriveInHostOrder) {
    MsgType type = MsgType::FAIL;
    ASSERT_TRUE(server().send_moverequest(0xA1B2C3D4, 9));
    ASSERT_EQ(client().receive_msg(type, false, 2000), MsgResult::OK);
    EXPECT_EQ(type, MsgType::MOVEREQUEST);
    payload_moverequest request{};
    ASSERT_EQ(client().get_moverequest(request), MsgResult::OK);
    EXPECT_EQ(request.timelimit, 0xA1B2C3D4u);
    EXPECT_EQ(request.depthlimit, 9);

    ASSERT_TRUE(client().send_move(0x0102, 0x0A0B, MoveChoice::OVERRIDE));
    type = MsgType::MOVE;
    ASSERT_EQ(server().receive_msg(type, true, 2000), MsgResult::OK);
    payload_move move{};
    ASSERT_EQ(server().get_move(move), MsgResult::OK);
    EXPECT_EQ(move.x, 0x0102);
    EXPECT_EQ(move.y, 0x0A0B);
    EXPECT_EQ(move.choice, MoveChoice::OVERRIDE);
    payload_moveannounce untouched{1, 2, MoveChoice::BOMB, Player::P4};
    EXPECT_EQ(server().get_moveannounce(untouched), MsgResult::TYPE);
    EXPECT_EQ(untouched.x, 1);
    EXPECT_EQ(untouched.player, Player::P4);

    ASSERT_TRUE(server().send_moveannounce(300, 2, MoveChoice::PLAYER_MAX, Player::P5));
    ASSERT_TRUE(server().send_gameboard("map text"));
    ASSERT_TRUE(server().send_fin());
    payload_moveannounce announce{};
    ASSERT_EQ(client().receive_msg(2000), MsgResult::OK);
    ASSERT_EQ(client().get_moveannounce(announce), MsgResult::OK);
    EXPECT_EQ(announce.x, 300);
    EXPECT_EQ(announce.y, 2);
    EXPECT_EQ(announce.choice, MoveChoice::PLAYER_MAX);
    EXPECT_EQ(announce.player, Player::P5);
    std::string board;
    ASSERT_EQ(client().receive_msg(0), MsgResult::OK);
    ASSERT_EQ(client().get_gameboard(board), MsgResult::OK);
    EXPECT_EQ(board, "map text");
    ASSERT_EQ(client().receive_msg(0), MsgResult::OK);
    EXPECT_EQ(client().get_fin(), MsgResult::OK);
    EXPECT_EQ(client().get_terminal(), MsgResult::TYPE);
    EXPECT_EQ(client().get_gameboard(board), MsgResult::TYPE);
}

TEST_F(ProtocolTest, CorruptHeaderFailsAndLeavesTheNextBytesUnread) {
    const Bytes headers[] = {
        {0x05, 0, 0, 0, 4},
        {0x05, 0, 0, 0, 6},
        {0x00, 0, 0, 0, 0},
        {0x0A, 0, 0, 0, 1},
        {0x64, 0, 0, 0, 0},
        {0x02, 0, 0, 0, 0},
        {0x02, 0x00, 0x1E, 0xB3, 0x61}, // 2012001
    };
    NetworkLog log(lumber::WARN);
    for (const Bytes& header : headers) {
        log.clear();
        writeBytes(*m_client, header);
        writeBytes(*m_client, TERMINAL_BYTES);
        MsgType type = MsgType::MOVE;
        EXPECT_EQ(server().receive_msg(type, false, 2000), MsgResult::FAIL);
        EXPECT_EQ(type, MsgType::FAIL);
        EXPECT_EQ(log.text(), "ERROR - receive_msg(): corrupt header\n");
        // A message without payload ends at its header; the next one follows at once.
        type = MsgType::TERMINAL;
        EXPECT_EQ(server().receive_msg(type, true, 2000), MsgResult::OK);
    }
}

TEST_F(ProtocolTest, LargestMapIsAcceptedTimedAndUntimed) {
    Bytes message = {0x02, 0x00, 0x1E, 0xB3, 0x60}; // 2012000
    for (uint32_t i = 0; i < MAX_MESSAGE_SIZE; ++i) {
        message.push_back(static_cast<uint8_t>('a' + i % 26));
    }
    JoiningThread writer([&] {
        writeBytes(*m_client, message);
        writeBytes(*m_client, message);
    });
    for (const unsigned long budget : {0ul, 20000ul}) {
        std::string board;
        ASSERT_EQ(server().receive_msg(budget), MsgResult::OK);
        ASSERT_EQ(server().get_gameboard(board), MsgResult::OK);
        ASSERT_EQ(board.size(), MAX_MESSAGE_SIZE);
        EXPECT_EQ(board.compare(0, 3, "abc"), 0);
        EXPECT_EQ(board.back(), 'a' + (MAX_MESSAGE_SIZE - 1) % 26);
    }
    writer.join();
}

TEST_F(ProtocolTest, HeaderInTwoPiecesIsReadAsOne) {
    JoiningThread writer([&] {
        writeBytes(*m_client, {0x05, 0x00});
        std::this_thread::sleep_for(milliseconds(100));
        writeBytes(*m_client, {0x00, 0x00, 0x05, 0x00, 0x03, 0x00, 0x0A, 0x00});
    });
    MsgType type = MsgType::MOVE;
    EXPECT_EQ(server().receive_msg(type, true, 2000), MsgResult::OK);
    writer.join();
    payload_move move{};
    ASSERT_EQ(server().get_move(move), MsgResult::OK);
    EXPECT_EQ(move.x, 3);
    EXPECT_EQ(move.y, 10);
}

TEST_F(ProtocolTest, OneBudgetCoversHeaderAndPayload) {
    NetworkLog log(lumber::WARN);
    MsgType type = MsgType::MOVE;
    EXPECT_EQ(server().receive_msg(type, true, 200), MsgResult::TIMEOUT);
    EXPECT_EQ(type, MsgType::FAIL);
    EXPECT_EQ(log.text(),
              "WARN - Timeout in receive\nERROR - receive_msg(): timeout reading header\n");

    // The header comes after 400 ms, the payload never: the wait ends at 600 ms, not 1000.
    log.clear();
    JoiningThread writer([&] {
        std::this_thread::sleep_for(milliseconds(400));
        writeBytes(*m_client, {0x05, 0, 0, 0, 5, 0x00});
    });
    const auto start = Clock::now();
    EXPECT_EQ(server().receive_msg(600), MsgResult::TIMEOUT);
    EXPECT_LT(millisSince(start), 900);
    writer.join();
    EXPECT_EQ(log.text(),
              "WARN - Timeout in receive\nERROR - receive_msg(): timeout reading payload\n");
    payload_move move{};
    EXPECT_EQ(server().get_move(move), MsgResult::TYPE);
}

TEST_F(ProtocolTest, ClosedPeerFailsRatherThanTimesOut) {
    NetworkLog log(lumber::ERR);
    writeBytes(*m_client, {0x05, 0, 0, 0, 5, 0x00, 0x03});
    // Handing the end to a protocol client and dropping it closes the connection.
    std::make_unique<ProtoClient>(std::exchange(m_client, nullptr)).reset();

    EXPECT_EQ(server().receive_msg(5000), MsgResult::FAIL);
    EXPECT_EQ(log.text(), "ERROR - The socket was closed during receive\n"
                          "ERROR - receive_msg(): error reading payload\n");
    log.clear();
    const auto start = Clock::now();
    EXPECT_EQ(server().receive_msg(5000), MsgResult::FAIL);
    EXPECT_LT(millisSince(start), 2500);
    EXPECT_EQ(log.text(), "ERROR - The socket was closed during receive\n"
                          "ERROR - receive_msg(): error reading header\n");
    log.clear();
    EXPECT_EQ(server().receive_msg(0), MsgResult::FAIL);
    EXPECT_EQ(log.text(), "ERROR - receive_msg(): error reading header\n");
}

TEST_F(ProtocolTest, UnexpectedTypeStaysReadableByItsGetter) {
    ASSERT_TRUE(client().send_client_groupid(42));
    MsgType type = MsgType::MOVE;
    EXPECT_EQ(server().receive_msg(type, true, 2000), MsgResult::TYPE);
    EXPECT_EQ(type, MsgType::MOVE);
    for (int reading = 0; reading < 2; ++reading) {
        payload_client_groupid group{};
        EXPECT_EQ(server().get_client_groupid(group), MsgResult::OK);
        EXPECT_EQ(group.groupid, 42);
    }
    payload_move move{7, 8, MoveChoice::NONE};
    EXPECT_EQ(server().get_move(move), MsgResult::TYPE);
    EXPECT_EQ(move.x, 7);
}

TEST_F(ProtocolTest, SendToClosedPeerFailsAndProcessLives) {
    NetworkLog log(lumber::ERR);
    m_client->close();
    // The peer's reset may come only after the first message has gone out.
    server().send_terminal();
    std::this_thread::sleep_for(milliseconds(50));
    log.clear();
    EXPECT_FALSE(server().send_move(1, 2, MoveChoice::NONE));
    EXPECT_EQ(log.text(), "ERROR - send_msg(): failed to send header\n");
}

TEST_F(ProtocolTest, ManyRoundTripsAreQuick) {
    constexpr int ROUNDS = 300;
    client();
    JoiningThread answerer([&] {
        for (int round = 0; round < ROUNDS; ++round) {
            payload_moverequest request{};
            if (client().receive_msg(5000) != MsgResult::OK ||
                client().get_moverequest(request) != MsgResult::OK ||
                !client().send_move(static_cast<uint16_t>(request.timelimit), 1,
                                    MoveChoice::NONE)) {
                return;
            }
        }
    });
    const auto start = Clock::now();
    for (int round = 0; round < ROUNDS; ++round) {
        ASSERT_TRUE(server().send_moverequest(static_cast<uint32_t>(round), 0));
        MsgType type = MsgType::MOVE;
        ASSERT_EQ(server().receive_msg(type, true, 5000), MsgResult::OK);
        payload_move move{};
        ASSERT_EQ(server().get_move(move), MsgResult::OK);
        ASSERT_EQ(move.x, round);
    }
    EXPECT_LT(millisSince(start), 3000);
    answerer.join();
}
