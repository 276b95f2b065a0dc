// The seat proof on real sockets: which connections count as a server's clients.

#include "SeatProof.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int listenOn(uint16_t port) {
    const int s = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const int off = 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) {
        close(s);
        return -1;
    }
    return s;
}

uint16_t portOf(int s) {
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin6_port);
}

int connectTo(uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? s : -1;
}

unsigned long inodeOf(int fd) {
    struct stat st {};
    fstat(fd, &st);
    return st.st_ino;
}

} // namespace

// A server that stopped listening keeps its players while a new server takes the same port
// number: the new server's clients are only those it accepted itself.
TEST(SeatProof, ClientsAreThoseOfTheServerNotOfItsPortNumber) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t old = fork();
    if (old == 0) {
        const int l = listenOn(0);
        const uint16_t port = portOf(l);
        (void)!write(ready[1], &port, sizeof port);
        const int kept = accept(l, nullptr, nullptr);
        close(l);
        (void)!write(ready[1], &kept, sizeof kept);
        pause();
        _exit(0);
    }
    uint16_t port = 0;
    ASSERT_EQ(read(ready[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    const int oldPlayer = connectTo(port);
    int kept = 0;
    ASSERT_EQ(read(ready[0], &kept, sizeof kept), static_cast<ssize_t>(sizeof kept));

    const int l = listenOn(port);
    ASSERT_GE(l, 0) << "the port could not be taken again";
    const int player = connectTo(port);
    const int accepted = accept(l, nullptr, nullptr);
    ASSERT_GE(oldPlayer, 0);
    ASSERT_GE(accepted, 0);

    EXPECT_EQ(SeatProof::clients(getpid(), getpid(), port),
              std::vector<unsigned long>{inodeOf(player)});
    EXPECT_EQ(SeatProof::clients(getpid(), old, port),
              std::vector<unsigned long>{inodeOf(oldPlayer)});
    EXPECT_EQ(SeatProof::ownerOf(inodeOf(player)), getpid());
    EXPECT_EQ(SeatProof::seatOf(inodeOf(player), {old, -1, getpid()}), 3u);
    EXPECT_EQ(SeatProof::seatOf(inodeOf(oldPlayer), {old, getpid()}), 2u);
    EXPECT_EQ(SeatProof::seatOf(inodeOf(player), {old, -1}), 0u);
    // A process started by a bot counts for that bot.
    EXPECT_EQ(SeatProof::seatOf(inodeOf(player), {old, getppid()}), 2u);

    kill(old, SIGKILL);
    waitpid(old, nullptr, 0);
    for (int fd : {oldPlayer, player, accepted, l, ready[0], ready[1]}) {
        close(fd);
    }
}
