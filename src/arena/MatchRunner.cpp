#include "MatchRunner.h"

#include "Map.h"
#include "MapFile.h"
#include "Replay.h"
#include "ServerLog.h"
#include "Subprocess.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

std::atomic<bool> MatchRunner::s_stop{false};

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

const char* const HOST = "127.0.0.1";
constexpr int POLL_MS = 100;
constexpr int BOT_GRACE_MS = 1000;
/// How long a seat's admission must stand before the next bot starts, so that a bot that
/// connects twice is caught rather than taking the next seat unnoticed.
constexpr int SEAT_SETTLE_MS = 100;

/// A child's output going to its log file, bounded or not, read line by line for the server.
struct Channel {
    std::unique_ptr<Subprocess> process;
    std::ofstream log;
    size_t limit = 0; // 0: keep everything
    size_t written = 0;
    size_t dropped = 0;
    std::string partial;
    bool eof = false;
    std::ostream* echo = nullptr;
};

/// Reads what the pipe holds now; feeds whole lines to `onLine` when given.
void drain(Channel& c, ServerLog* parser) {
    if (c.eof || !c.process || c.process->outputFd() < 0) {
        return;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(c.process->outputFd(), buffer, sizeof buffer);
        if (n > 0) {
            const size_t len = static_cast<size_t>(n);
            size_t keep = len;
            if (c.limit != 0) {
                keep = c.written >= c.limit ? 0 : std::min(len, c.limit - c.written);
            }
            c.log.write(buffer, static_cast<std::streamsize>(keep));
            c.written += keep;
            c.dropped += len - keep;
            if (c.echo != nullptr) {
                c.echo->write(buffer, n);
                c.echo->flush();
            }
            if (parser != nullptr) {
                c.partial.append(buffer, len);
                size_t start = 0;
                for (size_t nl = c.partial.find('\n'); nl != std::string::npos;
                     nl = c.partial.find('\n', start)) {
                    parser->feed(c.partial.substr(start, nl - start));
                    start = nl + 1;
                }
                c.partial.erase(0, start);
            }
            continue;
        }
        if (n == 0) {
            c.eof = true;
            if (parser != nullptr && !c.partial.empty()) {
                parser->feed(c.partial);
                c.partial.clear();
            }
            c.process->closeOutput();
            c.log.flush();
        } else if (errno == EINTR) {
            continue;
        }
        return;
    }
}

void pollChannels(std::vector<Channel*>& channels, int timeoutMs) {
    std::vector<pollfd> fds;
    for (Channel* c : channels) {
        if (!c->eof && c->process && c->process->outputFd() >= 0) {
            fds.push_back({c->process->outputFd(), POLLIN, 0});
        }
    }
    if (fds.empty()) {
        usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return;
    }
    poll(fds.data(), fds.size(), timeoutMs);
}

std::string isoTime(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

/// The message of the server's last log line, without its level and time.
std::string lastMessage(const std::string& tail) {
    std::istringstream in(tail);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    const size_t bracket = last.find("] ");
    if (bracket != std::string::npos && last.size() > bracket + 11) {
        return last.substr(bracket + 11);
    }
    return last;
}

/// Competition ranking: valid players by score, ties sharing a place; the disqualified share
/// the place after every valid player.
json ranksOf(const std::vector<int>& scores) {
    json ranks = json::array();
    size_t valid = 0;
    for (int s : scores) {
        valid += s >= 0 ? 1 : 0;
    }
    for (int s : scores) {
        if (s < 0) {
            ranks.push_back(valid + 1);
            continue;
        }
        unsigned better = 0;
        for (int t : scores) {
            better += t > s ? 1 : 0;
        }
        ranks.push_back(better + 1);
    }
    return ranks;
}

} // namespace

MatchRunner::MatchRunner(MatchSetup setup) : m_setup(std::move(setup)) {}

double MatchRunner::defaultTimeout(const std::string& mapFile, unsigned timeMs) {
    Map map;
    if (!MapFile::load(mapFile, map)) {
        return 60;
    }
    // Every move fills a cell or throws a bomb; each costs the time limit at worst, plus the
    // server's pause and the admission.
    const double moves = map.getPlayableTiles() + double(map.getPlayers()) * map.getBombs();
    const double perMove = (timeMs != 0 ? timeMs / 1000.0 : 10.0) + 0.3;
    return 60 + moves * perMove;
}

MatchOutcome MatchRunner::run(json& record) {
    const auto startedWall = std::chrono::system_clock::now();
    const auto started = Clock::now();
    std::filesystem::create_directories(m_setup.logDir);

    const std::string fileText = readFile(m_setup.mapFile);
    Replay replay;
    std::string mapError;
    Map probe;
    const bool mapValid = probe.loadFromFile(m_setup.mapFile);
    std::string mapText = fileText;
    if (mapValid) {
        std::ostringstream os;
        os << probe;
        mapText = os.str();
        replay.start(mapText, mapError);
    }
    // A map the model refuses is still handed to the server, whose refusal the record keeps.
    const unsigned players =
        mapValid ? probe.getPlayers() : static_cast<unsigned>(m_setup.bots.size());
    const double timeout = m_setup.matchTimeout > 0
                               ? m_setup.matchTimeout
                               : defaultTimeout(m_setup.mapFile, m_setup.timeMs);

    record = json::object();
    record["format"] = "reversi-match-1";
    record["id"] = m_setup.id;
    record["started"] = isoTime(startedWall);
    record["map"] = {{"file", m_setup.mapFile}, {"text", mapText}};
    record["limits"] = {{"time_ms", m_setup.timeMs != 0 ? json(m_setup.timeMs) : json(nullptr)},
                        {"depth", m_setup.depth != 0 ? json(m_setup.depth) : json(nullptr)}};

    std::vector<std::string> serverArgv{m_setup.serverProgram, m_setup.mapFile};
    if (m_setup.timeMs != 0) {
        std::ostringstream secs;
        secs << m_setup.timeMs / 1000 << '.'
             << std::to_string(1000 + m_setup.timeMs % 1000).substr(1);
        serverArgv.insert(serverArgv.end(), {"-t", secs.str()});
    } else {
        serverArgv.insert(serverArgv.end(), {"-d", std::to_string(m_setup.depth)});
    }
    serverArgv.insert(serverArgv.end(), {"-b", std::to_string(m_setup.basePort)});

    ServerLog log;
    Channel server;
    server.process = std::make_unique<Subprocess>();
    server.echo = m_setup.echo;
    server.log.open(m_setup.logDir + "/server.log", std::ios::binary | std::ios::trunc);
    std::vector<Channel> seats(players);
    std::vector<Clock::time_point> seatStart(players);
    std::vector<std::vector<std::string>> seatArgv(players);

    std::string end = "final";
    std::string abortReason;
    json silentSeat = nullptr;
    bool interrupted = false;

    std::string error;
    if (!server.process->start(serverArgv, "", {}, error)) {
        end = "server_failed";
        abortReason = error;
    }

    unsigned started_seats = 0;
    unsigned seenAdmitted = 0;
    auto admittedAt = Clock::now();
    const auto deadline =
        started + std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
    while (end == "final") {
        if (stopRequested()) {
            interrupted = true;
            break;
        }
        std::vector<Channel*> channels{&server};
        for (Channel& s : seats) {
            channels.push_back(&s);
        }
        drain(server, &log);
        for (Channel& s : seats) {
            drain(s, nullptr);
        }
        if (server.eof && !server.process->running()) {
            break;
        }
        const auto now = Clock::now();
        if (log.admitted() != seenAdmitted) {
            seenAdmitted = log.admitted();
            admittedAt = now;
        }
        if (now >= deadline) {
            end = "aborted";
            unsigned silent = log.awaitingGroup() ? log.awaitingGroup() : log.awaitingMove();
            if (silent == 0 && log.admitted() < started_seats) {
                silent = log.admitted() + 1;
            }
            std::ostringstream why;
            why << "match timeout after " << timeout << " s";
            if (silent != 0) {
                silentSeat = silent;
                why << ": seat " << silent << " (" << m_setup.bots[silent - 1].name() << ") "
                    << (log.awaitingGroup()  ? "never sent its group id"
                        : log.awaitingMove() ? "never answered its move request"
                                             : "never connected");
            }
            abortReason = why.str();
            break;
        }
        if (log.admitted() > started_seats) {
            end = "aborted";
            silentSeat = started_seats;
            abortReason = "seat " + std::to_string(started_seats) + " (" +
                          m_setup.bots[started_seats - 1].name() + ") connected more than once";
            break;
        }
        if (started_seats > 0 && log.admitted() < started_seats) {
            const unsigned k = started_seats;
            Channel& seat = seats[k - 1];
            if (!seat.process->running()) {
                drain(seat, nullptr);
                end = "aborted";
                silentSeat = k;
                abortReason = "seat " + std::to_string(k) + " (" + m_setup.bots[k - 1].name() +
                              ") ended before connecting (" + seat.process->describeEnd() + ")";
                break;
            }
            if (now - seatStart[k - 1] >
                std::chrono::milliseconds(static_cast<long long>(m_setup.connectTimeout * 1000))) {
                end = "aborted";
                silentSeat = k;
                abortReason = "seat " + std::to_string(k) + " (" + m_setup.bots[k - 1].name() +
                              ") did not connect within " +
                              std::to_string(static_cast<int>(m_setup.connectTimeout)) + " s";
                break;
            }
        }
        if (log.port() != 0 && started_seats < players && log.admitted() == started_seats &&
            (started_seats == 0 || now - admittedAt >= std::chrono::milliseconds(SEAT_SETTLE_MS))) {
            // Seats are the order of connection: the next bot starts once this one is in.
            const unsigned k = started_seats + 1;
            const BotCommand& bot = m_setup.bots[k - 1];
            Channel& seat = seats[k - 1];
            seat.limit = m_setup.botLogLimit;
            seat.log.open(m_setup.logDir + "/seat" + std::to_string(k) + ".log",
                          std::ios::binary | std::ios::trunc);
            seat.process = std::make_unique<Subprocess>();
            seatArgv[k - 1] =
                bot.argv(m_setup.clientProgram, HOST, log.port(), m_setup.seed + k - 1);
            const std::vector<std::string> env{std::string("REVERSI_HOST=") + HOST,
                                               "REVERSI_PORT=" + std::to_string(log.port())};
            seatStart[k - 1] = now;
            started_seats = k;
            if (!seat.process->start(seatArgv[k - 1], bot.workDir(), env, error)) {
                end = "aborted";
                silentSeat = k;
                abortReason = "seat " + std::to_string(k) + " (" + bot.name() + "): " + error;
                break;
            }
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollChannels(channels, static_cast<int>(std::min<long long>(POLL_MS, left.count() + 1)));
    }

    // Let the bots end by themselves after a played match, then end whatever is left.
    if (!interrupted && end == "final") {
        const auto grace = Clock::now() + std::chrono::milliseconds(BOT_GRACE_MS);
        for (;;) {
            bool any = false;
            for (Channel& s : seats) {
                drain(s, nullptr);
                any = any || (s.process && s.process->running());
            }
            if (!any || Clock::now() >= grace || stopRequested()) {
                break;
            }
            std::vector<Channel*> channels;
            channels.reserve(seats.size());
            for (Channel& s : seats) {
                channels.push_back(&s);
            }
            pollChannels(channels, 20);
        }
    }
    server.process->stop(BOT_GRACE_MS);
    drain(server, &log);
    for (Channel& s : seats) {
        if (s.process) {
            s.process->stop(BOT_GRACE_MS);
            drain(s, nullptr);
        }
    }
    if (interrupted) {
        return MatchOutcome::Interrupted;
    }

    const int serverExit = server.process->ended() && WIFEXITED(server.process->waitStatus())
                               ? WEXITSTATUS(server.process->waitStatus())
                               : -1;
    if (end == "final" && !(log.finalReached() && serverExit == 0)) {
        end = "server_failed";
        abortReason = lastMessage(log.tail());
    }

    json seatList = json::array();
    bool anyUntimed = false;
    for (unsigned k = 1; k <= players; ++k) {
        auto group = log.groups().find(k);
        for (const LoggedEvent& e : log.events()) {
            // The server reports group 0 for a seat whose group id never came.
            if (!e.isMove && e.player == k && e.reason == "Failed to receive group id") {
                group = log.groups().end();
            }
        }
        const bool untimed = group != log.groups().end() && group->second == 255;
        anyUntimed = anyUntimed || untimed;
        json seat = {{"seat", k},
                     {"bot", m_setup.bots[k - 1].name()},
                     {"command", m_setup.bots[k - 1].command()},
                     {"group", group != log.groups().end() ? json(group->second) : json(nullptr)},
                     {"untimed", untimed},
                     {"log", "seat" + std::to_string(k) + ".log"}};
        const Channel& c = seats[k - 1];
        seat["exit"] =
            c.process && c.process->ended() ? json(c.process->describeEnd()) : json(nullptr);
        if (c.dropped != 0) {
            seat["log_dropped_bytes"] = c.dropped;
        }
        seatList.push_back(seat);
    }
    record["seats"] = seatList;

    // The moves and disqualifications in the server's order, replayed on the game model.
    bool consistent = replay.started();
    json moves = json::array();
    json disqualifications = json::array();
    unsigned applied = 0;
    for (const LoggedEvent& e : log.events()) {
        if (e.isMove) {
            const LoggedMove& m = e.move;
            json move = {
                {"n", m.number}, {"seat", m.player}, {"x", m.x}, {"y", m.y}, {"choice", m.choice}};
            move["phase"] = replay.started() ? json(replay.phase()) : json(nullptr);
            if (m_setup.timeMs != 0) {
                move["time_ms"] = m.leftBefore >= m.leftAfter ? m.leftBefore - m.leftAfter : 0;
                move["left_ms"] = m.leftAfter;
            }
            std::vector<CellChange> changes;
            json changeList = json::array();
            if (replay.started() && replay.play(m.x, m.y, m.choice, m.player, changes)) {
                for (const CellChange& c : changes) {
                    changeList.push_back({c.x, c.y, c.token});
                }
            } else {
                consistent = false;
            }
            move["changes"] = changeList;
            moves.push_back(move);
            ++applied;
            continue;
        }
        json d = {{"seat", e.player}, {"at_move", applied}, {"reason", e.reason}};
        if (e.hasAnswer) {
            d["move"] = {{"x", e.move.x}, {"y", e.move.y}, {"choice", e.move.choice}};
            if (replay.started()) {
                const std::string detail =
                    replay.fault(e.move.x, e.move.y, e.move.choice, e.move.player);
                d["detail"] = detail.empty() ? "legal on the replayed board" : detail;
            }
        }
        if (replay.started()) {
            replay.disqualify(e.player);
        }
        disqualifications.push_back(d);
    }
    record["moves"] = moves;
    record["disqualifications"] = disqualifications;

    json result = {{"end", end}, {"server_exit", serverExit}};
    if (end == "final") {
        std::vector<int> scores;
        for (unsigned k = 1; k <= players; ++k) {
            const auto s = log.scores().find(k);
            scores.push_back(s != log.scores().end() ? s->second : -1);
        }
        json scoreList = json::array();
        for (int s : scores) {
            scoreList.push_back(s >= 0 ? json(s) : json(nullptr));
        }
        result["scores"] = scoreList;
        result["ranks"] = ranksOf(scores);
        consistent = consistent && replay.started() && replay.scores() == scores;
    } else {
        result["reason"] = abortReason;
        result["silent_seat"] = silentSeat;
    }
    record["result"] = result;
    record["consistent"] = consistent;
    if (anyUntimed) {
        record["warnings"] = json::array({"a seat announced group 255 and was not timed"});
    }
    record["duration_s"] =
        std::round(std::chrono::duration<double>(Clock::now() - started).count() * 1000) / 1000;
    return MatchOutcome::Recorded;
}
