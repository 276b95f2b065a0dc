#include "LoopbackSupport.h"

#include <fcntl.h>
#include <netinet/tcp.h>

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Reads the descriptor of a socket object, which the class keeps to itself.
class Descriptor : public TcpSocket {
public:
    explicit Descriptor(const TcpSocket& socket) : TcpSocket(socket) {}
    SOCKET fd() const { return m_sock; }
};

class SocketTest : public LoopbackTest {};

} // namespace

TEST(SocketStateTest, NeverOpenedSocketIsInertAndLayerStartsAndStops) {
    NetworkLog log(lumber::TRACE);
    TcpSocket socket;
    socket.close();
    socket.close();
    EXPECT_FALSE(socket.alive());
    EXPECT_EQ(log.text(), "");
    // Waiting on no socket must not block.
    EXPECT_FALSE(socket.wait(0));
    EXPECT_EQ(log.text(), "DEBUG - Error on select: " + std::to_string(EBADF) + "\n");
    EXPECT_TRUE(TcpSocket::initialize());
    EXPECT_TRUE(TcpSocket::deinitialize());
}

TEST_F(SocketTest, OpenPortRefusesAnOpenSocketAndAPortInUse) {
    NetworkLog log(lumber::TRACE);
    EXPECT_FALSE(m_server.open_port(freePort()));
    EXPECT_EQ(log.text(), "ERROR - Listen failed, socket already open\n");

    log.clear();
    TcpServer other;
    EXPECT_FALSE(other.open_port(m_port));
    EXPECT_EQ(log.text(), "ERROR - Failed to bind socket\n");
    // No socket was left open: the next port opens without "already open".
    log.clear();
    EXPECT_TRUE(other.open_port(freePort()));
    EXPECT_EQ(log.text(), "");
    other.close();
}

TEST_F(SocketTest, ConnectedSocketsAreNoDelayCloseOnExecAndBlocking) {
    const Descriptor listener(m_server);
    EXPECT_TRUE(::fcntl(listener.fd(), F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(listener.fd(), F_GETFL) & O_NONBLOCK);
    for (const TcpSocket* end : {static_cast<TcpSocket*>(m_client), m_accepted}) {
        const Descriptor socket(*end);
        EXPECT_TRUE(end->alive());
        int noDelay = 0;
        socklen_t length = sizeof noDelay;
        ASSERT_EQ(::getsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
        EXPECT_NE(noDelay, 0);
        EXPECT_TRUE(::fcntl(socket.fd(), F_GETFD) & FD_CLOEXEC);
        EXPECT_FALSE(::fcntl(socket.fd(), F_GETFL) & O_NONBLOCK);
    }
}

TEST_F(SocketTest, Ipv4ClientReachesTheListeningSocket) {
    TcpClient client;
    ASSERT_TRUE(client.connect_to("127.0.0.1", m_port));
    TcpSocket* accepted = m_server.accept(5000);
    ASSERT_NE(accepted, nullptr);
    writeBytes(client, {'v', '4'});
    char buffer[2] = {};
    EXPECT_TRUE(accepted->receive(buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer, 2), "v4");
    accepted->close();
    delete accepted;
    client.close();
}

TEST_F(SocketTest, ConnectToReportsEachFailure) {
    NetworkLog log(lumber::ERR);
    TcpClient client;
    EXPECT_FALSE(client.connect_to("no.such.host.invalid", 1234));
    EXPECT_EQ(log.text(), "ERROR - Unable to resolve address no.such.host.invalid (port 1234)\n");

    log.clear();
    EXPECT_FALSE(client.connect_to("127.0.0.1", freePort()));
    EXPECT_EQ(log.text(), "ERROR - Connect failed\n");

    // The failed attempt left no socket open.
    log.clear();
    ASSERT_TRUE(client.connect_to("localhost", m_port));
    EXPECT_FALSE(client.connect_to("localhost", m_port));
    EXPECT_EQ(log.text(), "ERROR - Connect failed, socket already open\n");
    client.close();
}

TEST_F(SocketTest, AcceptWaitsWithinItsLimitOrWithout) {
    NetworkLog log(lumber::ERR);
    const auto start = Clock::now();
    EXPECT_EQ(m_server.accept(300), nullptr);
    EXPECT_GE(millisSince(start), 290);
    EXPECT_LT(millisSince(start), 3000);
    EXPECT_EQ(log.text(), "ERROR - Timeout on accept\n");

    TcpClient late;
    JoiningThread connector([&] {
        std::this_thread::sleep_for(milliseconds(300));
        late.connect_to("127.0.0.1", m_port);
    });
    TcpSocket* accepted = m_server.accept(0);
    connector.join();
    ASSERT_NE(accepted, nullptr);
    EXPECT_TRUE(accepted->alive());
    accepted->close();
    delete accepted;
    late.close();
}

TEST_F(SocketTest, WaitHonoursSecondsAndMilliseconds) {
    NetworkLog log(lumber::DEBUG);
    const auto start = Clock::now();
    EXPECT_FALSE(m_accepted->wait(200));
    EXPECT_GE(millisSince(start), 190);
    EXPECT_EQ(log.text(), "DEBUG - Timeout on select\n");

    // Data at 1200 ms is in time for a limit of 1500 ms.
    JoiningThread writer([&] {
        std::this_thread::sleep_for(milliseconds(1200));
        writeBytes(*m_client, {'x'});
    });
    EXPECT_TRUE(m_accepted->wait(1500));
    writer.join();
    EXPECT_TRUE(m_accepted->wait(0));
}

TEST_F(SocketTest, TimedReceiveJoinsPiecesAndCountsDownTheBudget) {
    JoiningThread writer([&] {
        writeBytes(*m_client, {'a', 'b'});
        std::this_thread::sleep_for(milliseconds(150));
        writeBytes(*m_client, {'c', 'd', 'e'});
    });
    char buffer[5] = {};
    unsigned long budget = 3000;
    EXPECT_TRUE(m_accepted->receive(buffer, sizeof buffer, budget));
    writer.join();
    EXPECT_EQ(std::string(buffer, 5), "abcde");
    EXPECT_LE(budget, 2900u);
    EXPECT_GE(budget, 1000u);
}

TEST_F(SocketTest, TimedReceiveOfSilenceTimesOutWithNoBudgetLeft) {
    NetworkLog log(lumber::WARN);
    char buffer[5];
    unsigned long budget = 250;
    const auto start = Clock::now();
    EXPECT_FALSE(m_accepted->receive(buffer, sizeof buffer, budget));
    EXPECT_GE(millisSince(start), 240);
    EXPECT_EQ(budget, 0u);
    EXPECT_EQ(log.text(), "WARN - Timeout in receive\n");
}

TEST_F(SocketTest, ReceiveFromClosedPeerFailsWithBudgetLeft) {
    NetworkLog log(lumber::WARN);
    writeBytes(*m_client, {'a', 'b'});
    m_client->close();
    char buffer[5];
    unsigned long budget = 3000;
    EXPECT_FALSE(m_accepted->receive(buffer, sizeof buffer, budget));
    EXPECT_GT(budget, 0u);
    EXPECT_EQ(log.text(), "ERROR - The socket was closed during receive\n");
    EXPECT_FALSE(m_accepted->receive(buffer, 1));
}

TEST_F(SocketTest, SendToClosedPeerFailsAndRaisesNoSignal) {
    m_client->close();
    // The first bytes may still be taken before the peer's reset arrives.
    size_t sent = 1;
    for (int attempt = 0; attempt < 100 && sent == 1; ++attempt) {
        sent = m_accepted->send("x", 1);
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(sent, 0u);
}

TEST_F(SocketTest, TwoPartSendResumesAfterShortWritesInEitherPart) {
    // A signal that interrupts a blocked send makes it return a short count; the send must go
    // on from that byte, wherever it lies. The peer reads nothing until the sender has been
    // interrupted a few times with more than the socket buffers waiting.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    struct sigaction saved {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0); // no SA_RESTART
    std::vector<uint8_t> head(100000);
    std::vector<uint8_t> tail(200000);
    for (size_t i = 0; i < head.size(); ++i) {
        head[i] = static_cast<uint8_t>(i * 7 + i / 253);
    }
    for (size_t i = 0; i < tail.size(); ++i) {
        tail[i] = static_cast<uint8_t>(i * 13 + i / 251);
    }
    const int size = 4096;
    ::setsockopt(Descriptor(*m_accepted).fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(Descriptor(*m_client).fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    for (const bool emptyTail : {true, false}) {
        size_t sent = 0;
        const size_t tailSize = emptyTail ? 0 : tail.size();
        std::thread sender(
            [&] { sent = m_accepted->send(head.data(), head.size(), tail.data(), tailSize); });
        for (int k = 0; k < 5; ++k) {
            std::this_thread::sleep_for(milliseconds(10));
            ::pthread_kill(sender.native_handle(), SIGUSR1);
        }
        std::vector<uint8_t> received(head.size() + tailSize);
        EXPECT_TRUE(m_client->receive(received.data(), received.size()));
        sender.join();
        EXPECT_EQ(sent, received.size());
        EXPECT_TRUE(std::equal(head.begin(), head.end(), received.begin()));
        EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + static_cast<long>(tailSize),
                               received.begin() + static_cast<long>(head.size())));
    }
    ::sigaction(SIGUSR1, &saved, nullptr);
}
