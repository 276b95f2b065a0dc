// How late the server notices that a player's time ran out: receive_msg with a budget against
// a peer that sends nothing (or drips a message slower than the budget allows), timed on the
// monotonic clock around the call, as the game loop times it. Reported per budget as the
// lateness beyond the budget over many trials: minimum, median, 99th percentile and maximum.

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One server endpoint and the raw descriptor of its peer.
struct Connection {
    Connection() {
        TcpServer listener;
        const uint16_t port = bench::freePort();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        peer = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        TcpSocket* accepted = nullptr;
        if (!listener.open_port(port) ||
            ::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            (accepted = listener.accept(5000)) == nullptr) {
            std::cerr << "no loopback connection" << std::endl;
            std::abort();
        }
        endpoint = std::make_unique<ProtoClient>(accepted);
        listener.close();
    }
    ~Connection() {
        endpoint.reset();
        ::close(peer);
    }
    std::unique_ptr<ProtoClient> endpoint;
    int peer = -1;
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

void report(benchmark::State& state, const std::vector<double>& lateness) {
    state.counters["min_us"] = percentile(lateness, 0.0);
    state.counters["median_us"] = percentile(lateness, 0.5);
    state.counters["p99_us"] = percentile(lateness, 0.99);
    state.counters["max_us"] = percentile(lateness, 1.0);
    state.counters["trials"] = static_cast<double>(lateness.size());
}

// Lateness of one receive in microseconds: time spent beyond the budget. The result must be
// a time-out, or (for a dripping peer) a message the game loop then finds too slow.
double timeReceive(ProtoClient& endpoint, unsigned long budget) {
    MsgType type = MsgType::MOVE;
    const Clock::time_point start = Clock::now();
    const MsgResult result = endpoint.receive_msg(type, true, budget);
    const Clock::time_point end = Clock::now();
    const double spent = std::chrono::duration<double, std::micro>(end - start).count();
    if (result == MsgResult::OK && spent <= budget * 1000.0) {
        std::cerr << "an answer that came too late was taken in time" << std::endl;
        std::abort();
    }
    return spent - budget * 1000.0;
}

// A peer that sends nothing at all.
void BM_TimeoutSilentPeer(benchmark::State& state) {
    const auto budget = static_cast<unsigned long>(state.range(0));
    const auto trials = static_cast<size_t>(state.range(1));
    Connection connection;
    std::vector<double> lateness;
    for (auto _ : state) {
        for (size_t i = 0; i < trials; ++i) {
            lateness.push_back(timeReceive(*connection.endpoint, budget));
        }
    }
    report(state, lateness);
}
BENCHMARK(BM_TimeoutSilentPeer)
    ->ArgNames({"budget_ms", "trials"})
    ->Args({5, 400})
    ->Args({50, 60})
    ->Args({1000, 4})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A peer that sends a move one byte at a time, each byte `gap` microseconds after the last:
// the ten bytes take longer than the budget.
void BM_TimeoutDrippingPeer(benchmark::State& state) {
    const auto budget = static_cast<unsigned long>(state.range(0));
    const auto gap = std::chrono::microseconds(state.range(1));
    const auto trials = static_cast<size_t>(state.range(2));
    std::vector<double> lateness;
    for (auto _ : state) {
        for (size_t i = 0; i < trials; ++i) {
            Connection connection;
            const int peer = connection.peer;
            std::thread dripper([peer, gap] {
                const unsigned char move[] = {5, 0, 0, 0, 5, 0, 3, 0, 10, 0};
                for (const unsigned char byte : move) {
                    std::this_thread::sleep_for(gap);
                    if (::send(peer, &byte, 1, MSG_NOSIGNAL) != 1) {
                        return;
                    }
                }
            });
            lateness.push_back(timeReceive(*connection.endpoint, budget));
            dripper.join();
        }
    }
    report(state, lateness);
}
BENCHMARK(BM_TimeoutDrippingPeer)
    ->ArgNames({"budget_ms", "gap_us", "trials"})
    ->Args({5, 900, 40})
    ->Args({20, 2500, 20})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
