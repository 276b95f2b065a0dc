// What "pondering": false adds to the mover's clock: the server logs its move request and
// sends it, and the arena, reading that log, thaws the mover's frozen control group. A bot in
// a control group answers a one-byte request at once; the time from the send to its answer
// (the server's clock of a move) is measured with the group frozen on the other seat's turn
// and with pondering allowed, in alternating blocks so that both meet the same load. Each
// reports minimum, median, 99th percentile and maximum; the lag pondering off adds is the
// difference. Needs control groups with a freezer (root); skipped otherwise.

#include "ControlGroup.h"
#include "ServerLog.h"
#include "TurnWatch.h"

#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int BLOCK = 50;
/// Time the freezer is given to stop the bot before the next request.
constexpr auto SETTLE = std::chrono::milliseconds(2);

std::string request(unsigned player) {
    return "Sending move request to player " + std::to_string(player) +
           " with depth 0, time left: 1000 msecs.\n";
}

/// A bot that joins the group and answers every byte with one, until its socket closes
/// (`other` is the server's end, which the bot must not hold).
pid_t startBot(const ControlGroup& group, int socket, int other) {
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    close(other);
    for (const std::string& file : group.joinFiles()) {
        const int fd = open(file.c_str(), O_WRONLY);
        (void)!write(fd, "0", 1);
        close(fd);
    }
    char byte = 0;
    while (read(socket, &byte, 1) == 1 && write(socket, &byte, 1) == 1) {
    }
    _exit(0);
}

/// The arena's side: reads the log as the match runner does and follows the turns. A line
/// "frozen" or "allowed" starts a block in that mode.
void followLog(int logFd, ControlGroup& group) {
    ServerLog log;
    TurnWatch watch(2);
    std::string partial;
    char buffer[4096];
    for (;;) {
        pollfd p{logFd, POLLIN, 0};
        poll(&p, 1, 100);
        const ssize_t n = read(logFd, buffer, sizeof buffer);
        if (n <= 0) {
            watch.finish();
            return;
        }
        partial.append(buffer, static_cast<size_t>(n));
        for (size_t nl = partial.find('\n'); nl != std::string::npos; nl = partial.find('\n')) {
            const std::string line = partial.substr(0, nl);
            partial.erase(0, nl + 1);
            if (line == "frozen" || line == "allowed") {
                watch.finish();
                watch = TurnWatch(2);
                TurnWatch::Seat seat;
                seat.cpuUs = [&group] { return group.cpuUs(); };
                if (line == "frozen") {
                    seat.freeze = [&group](bool frozen) { group.freeze(frozen); };
                }
                watch.attach(1, seat);
                continue;
            }
            log.feed(line);
            watch.moverIs(log.awaitingMove());
        }
    }
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
    return values[index];
}

void report(benchmark::State& state, const std::map<std::string, std::vector<double>>& clocks) {
    for (const auto& [mode, values] : clocks) {
        state.counters[mode + "_min_us"] = percentile(values, 0.0);
        state.counters[mode + "_median_us"] = percentile(values, 0.5);
        state.counters[mode + "_p99_us"] = percentile(values, 0.99);
        state.counters[mode + "_max_us"] = percentile(values, 1.0);
    }
    state.counters["added_p99_us"] =
        percentile(clocks.at("frozen"), 0.99) - percentile(clocks.at("allowed"), 0.99);
}

/// One request: logged, then sent, as the server does; the clock runs from the send.
double timeMove(int logFd, int botFd) {
    (void)!write(logFd, request(2).data(), request(2).size());
    std::this_thread::sleep_for(SETTLE);
    (void)!write(logFd, request(1).data(), request(1).size());
    const Clock::time_point sent = Clock::now();
    char byte = 1;
    if (write(botFd, &byte, 1) != 1 || read(botFd, &byte, 1) != 1) {
        return -1;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - sent).count();
}

void BM_MoverClock(benchmark::State& state) {
    std::string why;
    ControlGroup group;
    if (ControlGroup::kind(why).empty() || !group.create({}, why) || !group.canFreeze()) {
        state.SkipWithError(("no control group with a freezer here: " + why).c_str());
        return;
    }
    int pair[2];
    int logPipe[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        state.SkipWithError("no socket pair");
        return;
    }
    const pid_t bot = startBot(group, pair[1], pair[0]);
    close(pair[1]);
    // Made after the fork, so that the log's end reaches the arena's side alone.
    if (pipe(logPipe) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    std::thread arena(followLog, logPipe[0], std::ref(group));
    std::map<std::string, std::vector<double>> clocks;
    const auto blocks = static_cast<int>(state.range(0));
    for (auto iteration : state) {
        (void)iteration;
        for (int b = 0; b < 2 * blocks; ++b) {
            const std::string mode = b % 2 == 0 ? "frozen" : "allowed";
            (void)!write(logPipe[1], (mode + "\n").data(), mode.size() + 1);
            for (int i = 0; i < BLOCK; ++i) {
                clocks[mode].push_back(timeMove(logPipe[1], pair[0]));
            }
        }
    }
    close(logPipe[1]);
    arena.join();
    close(pair[0]);
    waitpid(bot, nullptr, 0);
    report(state, clocks);
}
BENCHMARK(BM_MoverClock)
    ->ArgNames({"blocks"})
    ->Arg(40)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
