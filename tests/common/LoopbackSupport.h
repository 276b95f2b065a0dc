#pragma once
// Test helpers: a captured network log and a connected pair of sockets over loopback.

#include "Logging.h"
#include "Network.h"
#include "lumber/StreamSink.h"
#include "support/Ports.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Collects the network logger's entries as plain "LEVEL - message" lines while it lives.
class NetworkLog {
public:
    explicit NetworkLog(lumber::LogLevel level) : m_sink(lumber::StreamSink::create(m_text)) {
        Logging::loggerNetwork->addSink(m_sink);
        Logging::loggerNetwork->setLevel(level);
    }
    ~NetworkLog() {
        Logging::loggerNetwork->removeSink(m_sink);
        Logging::loggerNetwork->setLevel(lumber::INHERIT);
    }
    NetworkLog(const NetworkLog&) = delete;
    NetworkLog& operator=(const NetworkLog&) = delete;

    std::string text() const { return m_text.str(); }
    void clear() { m_text.str(""); }

private:
    std::ostringstream m_text;
    lumber::SinkPtr m_sink;
};

inline long long millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

inline void writeBytes(const TcpSocket& socket, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(socket.send(bytes.data(), bytes.size()), bytes.size());
}

// A thread that is joined however the test ends.
class JoiningThread {
public:
    template <class F> explicit JoiningThread(F&& body) : m_thread(std::forward<F>(body)) {}
    ~JoiningThread() { join(); }
    void join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::thread m_thread;
};

// A listening server and one connection to it: m_client is the connecting end, m_accepted the
// server's end. Tests may hand either end to an owner and null the pointer.
class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_port = freePort();
        ASSERT_TRUE(m_server.open_port(m_port));
        m_client = new TcpClient;
        ASSERT_TRUE(m_client->connect_to("::1", m_port));
        m_accepted = m_server.accept(5000);
        ASSERT_NE(m_accepted, nullptr);
    }
    void TearDown() override {
        for (TcpSocket* end : {static_cast<TcpSocket*>(m_client), m_accepted}) {
            if (end != nullptr) {
                end->close();
                delete end;
            }
        }
        m_server.close();
    }

    uint16_t m_port = 0;
    TcpServer m_server;
    TcpClient* m_client = nullptr;
    TcpSocket* m_accepted = nullptr;
};
