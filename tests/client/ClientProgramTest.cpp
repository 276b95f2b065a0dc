// The client program against a stand-in server on a real loopback socket: its options, its
// answers, and how it ends when the server goes away or disqualifies it.

#include "server/TestMaps.h"
#include "support/ChildProcess.h"
#include "support/Ports.h"
#include "support/TempDir.h"

#include "Network.h"
#include "Protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using std::chrono::milliseconds;

/// A listening socket for one client program, and the connection once it came.
class StandInServer {
public:
    StandInServer() {
        for (int attempt = 0; attempt < 20 && m_port == 0; ++attempt) {
            const unsigned short port = freePort();
            if (port != 0 && m_listener.open_port(port)) {
                m_port = port;
            }
        }
    }
    ~StandInServer() { m_listener.close(); }

    unsigned short port() const { return m_port; }

    /// Starts the client with the stand-in's port and the given options.
    std::unique_ptr<ChildProcess> startClient(std::vector<std::string> args) {
        args.insert(args.begin(), {"-p", std::to_string(m_port)});
        return std::make_unique<ChildProcess>(REVERSI_CLIENT_BIN, args,
                                              m_dir.path() + "/client.log");
    }
    /// Accepts the client's connection and reads its group id; false when either fails.
    bool admit(uint8_t& groupId) {
        TcpSocket* socket = m_listener.accept(10000);
        if (socket == nullptr) {
            return false;
        }
        m_proto = std::make_unique<ProtoClient>(socket);
        MsgType type = MsgType::CLIENT_GROUPID;
        payload_client_groupid payload{};
        if (m_proto->receive_msg(type, true, 10000) != MsgResult::OK ||
            m_proto->get_client_groupid(payload) != MsgResult::OK) {
            return false;
        }
        groupId = payload.groupid;
        return true;
    }
    bool sendMapAndNumber(const std::string& map, Player player) {
        return m_proto->send_gameboard(map) && m_proto->send_client_playernum(player);
    }
    /// Asks for a move and waits for the answer; false when none came in time.
    bool requestMove(uint32_t msecs, uint8_t depth, payload_move& answer) {
        MsgType type = MsgType::MOVE;
        return m_proto->send_moverequest(msecs, depth) &&
               m_proto->receive_msg(type, true, 10000) == MsgResult::OK &&
               m_proto->get_move(answer) == MsgResult::OK;
    }
    ProtoClient& proto() { return *m_proto; }
    /// Closes the connection: the server goes away.
    void hangUp() { m_proto.reset(); }

private:
    TempDir m_dir;
    TcpServer m_listener;
    unsigned short m_port = 0;
    std::unique_ptr<ProtoClient> m_proto;
};

} // namespace

TEST(ClientProgram, RefusesBadOptionsWithTheFrameMessages) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--bogus"}, "The named argument bogus is unknown\n"},
        {{"-x"}, "The flag argument x is unknown\n"},
        {{"extra"}, "No positional arguments are supported\n"},
        {{"-p", "0"}, "Please choose a port value > 0.\n"},
        {{"-p", "70000"}, "Argument -p port number does not accept the value 70000\n"},
        {{"-g", "256"}, "Please choose a group id from 0 to 255.\n"},
        {{"-s", "clever"}, "Unknown strategy clever: choose random, greedy or search.\n"},
        {{"--seed"}, "Argument --seed number requires a value\n"},
        {{"-H", "a", "--host", "b"}, "Argument -H name can only be set once\n"},
    };
    const TempDir dir;
    for (const Case& c : cases) {
        ChildProcess client(REVERSI_CLIENT_BIN, c.args, dir.path() + "/options.log");
        EXPECT_EQ(client.wait(milliseconds(10000)), 1) << c.message;
        EXPECT_EQ(client.output(), c.message);
    }

    ChildProcess help(REVERSI_CLIENT_BIN, {"-h"}, dir.path() + "/help.log");
    EXPECT_EQ(help.wait(milliseconds(10000)), 1);
    const std::string text = help.output();
    EXPECT_NE(text.find("Usage: " REVERSI_CLIENT_BIN
                        " [ -H name ] [ -p port number ] [ -g number ] "
                        "[ -s name ] [ --seed number ] [ -m msecs ] [ -l filename ] [ --nocolor ] "
                        "[ -h ] [ -v ]\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  -s, --strategy  Play with this strategy: random, greedy or search\n"),
              std::string::npos)
        << text;
}

TEST(ClientProgram, EndsWithStatus1WhenNoServerListens) {
    const unsigned short port = freePort();
    const TempDir dir;
    ChildProcess client(REVERSI_CLIENT_BIN, {"-p", std::to_string(port)},
                        dir.path() + "/client.log");
    EXPECT_EQ(client.wait(milliseconds(10000)), 1);
    EXPECT_NE(client.output().find("Could not connect to the server at localhost port " +
                                   std::to_string(port)),
              std::string::npos)
        << client.output();
}

TEST(ClientProgram, EndsWithStatus1WhenTheServerGoesAway) {
    // The server hangs up after admission, after the map, after a move, and after a message
    // of no known type.
    for (int stage = 0; stage < 4; ++stage) {
        StandInServer server;
        ASSERT_NE(server.port(), 0);
        auto client = server.startClient({"-s", "random"});
        uint8_t group = 0;
        ASSERT_TRUE(server.admit(group));
        if (stage >= 1) {
            ASSERT_TRUE(server.sendMapAndNumber(CLASSIC_MAP, Player::P1));
        }
        if (stage >= 2) {
            payload_move answer{};
            ASSERT_TRUE(server.requestMove(1000, 0, answer));
        }
        if (stage == 3) {
            ASSERT_TRUE(server.proto().send_msg(MsgType::FAIL, nullptr, 0));
            EXPECT_EQ(client->wait(milliseconds(10000)), 1);
        }
        server.hangUp();
        EXPECT_EQ(client->wait(milliseconds(10000)), 1) << "stage " << stage;
        EXPECT_NE(client->output().find("The server went away"), std::string::npos)
            << client->output();
    }
}

TEST(ClientProgram, EndsWithStatus1WhenDisqualified) {
    StandInServer server;
    ASSERT_NE(server.port(), 0);
    auto client = server.startClient({});
    uint8_t group = 0;
    ASSERT_TRUE(server.admit(group));
    ASSERT_TRUE(server.sendMapAndNumber(CLASSIC_MAP, Player::P2));
    // Another player's disqualification ends the game for nobody but that player; then this
    // client's own.
    ASSERT_TRUE(server.proto().send_disqualification(Player::P1));
    ASSERT_TRUE(server.proto().send_disqualification(Player::P2));
    EXPECT_EQ(client->wait(milliseconds(10000)), 1);
    const std::string output = client->output();
    EXPECT_NE(output.find("Player 1 was disqualified"), std::string::npos) << output;
    EXPECT_NE(output.find("This client was disqualified by the server"), std::string::npos)
        << output;
}

TEST(ClientProgram, AnswersLegallyAndFollowsTheAnnouncedGame) {
    StandInServer server;
    ASSERT_NE(server.port(), 0);
    auto client = server.startClient({"-g", "42", "-s", "search"});
    uint8_t group = 0;
    ASSERT_TRUE(server.admit(group));
    EXPECT_EQ(group, 42);
    ASSERT_TRUE(server.sendMapAndNumber(CLASSIC_MAP, Player::P1));

    payload_move answer{};
    ASSERT_TRUE(server.requestMove(1000, 0, answer));
    const std::set<std::pair<unsigned, unsigned>> opening = {{3, 2}, {2, 3}, {5, 4}, {4, 5}};
    EXPECT_EQ(opening.count({answer.x, answer.y}), 1u) << answer.x << "," << answer.y;
    EXPECT_EQ(answer.choice, MoveChoice::NONE);

    // The client applies its own announced move: four stones against one.
    ASSERT_TRUE(server.proto().send_moveannounce(answer.x, answer.y, answer.choice, Player::P1));
    ASSERT_TRUE(server.proto().send_fin());
    EXPECT_EQ(client->wait(milliseconds(10000)), 0);
    const std::string output = client->output();
    EXPECT_NE(output.find("Final scores:"), std::string::npos) << output;
    EXPECT_NE(output.find("Player 1: 4 points\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Player 2: 1 points\n"), std::string::npos) << output;
}

TEST(ClientProgram, ThrowsBombsInTheBombingPhase) {
    // Nobody can place a stone: the game opens with bombs of strength 1. Greedy throws at (1,0),
    // destroying three stones of player 2.
    StandInServer server;
    ASSERT_NE(server.port(), 0);
    auto client = server.startClient({"-s", "greedy"});
    uint8_t group = 0;
    ASSERT_TRUE(server.admit(group));
    ASSERT_TRUE(server.sendMapAndNumber("2\n0\n1 1\n1 7\n2 2 2 1 1 2 1\n", Player::P1));
    ASSERT_TRUE(server.proto().send_terminal());

    payload_move answer{};
    ASSERT_TRUE(server.requestMove(0, 2, answer));
    EXPECT_EQ(answer.x, 1);
    EXPECT_EQ(answer.y, 0);
    EXPECT_EQ(answer.choice, MoveChoice::NONE);

    ASSERT_TRUE(server.proto().send_moveannounce(1, 0, MoveChoice::NONE, Player::P1));
    ASSERT_TRUE(server.proto().send_fin());
    EXPECT_EQ(client->wait(milliseconds(10000)), 0);
    const std::string output = client->output();
    EXPECT_NE(output.find("Player 1: 3 points\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Player 2: 1 points\n"), std::string::npos) << output;
}
