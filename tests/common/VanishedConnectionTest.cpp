// A connection that is reset while it waits to be accepted must not end the wait for the
// next real client.

#include "Network.h"
#include "support/Ports.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

// Connects and at once resets the connection, before the server can take it.
void connectAndReset(uint16_t port) {
    const int sock = connectToLoopback(port);
    ASSERT_GE(sock, 0);
    const linger reset{1, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(sock);
}

class VanishedConnection : public ::testing::Test {
protected:
    void SetUp() override {
        m_port = freePort();
        ASSERT_TRUE(m_listener.open_port(m_port));
    }
    void TearDown() override { m_listener.close(); }

    uint16_t m_port = 0;
    TcpServer m_listener;
};

} // namespace

TEST_F(VanishedConnection, IsSkippedForTheNextClient) {
    for (int i = 0; i < 3; ++i) {
        connectAndReset(m_port);
    }
    // Let the resets land while nothing accepts.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int client = connectToLoopback(m_port);
    ASSERT_GE(client, 0);

    TcpSocket* accepted = m_listener.accept(2000);
    ASSERT_NE(accepted, nullptr);
    // It is the live client: a byte it sends arrives.
    const char sent = 'x';
    ASSERT_EQ(::send(client, &sent, 1, 0), 1);
    char got = 0;
    unsigned long msecs = 1000;
    EXPECT_TRUE(accepted->receive(&got, 1, msecs));
    EXPECT_EQ(got, 'x');
    accepted->close();
    delete accepted;
    ::close(client);
}

TEST_F(VanishedConnection, AloneEndsTheWaitOnlyWhenTheTimeIsUp) {
    connectAndReset(m_port);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    TcpSocket* accepted = m_listener.accept(400);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    EXPECT_EQ(accepted, nullptr);
    EXPECT_GE(waited, 350);
    EXPECT_LT(waited, 2000);
}
