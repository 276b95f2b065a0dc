// Clients that attack the real server program with bytes no honest client sends, or with
// silence, or in numbers: the server puts each one out for the right reason, the others play
// on to the end, and the server itself neither crashes nor stalls.
//
// tools/valgrind-hostile runs this suite with the server under valgrind.

#include "LaneTranscripts.h"
#include "Network.h"
#include "Protocol.h"
#include "ScriptedClient.h"
#include "ServerProcess.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

/// Longest wait of a hostile client for the server's next message.
constexpr unsigned long PATIENCE_MSECS = 40000;
/// Longest run of one match, valgrind included.
constexpr int MATCH_MSECS = 60000;

/// A client that speaks the protocol only where its script says so. It keeps the texts of
/// the messages it receives in the format of ScriptedClient ("PLAYERNUM 1", "closed", ...).
class HostileClient {
public:
    using Script = std::function<void(HostileClient&)>;

    /// receiveBuffer > 0 shrinks the socket's receive buffer before it connects.
    explicit HostileClient(Script script, int receiveBuffer = 0)
        : m_script(std::move(script)), m_receiveBuffer(receiveBuffer) {}
    ~HostileClient() { join(); }
    HostileClient(const HostileClient&) = delete;
    HostileClient& operator=(const HostileClient&) = delete;

    /// Connects in the calling thread, so that the order of calls is the order of players.
    bool connect(uint16_t port) {
        const int sock = connectToLoopback(port, m_receiveBuffer);
        if (sock < 0) {
            return false;
        }
        m_socket = new TcpSocket(sock);
        m_proto = std::make_unique<ProtoClient>(m_socket);
        return true;
    }
    void start() {
        m_thread = std::thread([this] {
            if (m_proto) {
                m_script(*this);
            }
        });
    }
    void join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    // Script verbs

    void sendGroupId(uint8_t groupId) { m_proto->send_client_groupid(groupId); }
    void sendMove(uint16_t x, uint16_t y) { m_proto->send_move(x, y, MoveChoice::NONE); }
    void send(const Bytes& bytes) { m_socket->send(bytes.data(), bytes.size()); }
    /// One byte at a time, each after a pause of gapMsecs.
    void drip(const Bytes& bytes, unsigned gapMsecs) {
        for (const uint8_t byte : bytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMsecs));
            if (m_socket->send(&byte, 1) != 1) {
                return;
            }
        }
    }
    /// Receives messages until a move request has come; false when the connection ended.
    bool awaitMoveRequest() {
        while (receiveOne()) {
            if (m_messages.back().rfind("MOVEREQUEST", 0) == 0) {
                return true;
            }
        }
        return false;
    }
    /// Receives messages until the connection ends.
    void readToEnd() {
        while (receiveOne()) {
        }
    }
    void pause(unsigned msecs) { std::this_thread::sleep_for(std::chrono::milliseconds(msecs)); }
    void close() { m_proto.reset(); }

    /// The messages received, to be read after join().
    const Messages& messages() const { return m_messages; }
    /// When the first message with that text came; the clock's epoch when none did.
    std::chrono::steady_clock::time_point arrival(const std::string& text) const {
        for (size_t i = 0; i < m_messages.size(); ++i) {
            if (m_messages[i] == text) {
                return m_arrivals[i];
            }
        }
        return {};
    }

private:
    bool receiveOne() {
        MsgType type = MsgType::FAIL;
        const MsgResult result = m_proto->receive_msg(type, false, PATIENCE_MSECS);
        m_arrivals.push_back(std::chrono::steady_clock::now());
        if (result != MsgResult::OK) {
            m_messages.push_back("closed");
            return false;
        }
        m_messages.push_back(transcriptLine(*m_proto, type));
        return true;
    }

    Script m_script;
    int m_receiveBuffer;
    TcpSocket* m_socket = nullptr; // owned by m_proto
    std::unique_ptr<ProtoClient> m_proto;
    std::thread m_thread;
    Messages m_messages;
    std::vector<std::chrono::steady_clock::time_point> m_arrivals;
};

/// Connects the clients to port in this order, so that they become players 1, 2, ..., then
/// starts them all; false when one could not connect.
template <class... Clients> bool connectThenStart(uint16_t port, Clients&... clients) {
    if (!(clients.connect(port) && ...)) {
        return false;
    }
    (clients.start(), ...);
    return true;
}

template <class... Clients> void joinAll(Clients&... clients) {
    (clients.join(), ...);
}

/// Starts the server on map with args (and a free base port), lets `connectAll` connect and
/// start the clients in its order, and returns the outcome once the server has ended (it is
/// killed after MATCH_MSECS). `whileRunning`, when given, runs after the clients started.
ServerResult runMatch(const std::string& map, std::vector<std::string> args,
                      const std::function<bool(uint16_t)>& connectAll,
                      const std::function<void(ServerProcess&)>& whileRunning = {}) {
    ServerProcess server;
    args.insert(args.begin(), server.writeMap(map));
    args.push_back("-b");
    args.push_back(std::to_string(freePort()));
    if (!server.start(args)) {
        return ServerResult{};
    }
    const uint16_t port = server.waitForPort(MATCH_MSECS);
    if (port == 0 || !connectAll(port)) {
        return server.finish(0);
    }
    if (whileRunning) {
        whileRunning(server);
    }
    return server.finish(MATCH_MSECS);
}

// A MOVE header announcing five payload bytes, and such a payload.
const Bytes MOVE_HEADER{5, 0, 0, 0, 5};
const Bytes MOVE_PAYLOAD{0, 0, 0, 0, 0};

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Bytes from a fixed seed; the first is no message type, so the header is corrupt.
Bytes randomBytes(size_t count) {
    std::mt19937 generator(20240611);
    Bytes bytes(count);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(generator());
    }
    bytes[0] |= 0x80;
    return bytes;
}

// A map message of the largest length a receiver accepts, payload included.
Bytes largestMapMessage() {
    Bytes bytes{2, 0x00, 0x1E, 0xB3, 0x60};
    bytes.resize(bytes.size() + 2012000, '0');
    return bytes;
}

// The three-lane map in a 50 x 50 grid of holes, with some two thousand transitions between
// holes that change nothing in the game but make its text some 40 kB long.
std::string bigLaneMap() {
    constexpr unsigned SIDE = 50;
    const char* const lanes[] = {"0 2 1", "- - -", "0 3 2", "- - -", "0 1 3"};
    std::ostringstream text;
    text << "3\n0\n0 0\n" << SIDE << " " << SIDE << "\n";
    for (unsigned y = 0; y < SIDE; ++y) {
        text << (y < 5 ? lanes[y] : "-");
        for (unsigned x = y < 5 ? 3 : 1; x < SIDE; ++x) {
            text << " -";
        }
        text << "\n";
    }
    for (unsigned y = 10; y <= 20; ++y) {
        for (unsigned x = 1; x + 1 < SIDE; ++x) {
            for (unsigned d = 0; d < 4; ++d) {
                text << x << " " << y << " " << d << " <-> " << x << " " << y << " " << d + 4
                     << "\n";
            }
        }
    }
    return text.str();
}

// Moves this process into a network namespace of its own whose loopback carries frames of an
// Ethernet's size: socket buffers then hold a few dozen kilobytes, as on a real network,
// instead of the megabytes of the usual loopback. False when the system does not allow it.
bool ownNetworkWithEthernetFrames() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    request.ifr_mtu = 1500;
    bool ready = ::ioctl(sock, SIOCSIFMTU, &request) == 0;
    if (ready && ::ioctl(sock, SIOCGIFFLAGS, &request) == 0) {
        request.ifr_flags |= IFF_UP;
        ready = ::ioctl(sock, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(sock);
    return ready;
}

// Expects a match that ended normally after player 1 was put out for `reason` before its first
// move, players 2 and 3 asked to move with `request`.
template <class Client>
void expectFirstOut(const ServerResult& result, const Client& p2, const Client& p3,
                    const std::string& request, const std::string& reason) {
    const std::vector<Messages> expected = lanesAfterFirstOut({}, request);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(p2.messages(), expected[1]);
    EXPECT_EQ(p3.messages(), expected[2]);
    expectDisqualified(result.out, "1", reason);
}

// Plays the three-lane map with a hostile player 1 and honest players 2 and 3.
struct LaneMatch {
    LaneMatch(HostileClient::Script script, std::vector<std::string> args, int receiveBuffer = 0,
              const std::string& map = THREE_PLAYER_MAP)
        : hostile(std::move(script), receiveBuffer), p2(2, {Answer::move(0, 2)}),
          p3(3, {Answer::move(0, 4)}) {
        result = runMatch(map, std::move(args), [this](uint16_t port) {
            return connectThenStart(port, hostile, p2, p3);
        });
        joinAll(hostile, p2, p3);
    }
    HostileClient hostile;
    ScriptedClient p2;
    ScriptedClient p3;
    ServerResult result;
};

} // namespace

TEST(HostileClient, GarbageInsteadOfTheGroupIdIsPutOut) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"random bytes", randomBytes(64)},
        {"a header cut short", {1, 0, 0}},
        {"an absurd length", {1, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"a header without its payload", {1, 0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The connection closes after the bytes: the wait for a group id has no limit.
        LaneMatch match(
            [&c](HostileClient& client) {
                client.send(c.bytes);
                client.close();
            },
            {"-d", "3"});

        ASSERT_NO_FATAL_FAILURE(expectFirstOut(match.result, match.p2, match.p3, "MOVEREQUEST 0 3",
                                               "Failed to receive group id"));
    }
}

TEST(HostileClient, MalformedAnswerIsPutOut) {
    struct Case {
        const char* what;
        Bytes bytes;
        bool closeAfter;
        const char* reason;
    };
    const Case cases[] = {
        {"random bytes", randomBytes(64), false, "receive failed"},
        {"a header cut short, then the connection closed", {5, 0, 0}, true, "receive failed"},
        {"an absurd length", {5, 0xFF, 0xFF, 0xFF, 0xFF}, false, "receive failed"},
        {"a map message one byte too long", {2, 0x00, 0x1E, 0xB3, 0x61}, false, "receive failed"},
        {"the connection closed mid-payload", concat(MOVE_HEADER, {0, 0}), true, "receive failed"},
        // Read whole (2 MB), then refused for its type.
        {"the largest map message", largestMapMessage(), false, "wrong message"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LaneMatch match(
            [&c](HostileClient& client) {
                client.sendGroupId(1);
                if (!client.awaitMoveRequest()) {
                    return;
                }
                client.send(c.bytes);
                if (c.closeAfter) {
                    client.close();
                } else {
                    client.readToEnd();
                }
            },
            {"-t", "2"});

        ASSERT_NO_FATAL_FAILURE(
            expectFirstOut(match.result, match.p2, match.p3, "MOVEREQUEST 2000 0", c.reason));
        // The offender heard of the request; its own notice may be lost when the server
        // drops the bytes it did not read.
        const Messages& got = match.hostile.messages();
        ASSERT_GE(got.size(), 3u);
        EXPECT_EQ(Messages(got.begin(), got.begin() + 3),
                  (Messages{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 2000 0"}));
    }
}

TEST(HostileClient, SlowOrSilentAnswerIsPutOutWhenTheBudgetEnds) {
    struct Case {
        const char* what;
        HostileClient::Script answer;
    };
    const Case cases[] = {
        {"silence", [](HostileClient&) {}},
        {"a header cut short",
         [](HostileClient& c) {
             c.send({5, 0, 0});
         }},
        {"a header without its payload", [](HostileClient& c) { c.send(MOVE_HEADER); }},
        // 5 x 200 ms: the last byte would come 500 ms after the budget.
        {"a payload dripping past the budget",
         [](HostileClient& c) {
             c.send(MOVE_HEADER);
             c.drip(MOVE_PAYLOAD, 200);
         }},
        {"a whole message dripping past the budget",
         [](HostileClient& c) { c.drip(concat(MOVE_HEADER, MOVE_PAYLOAD), 100); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::chrono::steady_clock::time_point requested;
        LaneMatch match(
            [&](HostileClient& client) {
                client.sendGroupId(1);
                if (!client.awaitMoveRequest()) {
                    return;
                }
                requested = std::chrono::steady_clock::now();
                // Keep reading while the answer goes out, to see when the server gives up.
                std::thread answering([&] { c.answer(client); });
                client.readToEnd();
                answering.join();
            },
            {"-t", "0.5"});

        ASSERT_NO_FATAL_FAILURE(expectFirstOut(match.result, match.p2, match.p3,
                                               "MOVEREQUEST 500 0", "timeout during move"));
        EXPECT_NE(withoutTimes(match.result.out).find("[ INFO] timeout detected!\n"),
                  std::string::npos);
        // Put out when the budget ran out, not when the last byte came (or never).
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              match.hostile.arrival("DISQUALIFICATION 1") - requested)
                              .count();
        EXPECT_GE(took, 450);
        EXPECT_LT(took, 800);
        EXPECT_EQ(match.hostile.messages(),
                  (Messages{"GAMEBOARD", "PLAYERNUM 1", "MOVEREQUEST 500 0", "DISQUALIFICATION 1",
                            "closed"}));
    }
}

TEST(HostileClient, SilentClientKeepsAdmissionWaitingForItsGroupId) {
    // The wait time bounds the wait for a connection only, never the one for the group id.
    const std::vector<std::string> waits[] = {{}, {"-w", "1"}};
    for (const std::vector<std::string>& wait : waits) {
        SCOPED_TRACE(wait.empty() ? "without a wait time" : "with a wait time of 1 second");
        std::vector<std::string> args{"-d", "3"};
        args.insert(args.end(), wait.begin(), wait.end());
        LaneMatch match(
            [](HostileClient& client) {
                client.pause(2500);
                client.close();
            },
            args);

        ASSERT_NO_FATAL_FAILURE(expectFirstOut(match.result, match.p2, match.p3, "MOVEREQUEST 0 3",
                                               "Failed to receive group id"));
        // The others heard nothing until the silent client went away.
        ASSERT_FALSE(match.p2.arrivals().empty());
        ASSERT_FALSE(match.p3.arrivals().empty());
        EXPECT_GE(match.p2.arrivals().front(), 2400);
        EXPECT_GE(match.p3.arrivals().front(), 2400);
    }
}

TEST(HostileClient, ClientThatNeverReadsDoesNotStallTheMatch) {
    // Its answer goes out before the request comes; it reads nothing until long after the
    // match, with a receive buffer as small as the system allows.
    LaneMatch match(
        [](HostileClient& client) {
            client.sendGroupId(1);
            client.sendMove(0, 0);
            client.pause(4000);
            client.readToEnd();
        },
        {"-t", "0.5"}, 1);

    expectTranscripts(match.result, lanesPlayedOut("MOVEREQUEST 500 0"), match.hostile, match.p2,
                      match.p3);
    // The match was over before the client read its first byte.
    ASSERT_FALSE(match.p2.arrivals().empty());
    EXPECT_LT(match.p2.arrivals().back(), 3500);
}

namespace {

// Opens count connections to port without waiting for them to be taken, closes them after
// holdMsecs, and returns how many the system let through to the server's queue.
unsigned flood(uint16_t port, unsigned count, unsigned holdMsecs) {
    std::vector<int> socks;
    const sockaddr_in6 address = loopbackAddress(port);
    for (unsigned i = 0; i < count; ++i) {
        const int sock = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (sock < 0) {
            continue;
        }
        ::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        socks.push_back(sock);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMsecs));
    unsigned connected = 0;
    for (const int sock : socks) {
        sockaddr_in6 peer{};
        socklen_t length = sizeof peer;
        connected += ::getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
        ::close(sock);
    }
    return connected;
}

} // namespace

TEST(HostileClient, ConnectionsBeyondThePlayersAreTurnedAway) {
    ScriptedClient p1(1, {Answer::move(0, 0)});
    ScriptedClient p2(2, {Answer::move(0, 2)});
    ScriptedClient p3(3, {Answer::move(0, 4)});
    const ServerResult result = runMatch(THREE_PLAYER_MAP, {"-d", "3"}, [&](uint16_t port) {
        if (!connectThenStart(port, p1, p2, p3)) {
            return false;
        }
        flood(port, 40, 300);
        return true;
    });
    joinAll(p1, p2, p3);

    expectTranscripts(result, lanesPlayedOut("MOVEREQUEST 0 3"), p1, p2, p3);
    EXPECT_EQ(withoutTimes(result.out).find("disqualified"), std::string::npos);
}

TEST(HostileClient, RapidConnectionsThatCloseAtOnceArePutOut) {
    // The first two of them become players 2 and 3 and never send a group id; the rest find
    // the port closed. Player 1 is left alone, and the game is over at once.
    ScriptedClient p1(1, {});
    const ServerResult result = runMatch(THREE_PLAYER_MAP, {"-d", "3"}, [&](uint16_t port) {
        if (!connectAndStart({&p1}, port)) {
            return false;
        }
        flood(port, 40, 0);
        return true;
    });
    p1.join();

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(p1.messages(), (Messages{"GAMEBOARD", "PLAYERNUM 1", "DISQUALIFICATION 2",
                                       "DISQUALIFICATION 3", "FIN", "closed"}));
    expectDisqualified(result.out, "2", "Failed to receive group id");
    expectDisqualified(result.out, "3", "Failed to receive group id");
}

// Sending to a client that reads nothing gives up after a while: the map, larger than the
// socket buffers, cannot go out, and the server goes on without that client.
TEST(HostileClient, ClientThatNeverReadsAMapBeyondTheSocketBuffersIsPutOut) {
    if (!ownNetworkWithEthernetFrames()) {
        GTEST_SKIP() << "no network namespace of our own here";
    }
    // Its connection stays open, unread, until the match is over.
    HostileClient p1(
        [](HostileClient& client) {
            client.sendGroupId(1);
            client.sendMove(0, 0);
        },
        1);
    // The others wait some 15 seconds for the map, longer than a scripted client waits.
    const auto honest = [](uint8_t groupId, uint16_t row) {
        return [groupId, row](HostileClient& client) {
            client.sendGroupId(groupId);
            if (client.awaitMoveRequest()) {
                client.sendMove(0, row);
                client.readToEnd();
            }
        };
    };
    HostileClient p2(honest(2, 2));
    HostileClient p3(honest(3, 4));
    const ServerResult result = runMatch(bigLaneMap(), {"-t", "0.5"}, [&](uint16_t port) {
        return connectThenStart(port, p1, p2, p3);
    });
    joinAll(p1, p2, p3);

    expectFirstOut(result, p2, p3, "MOVEREQUEST 500 0", "Failed to send board");
}
