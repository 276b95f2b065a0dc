// The cost of a seat's relay per message: a small message and its answer over loopback TCP,
// straight to an echoing peer and through SeatRelay (as a jailed bot's messages go).

#include "SeatRelay.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <thread>
#include <unistd.h>

namespace {

/// A move message's size: type, length, x, y, choice.
constexpr size_t MESSAGE = 10;

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
    const int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(s);
        return -1;
    }
    return s;
}

/// Answers every message on one connection with itself, until it closes.
void echo(int listener) {
    const int c = accept(listener, nullptr, nullptr);
    const int on = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char buffer[256];
    for (ssize_t n = read(c, buffer, sizeof buffer); n > 0; n = read(c, buffer, sizeof buffer)) {
        (void)!write(c, buffer, static_cast<size_t>(n));
    }
    close(c);
}

void roundTrips(benchmark::State& state, int s) {
    char message[MESSAGE] = {5, 0, 0, 0, 5, 0, 3, 0, 4, 0};
    char answer[MESSAGE];
    if (s < 0) {
        state.SkipWithError("no connection");
        return;
    }
    for (auto _ : state) {
        (void)!write(s, message, sizeof message);
        for (size_t got = 0; got < sizeof answer;) {
            const ssize_t n = read(s, answer + got, sizeof answer - got);
            if (n <= 0) {
                state.SkipWithError("the connection ended");
                return;
            }
            got += static_cast<size_t>(n);
        }
    }
}

void BM_Direct(benchmark::State& state) {
    sockaddr_in peer{};
    const int listener = listenLoopback(peer);
    std::thread peerThread(echo, listener);
    const int s = connectTo(peer);
    roundTrips(state, s);
    close(s);
    peerThread.join();
    close(listener);
}

void BM_Relayed(benchmark::State& state) {
    sockaddr_in peer{};
    const int peerListener = listenLoopback(peer);
    std::thread peerThread(echo, peerListener);
    sockaddr_in relay{};
    const int relayListener = listenLoopback(relay);
    const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int reports[2];
    (void)!pipe(reports);
    std::thread relayThread([&] {
        SeatRelay::serve(relayListener, upstream, reinterpret_cast<const sockaddr*>(&peer),
                         sizeof peer, reports[1], 1, true);
    });
    const int s = connectTo(relay);
    roundTrips(state, s);
    close(s);
    relayThread.join();
    peerThread.join();
    for (int fd : {peerListener, relayListener, reports[0], reports[1]}) {
        close(fd);
    }
}

} // namespace

// Each iteration is one message and its answer: the relay's cost per message is half the
// difference between the two.
BENCHMARK(BM_Direct)->UseRealTime();
BENCHMARK(BM_Relayed)->UseRealTime();
