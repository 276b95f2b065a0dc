// A seat's relay on real sockets: its first connection passes both ways, ends included; every
// later one is shut and reported.

#include "SeatRelay.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>

namespace {

int listenLoopback(sockaddr_in& address) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
        close(s);
        return -1;
    }
    return s;
}

int connectTo(const sockaddr_in& address) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? s : -1;
}

std::string readAll(int fd) {
    std::string out;
    char buffer[256];
    for (ssize_t n = read(fd, buffer, sizeof buffer); n > 0; n = read(fd, buffer, sizeof buffer)) {
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

} // namespace

TEST(SeatRelay, PassesTheFirstConnectionAndReportsEveryOther) {
    sockaddr_in server{};
    const int serverListener = listenLoopback(server);
    sockaddr_in relay{};
    const int relayListener = listenLoopback(relay);
    ASSERT_GE(serverListener, 0);
    ASSERT_GE(relayListener, 0);
    const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int reports[2];
    ASSERT_EQ(pipe(reports), 0);
    std::thread relayThread([&] {
        SeatRelay::serve(relayListener, upstream, reinterpret_cast<const sockaddr*>(&server),
                         sizeof server, reports[1], 7, true);
    });

    const int bot = connectTo(relay);
    ASSERT_GE(bot, 0);
    const int accepted = accept(serverListener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    // A second connection of the seat never reaches the server: it is shut, and reported.
    const int ghost = connectTo(relay);
    ASSERT_GE(ghost, 0);
    unsigned char seat = 0;
    ASSERT_EQ(read(reports[0], &seat, 1), 1);
    EXPECT_EQ(seat, 7);
    EXPECT_EQ(readAll(ghost), "");

    ASSERT_EQ(write(bot, "group", 5), 5);
    ASSERT_EQ(shutdown(bot, SHUT_WR), 0);
    EXPECT_EQ(readAll(accepted), "group"); // and the bot's end came through
    ASSERT_EQ(write(accepted, "move request", 12), 12);
    close(accepted);
    EXPECT_EQ(readAll(bot), "move request");
    relayThread.join();
    for (int fd : {bot, ghost, serverListener, relayListener, reports[0], reports[1]}) {
        close(fd);
    }
}
