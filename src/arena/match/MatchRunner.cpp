#include "MatchRunner.h"

#include "Arena.h"
#include "ControlGroup.h"
#include "CoreSet.h"
#include "Jail.h"
#include "Map.h"
#include "MapFile.h"
#include "MatchFolder.h"
#include "MatchRecord.h"
#include "Replay.h"
#include "ServerFacts.h"
#include "ServerLog.h"
#include "Subprocess.h"
#include "SyscallFilter.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using json = nlohmann::json;

/// A child's output going to its log file, bounded or not, read line by line for the server.
struct MatchRunner::Channel {
    /// The prepared jail's release socket, until its bot's turn (-1: none).
    int release = -1;
    /// How the bot is run, for the record once it was released.
    json how;
    /// Whether the bot was let go (a prepared jail before its turn was not).
    bool started = false;
    std::unique_ptr<Subprocess> process;
    /// The bot's control group while it runs, and what it used once it ended.
    std::unique_ptr<ControlGroup> group;
    ControlGroup::Usage use;
    /// Whether the bot could think on others' turns, as the record says it.
    std::string pondering;
    std::ofstream log;
    size_t limit = 0; // 0: keep everything
    size_t written = 0;
    size_t dropped = 0;
    std::string partial;
    bool eof = false;
    std::ostream* echo = nullptr;

    ~Channel() {
        // The jail dies first: closing its socket would let its bot go.
        process.reset();
        group.reset();
        closeRelease();
    }
    void closeRelease() {
        if (release >= 0) {
            ::close(release);
            release = -1;
        }
    }
};

namespace {

using Clock = std::chrono::steady_clock;

const char* const HOST = "127.0.0.1";
constexpr int POLL_MS = 100;
constexpr int BOT_GRACE_MS = 1000;
/// How long a seat's admission must stand before the next bot starts, so that a bot that
/// connects twice is caught rather than taking the next seat unnoticed.
constexpr int SEAT_SETTLE_MS = 100;
/// Seconds the server waits for a connection beyond the arena's own connect time-out, so that
/// the arena names the silent seat first and the server still ends without it.
constexpr int SERVER_WAIT_MARGIN_S = 5;

/// What a jailed program prints when a limit refuses it, and the limit named for the record.
struct LimitText {
    const char* said;
    const char* limit;
};
const LimitText LIMIT_TEXTS[] = {
    {"MemoryError", "exceeded its memory limit"},
    {"bad_alloc", "exceeded its memory limit"},
    {"Cannot allocate memory", "exceeded its memory limit"},
    {"out of memory", "exceeded its memory limit"},
    {"fork: retry", "too many processes"},
    {"Cannot fork", "too many processes"},
    {"Resource temporarily unavailable", "too many processes"},
    {"No space left on device", "filled its writable folder"},
    {"Too many open files", "too many open files"},
    {"File too large", "exceeded its file size limit"},
};

/// Processes of a tree whose CPU time is summed, at most: far more than a bot's default
/// process limit.
constexpr unsigned MAX_TREE_PROCESSES = 1024;

/// The CPU time of one process (its threads, and the children it waited for) in clock ticks;
/// its children's pids are added to `children`.
uint64_t processTicks(pid_t pid, std::vector<pid_t>& children) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The name in parentheses may hold anything; the numbers follow its last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    uint64_t ticks = 0;
    // After the name: state, 10 numbers, then utime, stime, cutime and cstime.
    for (int n = 0; n < 15 && fields >> field; ++n) {
        ticks += n >= 11 ? std::strtoull(field.c_str(), nullptr, 10) : 0;
    }
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (std::filesystem::directory_iterator it(tasks, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::ifstream list(it->path() / "children");
        for (pid_t child = 0; children.size() < MAX_TREE_PROCESSES && list >> child;) {
            children.push_back(child);
        }
    }
    return ticks;
}

/// The CPU time of a process and every process below it, in microseconds, for a bot that no
/// control group counts; bounded by MAX_TREE_PROCESSES.
uint64_t treeCpuUs(pid_t root) {
    static const long TICK = sysconf(_SC_CLK_TCK);
    std::vector<pid_t> tree{root};
    uint64_t ticks = 0;
    for (size_t i = 0; i < tree.size() && i < MAX_TREE_PROCESSES; ++i) {
        ticks += processTicks(tree[i], tree);
    }
    return TICK > 0 ? ticks * 1000000 / static_cast<uint64_t>(TICK) : 0;
}

/// Reads what the pipe holds now; feeds whole lines to `onLine` when given.
void drain(MatchRunner::Channel& c, ServerLog* parser) {
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

void pollChannels(const std::vector<MatchRunner::Channel*>& channels, int timeoutMs) {
    std::vector<pollfd> fds;
    for (MatchRunner::Channel* c : channels) {
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

/// Each seat's score (-1: disqualified) and its place by competition ranking: valid players
/// by score, ties sharing a place; the disqualified share the place after every valid player.
void setScores(RecordResult& result, const std::vector<int>& scores) {
    unsigned valid = 0;
    for (int s : scores) {
        valid += s >= 0 ? 1 : 0;
    }
    for (int s : scores) {
        if (s < 0) {
            result.scores.emplace_back(std::nullopt);
            result.ranks.push_back(valid + 1);
            continue;
        }
        unsigned better = 0;
        for (int t : scores) {
            better += t > s ? 1 : 0;
        }
        result.scores.emplace_back(static_cast<unsigned>(s));
        result.ranks.push_back(better + 1);
    }
}

} // namespace

MatchRunner::MatchRunner(MatchSetup setup) : m_setup(std::move(setup)) {}

MatchRunner::~MatchRunner() = default;

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

MatchOutcome MatchRunner::run(MatchRecord& record) {
    prepare(record);
    startServer();
    prepareJails();
    watch();
    endProcesses();
    if (m_interrupted) {
        return MatchOutcome::Interrupted;
    }
    writeSeats(record);
    writeEvents(record);
    writeResult(record);
    record.durationS =
        std::round(std::chrono::duration<double>(Clock::now() - m_started).count() * 1000) / 1000;
    record.repairText();
    return MatchOutcome::Recorded;
}

void MatchRunner::prepare(MatchRecord& record) {
    m_started = Clock::now();
    std::filesystem::create_directories(m_setup.logDir);
    std::string mapText = readFile(m_setup.mapFile);
    Map probe;
    const bool mapValid = probe.loadFromFile(m_setup.mapFile);
    if (mapValid) {
        std::ostringstream os;
        os << probe;
        mapText = os.str();
        std::string mapError;
        m_replay.start(mapText, mapError);
    }
    // A map the model refuses is still handed to the server, whose refusal the record keeps.
    m_players = mapValid ? probe.getPlayers() : static_cast<unsigned>(m_setup.bots.size());
    m_timeout = m_setup.matchTimeout > 0 ? m_setup.matchTimeout
                                         : defaultTimeout(m_setup.mapFile, m_setup.timeMs);
    m_deadline = m_started + std::chrono::milliseconds(static_cast<long long>(m_timeout * 1000));

    record = MatchRecord();
    record.id = m_setup.id;
    record.started = isoTime(std::chrono::system_clock::now());
    record.map = {m_setup.mapFile, mapText};
    if (m_setup.timeMs != 0) {
        record.limits.timeMs = m_setup.timeMs;
    } else {
        record.limits.depth = m_setup.depth;
    }
    for (unsigned k = 0; k < m_players; ++k) {
        m_seats.push_back(std::make_unique<Channel>());
    }
    m_turns = TurnWatch(m_players);
    std::string error;
    if (m_setup.sandbox && !m_network.open(error)) {
        m_end = MatchEnd::ServerFailed;
        m_reason = error;
    }
}

void MatchRunner::startServer() {
    std::vector<std::string> argv{m_setup.serverProgram, m_setup.mapFile};
    if (m_setup.timeMs != 0) {
        std::ostringstream secs;
        secs << m_setup.timeMs / 1000 << '.'
             << std::to_string(1000 + m_setup.timeMs % 1000).substr(1);
        argv.insert(argv.end(), {"-t", secs.str()});
    } else {
        argv.insert(argv.end(), {"-d", std::to_string(m_setup.depth)});
    }
    const int wait = static_cast<int>(std::ceil(m_setup.connectTimeout)) + SERVER_WAIT_MARGIN_S;
    argv.insert(argv.end(), {"-b", std::to_string(m_setup.basePort), "-w", std::to_string(wait)});

    m_server = std::make_unique<Channel>();
    m_server->process = std::make_unique<Subprocess>();
    m_server->echo = m_setup.echo;
    m_server->log.open(MatchFolder::serverLog(m_setup.logDir), std::ios::binary | std::ios::trunc);
    if (m_end != MatchEnd::Final) {
        return;
    }
    Subprocess::Options options;
    options.userNamespaceFd = m_network.userNamespaceFd();
    options.netNamespaceFd = m_network.netNamespaceFd();
    options.cores = m_setup.cores;
    std::string error;
    if (!m_server->process->start(argv, options, error)) {
        m_end = MatchEnd::ServerFailed;
        m_reason = error;
    }
}

void MatchRunner::watch() {
    m_admittedAt = Clock::now();
    while (m_end == MatchEnd::Final && watchOnce()) {
    }
    // The server may have ended with admissions the loop did not see yet: each is proven too.
    if (m_end == MatchEnd::Final && !m_interrupted && m_log.admitted() != m_seenAdmitted) {
        m_seenAdmitted = m_log.admitted();
        proveSeats();
    }
}

bool MatchRunner::watchOnce() {
    if (Arena::stopRequested()) {
        m_interrupted = true;
        return false;
    }
    drain(*m_server, &m_log);
    followTurn();
    std::vector<Channel*> channels{m_server.get()};
    for (auto& s : m_seats) {
        drain(*s, nullptr);
        channels.push_back(s.get());
    }
    if (m_server->eof && !m_server->process->running()) {
        return false;
    }
    for (const unsigned seat : m_network.reconnected()) {
        penalize(seat, "connected more than once");
        return false;
    }
    const auto now = Clock::now();
    if (m_log.admitted() != m_seenAdmitted) {
        m_seenAdmitted = m_log.admitted();
        m_admittedAt = now;
        if (!proveSeats()) {
            return false;
        }
    }
    if (!checkDeadline(now) || !checkSeats(now)) {
        return false;
    }
    if (admitNextBot(now)) {
        return m_end == MatchEnd::Final;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - now);
    pollChannels(channels, static_cast<int>(std::min<long long>(POLL_MS, left.count() + 1)));
    return true;
}

bool MatchRunner::checkDeadline(Clock::time_point now) {
    if (now < m_deadline) {
        return true;
    }
    std::ostringstream limit;
    limit << m_timeout << " s";
    // Silence the server waits on without limit is the silent seat's loss; a bot that never
    // connected may have met a jail that failed, and voids the match instead.
    if (m_log.awaitingGroup() != 0) {
        penalize(m_log.awaitingGroup(),
                 "never sent its group id within the match timeout (" + limit.str() + ")");
        return false;
    }
    if (m_log.awaitingMove() != 0) {
        penalize(m_log.awaitingMove(),
                 "never answered its move request within the match timeout (" + limit.str() + ")");
        return false;
    }
    const unsigned silent = m_log.admitted() < m_startedSeats ? m_log.admitted() + 1 : 0;
    abort(silent, "match timeout after " + limit.str() +
                      (silent != 0 ? ": " + seatName(silent) + " never connected" : ""));
    return false;
}

bool MatchRunner::checkSeats(Clock::time_point now) {
    if (m_log.admitted() > m_startedSeats) {
        if (!proveSeats()) {
            return false;
        }
        // A connection the proof could not place: the last bot started, if any, is the one
        // that may have connected twice.
        if (m_startedSeats == 0) {
            abort(0, "a process outside the line-up connected before any bot was started");
        } else {
            abort(m_startedSeats, seatName(m_startedSeats) + " connected more than once");
        }
        return false;
    }
    if (m_startedSeats == 0 || m_log.admitted() >= m_startedSeats) {
        return true;
    }
    const unsigned k = m_startedSeats;
    Channel& seat = *m_seats[k - 1];
    if (!seat.process->running()) {
        drain(seat, nullptr);
        seat.log.flush();
        const std::string limit = limitMet(k);
        abort(k, seatName(k) + " ended before connecting (" + seat.process->describeEnd() + ")" +
                     (limit.empty() ? "" : ": " + limit));
        return false;
    }
    if (now - m_seatStart >
        std::chrono::milliseconds(static_cast<long long>(m_setup.connectTimeout * 1000))) {
        abort(k, seatName(k) + " did not connect within " +
                     std::to_string(static_cast<int>(m_setup.connectTimeout)) + " s");
        return false;
    }
    return true;
}

bool MatchRunner::admitNextBot(Clock::time_point now) {
    // Seats are the order of connection: the next bot starts once this one is in and its
    // admission has stood long enough for a second connection to show.
    if (m_log.port() == 0 || m_startedSeats >= m_players || m_startedSeats >= m_setup.bots.size() ||
        m_log.admitted() != m_startedSeats ||
        (m_startedSeats != 0 && now - m_admittedAt < std::chrono::milliseconds(SEAT_SETTLE_MS))) {
        return false;
    }
    const unsigned k = m_startedSeats + 1;
    Channel& seat = *m_seats[k - 1];
    m_seatStart = now;
    m_startedSeats = k;
    if (m_setup.sandbox && m_log.port() != m_setup.basePort) {
        abort(0, "the server listens on port " + std::to_string(m_log.port()) +
                     " of the match's own network, not on its base port " +
                     std::to_string(m_setup.basePort));
        return true;
    }
    if (seat.release >= 0) {
        releaseJail(k);
        return true;
    }
    std::string error;
    if (!startBot(k, -1, error)) {
        abort(k, seatName(k) + ": " + error);
    }
    seat.started = true;
    followSeat(k);
    return true;
}

bool MatchRunner::startBot(unsigned k, int releaseFd, std::string& error) {
    Channel& seat = *m_seats[k - 1];
    seat.limit = m_setup.botLogLimit;
    seat.log.open(MatchFolder::seatLog(m_setup.logDir, k), std::ios::binary | std::ios::trunc);
    seat.process = std::make_unique<Subprocess>();
    Subprocess::Options options;
    options.inheritFd = releaseFd;
    if (m_setup.sandbox && m_network.seatNetFd(k) < 0 &&
        !m_network.addSeat(k, m_setup.basePort, error)) {
        return false;
    }
    if (m_setup.sandbox && (options.filterFd = SyscallFilter::open(error)) < 0) {
        return false;
    }
    options.cores = m_setup.cores;
    if (m_setup.sandbox) {
        makeGroup(k, options);
    }
    const std::vector<std::string> argv = botLine(k, options, seat.how);
    if (!m_setup.cores.empty()) {
        seat.how["cores"] = CoreSet(m_setup.cores).text();
        seat.how["oversubscribed"] = m_setup.oversubscribed;
    }
    const bool started = seat.process->start(argv, options, error);
    if (options.filterFd >= 0) {
        ::close(options.filterFd); // bwrap has its own copy, read as it builds the jail
    }
    return started;
}

bool MatchRunner::makeGroup(unsigned k, Subprocess::Options& options) {
    std::string why;
    if (ControlGroup::kind(why).empty()) {
        return false;
    }
    Channel& seat = *m_seats[k - 1];
    const JailLimits& limits = m_setup.bots[k - 1].limits();
    ControlGroup::Limits held;
    held.memoryBytes = limits.memoryBytes;
    held.processes = limits.processes;
    held.cores = m_setup.cores;
    seat.group = std::make_unique<ControlGroup>();
    std::string error;
    if (!seat.group->create(held, error)) {
        // This bot is held as where no groups can be made; the record says so.
        LOG(Arena::logger(), lumber::WARN) << seatName(k) << ": " << error;
        seat.group.reset();
        return false;
    }
    options.groupFiles = seat.group->joinFiles();
    return true;
}

void MatchRunner::prepareJails() {
    // In the match's own network the server takes its base port, so each jail can be built
    // while the server starts and the bots before it connect; only the bot waits its turn.
    if (!m_setup.sandbox || m_end != MatchEnd::Final) {
        return;
    }
    const size_t seats = std::min<size_t>(m_players, m_setup.bots.size());
    for (unsigned k = 1; k <= seats; ++k) {
        int pair[2];
        std::string error;
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            return; // this bot and the next start as their turns come instead
        }
        const bool started = startBot(k, pair[0], error);
        ::close(pair[0]);
        m_seats[k - 1]->release = pair[1];
        if (!started) {
            abort(k, seatName(k) + ": " + error);
            return;
        }
    }
}

void MatchRunner::releaseJail(unsigned k) {
    Channel& seat = *m_seats[k - 1];
    if (!seat.process->running()) {
        drain(seat, nullptr);
        seat.log.flush();
        const std::string said = readFile(MatchFolder::seatLog(m_setup.logDir, k));
        const std::string line = said.substr(0, said.find('\n'));
        if (line.compare(0, 7, "bwrap: ") == 0) {
            // No namespaces at all is the machine's refusal; anything else is this jail's.
            const bool machine = line.find("namespace") != std::string::npos ||
                                 line.find("uid map") != std::string::npos;
            abort(machine ? 0 : k,
                  machine ? Jail::refusal(line) : seatName(k) + ": its jail failed (" + line + ")");
            return;
        }
    }
    const char go = 1;
    // A jail that already ended shows as its bot ending before connecting.
    (void)!send(seat.release, &go, 1, MSG_NOSIGNAL);
    seat.closeRelease();
    seat.started = true;
    followSeat(k);
}

std::vector<std::string> MatchRunner::botLine(unsigned k, Subprocess::Options& options,
                                              json& how) const {
    const BotCommand& bot = m_setup.bots[k - 1];
    const unsigned portNumber = m_setup.sandbox ? m_setup.basePort : m_log.port();
    const std::string port = std::to_string(portNumber);
    const std::string client =
        std::filesystem::weakly_canonical(std::filesystem::absolute(m_setup.clientProgram))
            .string();
    std::vector<std::string> line = bot.argv(client, HOST, portNumber, m_setup.seed + k - 1);
    if (!m_setup.sandbox) {
        options.workDir = bot.workDir();
        options.env = {std::string("REVERSI_HOST=") + HOST, "REVERSI_PORT=" + port};
        for (const auto& [name, value] : bot.env()) {
            options.env.push_back(name);
            options.env.back().append("=").append(value);
        }
        how = {{"jailed", false}};
        return line;
    }
    Jail jail;
    // A bot without a folder of its own starts in its empty writable one.
    jail.showReadOnly(bot.folder());
    jail.setWorkDir(bot.folder());
    if (bot.isShorthand()) {
        jail.showReadOnly(client);
    }
    for (const auto& [name, value] : bot.env()) {
        jail.setEnv(name, value);
    }
    jail.setEnv("REVERSI_HOST", HOST);
    jail.setEnv("REVERSI_PORT", port);
    jail.setLimits(bot.limits());
    jail.setReleaseFd(options.inheritFd);
    jail.setFilterFd(options.filterFd);
    std::string why;
    if (m_seats[k - 1]->group) {
        jail.setHeldBy(ControlGroup::kind(why));
    }
    options.cleanEnv = true;
    options.env = {"PATH=/usr/bin:/bin"};
    // The bot's own network, where only its relay to the server answers.
    options.userNamespaceFd = m_network.userNamespaceFd();
    options.netNamespaceFd = m_network.seatNetFd(k);
    options.dropPrivileges = Jail::dropsPrivileges();
    how = jail.describe();
    return jail.argv(line);
}

bool MatchRunner::proveSeats() {
    if (m_log.port() == 0) {
        return true;
    }
    std::vector<pid_t> bots;
    // Jailed, a seat's connection to the server is held by its relay.
    for (unsigned k = 1; k <= m_seats.size(); ++k) {
        const Channel& s = *m_seats[k - 1];
        const pid_t bot = s.started && s.process ? s.process->pid() : -1;
        bots.push_back(m_setup.sandbox && bot > 0 ? m_network.seatRelay(k) : bot);
    }
    unsigned culprit = 0;
    std::string what;
    const pid_t netPid = m_setup.sandbox ? m_network.anchor() : getpid();
    if (m_proof.check(netPid, m_server->process->pid(), m_log.port(), bots, m_log.admitted(),
                      closingExpected(), culprit, what)) {
        return true;
    }
    if (culprit != 0) {
        penalize(culprit, what);
    } else {
        abort(0, what);
    }
    return false;
}

bool MatchRunner::closingExpected() const {
    // Jailed, every connection the server sees comes from a seat's relay, which passes on its
    // bot's first connection alone: one that closed was its own seat's, given up.
    if (m_setup.sandbox) {
        return true;
    }
    // Players close their connections once the game is over; a seat that never sent its
    // group id was never a player, however the game ended.
    if (!m_log.finalReached()) {
        return false;
    }
    for (unsigned k = 1; k <= m_log.admitted(); ++k) {
        if (m_log.groups().count(k) == 0) {
            return false;
        }
    }
    return true;
}

std::string MatchRunner::limitMet(unsigned k) const {
    const Channel& c = *m_seats[k - 1];
    if (!m_setup.sandbox || !c.process || !c.process->ended()) {
        return "";
    }
    // The jail passes a signal that ended the bot on as 128 + its number.
    const int status = c.process->waitStatus();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : code > 128 ? code - 128 : 0;
    if (signal == SIGXCPU) {
        return "exceeded its CPU time limit";
    }
    if (signal == SIGXFSZ) {
        return "exceeded its file size limit";
    }
    const ControlGroup::Usage use = c.group ? c.group->usage() : c.use;
    if (use.memoryLimit) {
        return "exceeded its memory limit";
    }
    if (use.processLimit) {
        return "too many processes";
    }
    const std::string said = readFile(MatchFolder::seatLog(m_setup.logDir, k));
    for (const LimitText& t : LIMIT_TEXTS) {
        if (said.find(t.said) != std::string::npos) {
            return t.limit;
        }
    }
    return "";
}

void MatchRunner::endProcesses() {
    m_turns.finish();
    // Let the bots end by themselves after a played match, then end whatever is left.
    const auto grace = Clock::now() + std::chrono::milliseconds(BOT_GRACE_MS);
    while (!m_interrupted && m_end == MatchEnd::Final && Clock::now() < grace &&
           !Arena::stopRequested()) {
        bool any = false;
        std::vector<Channel*> channels;
        for (auto& s : m_seats) {
            drain(*s, nullptr);
            any = any || (s->process && s->process->running());
            channels.push_back(s.get());
        }
        if (!any) {
            break;
        }
        pollChannels(channels, 20);
    }
    if (m_server) {
        m_server->process->stop(BOT_GRACE_MS);
        drain(*m_server, &m_log);
    }
    for (auto& s : m_seats) {
        if (s->process) {
            s->process->stop(BOT_GRACE_MS);
            drain(*s, nullptr);
        }
        if (s->group) {
            s->use = s->group->usage();
            s->group.reset();
        }
    }
}

void MatchRunner::writeUse(unsigned k, RecordSeat& seat) const {
    const Channel& c = *m_seats[k - 1];
    if (!c.started || !c.process || !c.process->ended()) {
        return;
    }
    // A group counts every process of the bot; without one, the jail's or the bot's own
    // process counts those it waited for, and the peak of the largest.
    const bool grouped = c.how.value("held_by", Jail::PROCESS_LIMITS) != Jail::PROCESS_LIMITS;
    const uint64_t peakKb =
        grouped && c.use.peakBytes != 0 ? c.use.peakBytes / 1024 : c.process->maxRssKb();
    seat.cpuMs = grouped ? c.use.cpuMs : c.process->cpuMs();
    seat.maxRssMb = std::round(static_cast<double>(peakKb) / 102.4) / 10;
}

void MatchRunner::followSeat(unsigned k) {
    Channel& seat = *m_seats[k - 1];
    if (!seat.process || seat.process->pid() <= 0) {
        return;
    }
    TurnWatch::Seat hooks;
    ControlGroup* group = seat.group.get();
    const pid_t pid = seat.process->pid();
    if (group != nullptr) {
        hooks.cpuUs = [group] { return group->cpuUs(); };
    } else {
        hooks.cpuUs = [pid] { return treeCpuUs(pid); };
    }
    seat.pondering = "allowed";
    if (!m_setup.bots[k - 1].limits().pondering) {
        if (group != nullptr && group->canFreeze()) {
            hooks.freeze = [group](bool frozen) { group->freeze(frozen); };
            seat.pondering = "frozen";
        } else {
            seat.pondering = "not held";
            static std::once_flag once;
            std::call_once(once, [] {
                LOG(Arena::logger(), lumber::WARN)
                    << "bots that may not ponder think on other seats' turns all the same: "
                       "only a jailed bot's control group with a freezer can be frozen "
                       "(the record says \"pondering\": \"not held\")";
            });
        }
    }
    m_turns.attach(k, std::move(hooks));
}

void MatchRunner::followTurn() {
    if (m_log.finalReached()) {
        m_turns.finish();
    } else {
        m_turns.moverIs(m_log.awaitingMove());
    }
}

void MatchRunner::writeWaiting(unsigned k, RecordSeat& seat) const {
    const Channel& c = *m_seats[k - 1];
    if (!c.started || c.pondering.empty()) {
        return;
    }
    seat.cpuWaitMs = m_turns.waitingMs(k);
    seat.pondering = c.pondering;
}

void MatchRunner::writeSeats(MatchRecord& record) const {
    record.seats.clear();
    for (unsigned k = 1; k <= m_players; ++k) {
        auto group = m_log.groups().find(k);
        for (const LoggedEvent& e : m_log.events()) {
            // The server reports group 0 for a seat whose group id never came.
            if (!e.isMove && e.player == k && e.reason == ServerFacts::Reason::NO_GROUP_ID) {
                group = m_log.groups().end();
            }
        }
        RecordSeat seat;
        seat.seat = k;
        if (k <= m_setup.bots.size()) {
            seat.bot = m_setup.bots[k - 1].name();
            seat.command = m_setup.bots[k - 1].command();
        }
        if (group != m_log.groups().end()) {
            seat.group = group->second;
            seat.untimed = group->second == ServerFacts::UNTIMED_GROUP_ID;
        }
        seat.log = MatchFolder::seatLogName(k);
        const Channel& c = *m_seats[k - 1];
        if (c.started && c.process->ended()) {
            seat.exit = c.process->describeEnd();
        }
        if (c.dropped != 0) {
            seat.logDroppedBytes = c.dropped;
        }
        writeUse(k, seat);
        writeWaiting(k, seat);
        // How it was run; only for a bot that was started.
        if (c.started && c.how.is_object()) {
            seat.run = c.how;
            const std::string limit = limitMet(k);
            if (!limit.empty()) {
                seat.stoppedBy = limit;
            }
        }
        record.seats.push_back(std::move(seat));
    }
}

void MatchRunner::writeEvents(MatchRecord& record) {
    // The moves and disqualifications in the server's order, replayed on the game model.
    m_consistent = m_replay.started();
    record.moves.clear();
    record.disqualifications.clear();
    for (const LoggedEvent& e : m_log.events()) {
        if (e.isMove) {
            record.moves.push_back(replayedMove(e.move));
            continue;
        }
        RecordDisqualification d;
        d.seat = e.player;
        d.atMove = static_cast<unsigned>(record.moves.size());
        d.reason = e.reason;
        if (e.hasAnswer) {
            d.move = RecordAnswer{e.move.x, e.move.y, e.move.choice};
            if (m_replay.started()) {
                const std::string detail =
                    m_replay.fault(e.move.x, e.move.y, e.move.choice, e.move.player);
                d.detail = detail.empty() ? "legal on the replayed board" : detail;
            }
        }
        if (m_replay.started()) {
            m_replay.disqualify(e.player);
        }
        record.disqualifications.push_back(std::move(d));
    }
}

RecordMove MatchRunner::replayedMove(const LoggedMove& m) {
    RecordMove move;
    move.n = m.number;
    move.seat = m.player;
    move.x = m.x;
    move.y = m.y;
    move.choice = m.choice;
    if (m_replay.started()) {
        move.phase = m_replay.phase();
    }
    if (m_setup.timeMs != 0) {
        move.timeMs = m.leftBefore >= m.leftAfter ? m.leftBefore - m.leftAfter : 0;
        move.leftMs = m.leftAfter;
    }
    std::vector<CellChange> changes;
    if (m_replay.started() && m_replay.play(m.x, m.y, m.choice, m.player, changes)) {
        for (const CellChange& c : changes) {
            move.changes.push_back(RecordChange{c.x, c.y, c.token});
        }
    } else {
        m_consistent = false;
    }
    return move;
}

void MatchRunner::writeResult(MatchRecord& record) {
    const int serverExit = m_server->process->ended() && WIFEXITED(m_server->process->waitStatus())
                               ? WEXITSTATUS(m_server->process->waitStatus())
                               : -1;
    if (m_end == MatchEnd::Final && !(m_log.finalReached() && serverExit == 0)) {
        m_end = MatchEnd::ServerFailed;
        m_reason = lastMessage(m_log.tail());
    }
    if (m_culprit != 0 && m_replay.started()) {
        writePenalty(record, serverExit);
        return;
    }
    for (const RecordSeat& seat : record.seats) {
        if (seat.untimed) {
            record.warnings = {"a seat announced group " +
                               std::to_string(ServerFacts::UNTIMED_GROUP_ID) +
                               " and was not timed"};
        }
    }
    RecordResult& result = record.result;
    result = RecordResult();
    result.end = m_end;
    result.serverExit = serverExit;
    if (m_end == MatchEnd::Final) {
        std::vector<int> scores;
        for (unsigned k = 1; k <= m_players; ++k) {
            const auto s = m_log.scores().find(k);
            scores.push_back(s != m_log.scores().end() ? s->second : -1);
        }
        setScores(result, scores);
        m_consistent = m_consistent && m_replay.scores() == scores;
    } else {
        result.reason = m_reason;
        result.silentSeat = m_silentSeat;
    }
    record.consistent = m_consistent;
}

void MatchRunner::writePenalty(MatchRecord& record, int serverExit) {
    // The match counts: the guilty seat is disqualified where the game stood, and the others
    // keep the places that position gives them, as if the server had disqualified it there.
    // The reason is the arena's own text, which no reason of the server's reads like.
    bool already = false;
    for (RecordDisqualification& d : record.disqualifications) {
        if (d.seat == m_culprit) {
            d.reason = m_penalty;
            already = true;
        }
    }
    if (!already) {
        RecordDisqualification d;
        d.seat = m_culprit;
        d.atMove = static_cast<unsigned>(record.moves.size());
        d.reason = m_penalty;
        record.disqualifications.push_back(std::move(d));
        m_replay.disqualify(m_culprit);
    }
    record.result = RecordResult();
    record.result.serverExit = serverExit;
    setScores(record.result, m_replay.scores());
    record.consistent = m_consistent;
}

void MatchRunner::penalize(unsigned seat, const std::string& what) {
    abort(seat, seatName(seat) + " " + what);
    m_culprit = seat;
    m_penalty = what;
}

void MatchRunner::abort(unsigned seat, const std::string& reason) {
    m_end = MatchEnd::Aborted;
    m_reason = reason;
    m_silentSeat = seat != 0 ? std::optional<unsigned>(seat) : std::nullopt;
}

std::string MatchRunner::seatName(unsigned seat) const {
    const std::string name = seat >= 1 && seat <= m_setup.bots.size()
                                 ? m_setup.bots[seat - 1].name()
                                 : std::string("no bot");
    return "seat " + std::to_string(seat) + " (" + name + ")";
}
