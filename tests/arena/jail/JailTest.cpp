// Jailed matches against hostile bots: every attempt fails, every match ends with a record
// naming the culprit or the limit, and nothing of a match outlives it.

#include "arena/ArenaTestUtil.h"

#include "ControlGroup.h"
#include "Jail.h"

#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace arenatest;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* const UNPRIVILEGED[] = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    "--"};

/// Processes whose command line holds `mark` (the arena's own test process excluded).
std::vector<std::string> processesWith(const std::string& mark) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(getpid())) {
            continue;
        }
        std::ifstream in(e.path() / "cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find(mark) != std::string::npos) {
            std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
            found.push_back(pid + ": " + cmdline);
        }
    }
    return found;
}

/// Every file under `root` with its size and content, to see that nothing changed.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) {
            files[e.path().string()] = "(folder)";
            continue;
        }
        std::ifstream in(e.path(), std::ios::binary);
        files[e.path().string()] =
            std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return files;
}

/// A listener on the host's loopback; counts what reached it.
struct HostListener {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    unsigned port = 0;
    HostListener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 8);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~HostListener() { close(fd); }
    bool reached() const { return accept(fd, nullptr, nullptr) >= 0; }
};

struct Hostile {
    Hostile(std::string mode_, std::string arg_, json limits_, std::string says_,
            std::string other_ = "random", json config_ = json::object(), std::string tag_ = "",
            bool ownDir_ = true)
        : mode(std::move(mode_)), arg(std::move(arg_)), limits(std::move(limits_)),
          says(std::move(says_)), other(std::move(other_)), config(std::move(config_)),
          tag(tag_.empty() ? mode : std::move(tag_)), ownDir(ownDir_) {}

    std::string mode;
    std::string arg;
    json limits;
    /// Found in a record (reasons, limits) or in the hostile bot's logs.
    std::string says;
    /// The other bot's command (run in the hostile bot's folder when not a shorthand).
    std::string other;
    /// Keys over the tournament's.
    json config;
    /// Names the row's folders.
    std::string tag;
    /// Whether the hostile bot has a folder of its own; without, its script comes inline.
    bool ownDir;
};

const char* const PENALTIES[] = {"connected more than once", "within the match timeout"};

/// Seats the arena penalized whose bot is not the hostile one.
std::string innocentsPenalized(const std::string& out) {
    std::string wrong;
    for (const auto& e : fs::directory_iterator(out + "/matches")) {
        const json r = readJson(e.path().string());
        for (const json& d : r["disqualifications"]) {
            const std::string reason = d["reason"];
            const bool arenas = reason.find(PENALTIES[0]) != std::string::npos ||
                                reason.find(PENALTIES[1]) != std::string::npos;
            const json& seat = r["seats"][d["seat"].get<size_t>() - 1];
            if (arenas && seat["bot"] != "hostile") {
                wrong += e.path().string() + ": " + d.dump() + "\n";
            }
        }
    }
    return wrong;
}

/// A bot without a folder of its own (its program inline): it finds its start folder empty
/// and the file named by its argument unreadable, then connects and never answers.
std::string inlineHostile() {
    const std::string source =
        "import os, socket, struct, sys\n"
        "empty = os.listdir('.') == []\n"
        "print('nodir sees a folder: ' + ('blocked' if empty else 'NOT BLOCKED'), flush=True)\n"
        "try:\n"
        "    open(sys.argv[2]).read()\n"
        "    print('read: NOT BLOCKED', flush=True)\n"
        "except OSError:\n"
        "    print('read: blocked', flush=True)\n"
        "address = (os.environ['REVERSI_HOST'], int(os.environ['REVERSI_PORT']))\n"
        "s = socket.create_connection(address)\n"
        "s.sendall(struct.pack('>BIB', 1, 1, 9))\n"
        "while s.recv(65536):\n"
        "    pass\n";
    std::string hex;
    for (const unsigned char c : source) {
        const char* digits = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return "python3 -c \"exec(bytes.fromhex('" + hex + "'))\"";
}

json botsOf(const Hostile& h, const std::string& root) {
    const std::string hostileDir = root + "/bots/hostile";
    json hostile = {{"name", "hostile"}, {"limits", h.limits}};
    if (h.ownDir) {
        hostile["command"] = "python3 hostile.py " + h.mode + " " + h.arg;
        hostile["dir"] = hostileDir;
    } else {
        hostile["command"] = inlineHostile() + " " + h.mode + " " + h.arg;
    }
    const bool shorthand = h.other == "random";
    json other = {{"name", "other"},
                  {"command", h.other},
                  {"dir", shorthand ? root + "/bots/other" : hostileDir}};
    return json::array({hostile, other});
}

/// Everything the records of a tournament folder and its logs say.
std::string everythingSaid(const std::string& out, int& records) {
    std::string said;
    records = 0;
    for (const auto& e : fs::directory_iterator(out + "/matches")) {
        const json r = readJson(e.path().string());
        ++records;
        said += r["result"].dump() + r["disqualifications"].dump() + r["seats"].dump();
    }
    for (const auto& e : fs::recursive_directory_iterator(out + "/logs")) {
        if (e.is_regular_file()) {
            std::ifstream in(e.path());
            said +=
                std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
    }
    return said;
}

void runTable(bool unprivileged) {
    std::string error;
    if (!Jail::available(error)) {
        GTEST_SKIP() << error;
    }
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const std::string map = dir.write("tiny.map", TINY2);
    fs::create_directories(dir.path() + "/bots/hostile");
    fs::create_directories(dir.path() + "/bots/other");
    fs::copy_file(std::string(REVERSI_SOURCE_DIR) + "/tests/arena/hostile.py",
                  dir.path() + "/bots/hostile/hostile.py");
    const std::string secret = dir.write("bots/other/secret.txt", "the other bot's book\n");
    const std::string mark = "hostile-daemon-" + std::to_string(getpid());
    HostListener host;
    const std::vector<Hostile> table{
        {"read", secret, json::object(), "read: blocked"},
        {"write", dir.path() + "/t-write/matches", json::object(), "write: blocked"},
        {"hostnet", std::to_string(host.port), json::object(), "hostnet: blocked"},
        {"twice", "", json::object(), "\"reason\":\"connected more than once\""},
        // A ghost of the hostile bot's tree takes the next seat, or tries to.
        {"ghost", "40", json::object(), "\"reason\":\"connected more than once\"",
         "sleep 1; exec python3 hostile.py idle", json::object(), "ghost-early-slow"},
        {"ghost", "150", json::object(), "\"reason\":\"connected more than once\"", "random",
         json::object(), "ghost-late-fast"},
        {"park", "", json::object(), "\"reason\":\"connected more than once\""},
        {"listen", "", json::object(), "talk udp: blocked", "python3 hostile.py reach"},
        {"freeze",
         "",
         json::object(),
         "\"reason\":\"never answered its move request within the match timeout (5 s)\"",
         "random",
         {{"depth", 2}, {"match_timeout", 5}}},
        {"syscalls", "", json::object(), "keyctl: blocked"},
        {"nodir", dir.path() + "/t-nodir.json", json::object(), "nodir sees a folder: blocked",
         "random", json::object(), "", false},
        {"sigstop", "", json::object(), "saw 0 other processes"},
        {"killparent", "", json::object(), "\"end\":\"final\""},
        {"daemon", mark, json::object(), "\"end\":\"final\""},
        {"forkbomb", "", {{"processes", 16}}, "too many processes"},
        {"memory", "", {{"memory_mb", 256}}, "exceeded its memory limit"},
        {"fill", "", {{"writable_mb", 8}}, "filled its writable folder"},
        {"everywhere", "", {{"writable_mb", 8}}, "filled its writable folder"},
    };
    const auto before = snapshot(dir.path() + "/bots");
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (const Hostile& h : table) {
        const std::string& tag = h.tag;
        const std::string out = dir.path() + "/t-" + tag;
        fs::create_directories(out + "/matches");
        fs::permissions(out, fs::perms::all);
        fs::permissions(out + "/matches", fs::perms::all);
        json config = {
            {"bots", botsOf(h, dir.path())}, {"maps", {map}}, {"time", 1}, {"match_timeout", 30}};
        if (h.config.contains("depth")) {
            config.erase("time");
        }
        config.update(h.config);
        const std::string cfg = dir.write("t-" + tag + ".json", config.dump());
        std::vector<std::string> args{"tournament", cfg, "--out", out};
        std::vector<std::string> words = arenaArgs(args);
        std::string program = REVERSI_ARENA_BIN;
        if (unprivileged) {
            words.insert(words.begin(), std::begin(UNPRIVILEGED), std::end(UNPRIVILEGED));
            words[5] = REVERSI_ARENA_BIN;
            program = "setpriv";
        }
        runs.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(runs.back()->start(program, words, {"", out + ".out", ""}));
    }
    for (size_t i = 0; i < table.size(); ++i) {
        const Hostile& h = table[i];
        const std::string& tag = h.tag;
        EXPECT_EQ(runs[i]->wait(LONG_WAIT), 0) << tag << runs[i]->output();
        int records = 0;
        const std::string said = everythingSaid(dir.path() + "/t-" + tag, records);
        EXPECT_EQ(innocentsPenalized(dir.path() + "/t-" + tag), "") << tag;
        EXPECT_EQ(records, 2) << tag << runs[i]->output();
        EXPECT_NE(said.find(h.says), std::string::npos) << tag << ": " << said;
        EXPECT_EQ(said.find("NOT BLOCKED"), std::string::npos) << tag << ": " << said;
        EXPECT_EQ(said.find("(other)"), std::string::npos) << tag << ": " << said;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(processesWith(dir.path()), std::vector<std::string>());
    EXPECT_EQ(processesWith(mark), std::vector<std::string>());
    EXPECT_FALSE(host.reached());
    EXPECT_TRUE(snapshot(dir.path() + "/bots") == before) << "a bot's folder changed";
    EXPECT_FALSE(fs::exists(dir.path() + "/t-write/matches/forged.json"));
}

/// A bot folder holding the bot kit and these scripts of the tests.
void botFolder(const TempDir& dir, const std::string& name) {
    const std::string folder = dir.path() + "/bots/" + name;
    fs::create_directories(folder);
    fs::copy(std::string(REVERSI_SOURCE_DIR) + "/clients/python/reversi_bot",
             folder + "/reversi_bot", fs::copy_options::recursive);
    for (const char* script : {"hostile.py", "worker.py"}) {
        fs::copy_file(std::string(REVERSI_SOURCE_DIR) + "/tests/arena/" + script,
                      folder + "/" + script);
    }
}

/// Plays a resource-hungry bot against the worker (5 ms of CPU a move at 0.2 s a move) in
/// both seat orders; what the records and logs say.
std::string playHungry(const TempDir& dir, const Hostile& h, std::string& worker) {
    const std::string out = dir.path() + "/t-" + h.mode;
    const json config = {
        {"bots",
         {{{"name", "hungry"}, {"command", h.arg}, {"dir", "bots/hungry"}, {"limits", h.limits}},
          {{"name", "worker"}, {"command", "python3 worker.py 5"}, {"dir", "bots/worker"}}}},
        {"maps", {"tiny.map"}},
        {"time", 0.2},
        {"match_timeout", 30}};
    const std::string cfg = dir.write("t-" + h.mode + ".json", config.dump());
    ChildProcess arena;
    EXPECT_TRUE(startArena(arena, {"tournament", cfg, "--out", out}, out + ".out"));
    EXPECT_EQ(arena.wait(LONG_WAIT), 0) << h.mode << arena.output();
    worker.clear();
    for (const auto& e : fs::directory_iterator(out + "/matches")) {
        const json r = readJson(e.path().string());
        for (const json& seat : r["seats"]) {
            const json run = seat.value("sandbox", json::object());
            if (seat["exit"].is_null()) {
                continue; // never started: the bot before it ended the match
            }
            EXPECT_EQ(run.value("held_by", "").substr(0, 7), "cgroup ") << h.mode << seat;
            EXPECT_TRUE(seat.contains("cpu_ms") && seat.contains("max_rss_mb")) << seat;
            if (seat["bot"] == "worker") {
                worker += run.value("stopped_by", "");
            }
        }
        for (const json& d : r["disqualifications"]) {
            if (r["seats"][d["seat"].get<unsigned>() - 1]["bot"] == "worker") {
                worker += d["reason"].get<std::string>();
            }
        }
    }
    int records = 0;
    const std::string said = everythingSaid(out, records);
    EXPECT_EQ(records, 2) << h.mode;
    return said;
}

/// The ponderer's CPU while waiting and pondering in each record of a tournament between a
/// bot that keeps a busy loop running on every turn and the worker (20 ms of CPU a move).
std::vector<std::pair<uint64_t, std::string>> playPonderer(const TempDir& dir, bool pondering) {
    const std::string name = pondering ? "ponder-on" : "ponder-off";
    const json config = {
        {"bots",
         {{{"name", "ponderer"}, {"command", "python3 worker.py 0 hog 1"}, {"dir", "bots/hungry"}},
          {{"name", "worker"}, {"command", "python3 worker.py 20"}, {"dir", "bots/worker"}}}},
        {"maps", {"six.map"}},
        {"time", 0.5},
        {"match_timeout", 60},
        {"limits", {{"pondering", pondering}}}};
    const std::string out = dir.path() + "/" + name;
    ChildProcess arena;
    EXPECT_TRUE(startArena(arena,
                           {"tournament", dir.write(name + ".json", config.dump()), "--out", out},
                           out + ".out"));
    EXPECT_EQ(arena.wait(LONG_WAIT), 0) << arena.output();
    std::vector<std::pair<uint64_t, std::string>> ponderer;
    for (const auto& e : fs::directory_iterator(out + "/matches")) {
        const json r = readJson(e.path().string());
        EXPECT_EQ(r["result"]["end"], "final") << r;
        for (const json& seat : r["seats"]) {
            EXPECT_EQ(seat.value("pondering", ""), pondering ? "allowed" : "frozen") << seat;
            if (seat["bot"] == "ponderer") {
                ponderer.emplace_back(seat.value("cpu_wait_ms", uint64_t{0}), seat.dump());
            }
        }
    }
    EXPECT_EQ(ponderer.size(), 2u);
    return ponderer;
}

} // namespace

TEST(Jail, HungryBotsAreHeldAtTheirLimitsAndTheirOpponentKeepsItsTime) {
    std::string error;
    if (!Jail::available(error)) {
        GTEST_SKIP() << error;
    }
    if (ControlGroup::kind(error).empty()) {
        GTEST_SKIP() << error;
    }
    TempDir dir;
    openToJailedBots(dir);
    dir.write("tiny.map", TINY2);
    botFolder(dir, "hungry");
    botFolder(dir, "worker");
    // Each with the limit that stops it; a hog of many sessions is held by its CPU share.
    const std::vector<Hostile> table{
        {"sessions", "python3 worker.py 0 hog 48", json::object(), "\"end\":\"final\""},
        {"children",
         "python3 hostile.py children",
         {{"memory_mb", 256}},
         "exceeded its memory limit"},
        {"forkbomb", "python3 hostile.py forkbomb", {{"processes", 16}}, "too many processes"},
        {"everywhere",
         "python3 hostile.py everywhere",
         {{"writable_mb", 8}},
         "filled its writable folder"},
    };
    for (const Hostile& h : table) {
        std::string worker;
        const std::string said = playHungry(dir, h, worker);
        EXPECT_NE(said.find(h.says), std::string::npos) << h.mode << ": " << said;
        EXPECT_EQ(said.find("NOT BLOCKED"), std::string::npos) << h.mode << ": " << said;
        EXPECT_EQ(worker, "") << h.mode << ": the worker was stopped";
    }
    EXPECT_EQ(processesWith(dir.path()), std::vector<std::string>());
}

TEST(Jail, APonderingBotIsFrozenOnOthersTurnsOnlyWhenAskedTo) {
    std::string error;
    if (!Jail::available(error) || ControlGroup::kind(error).empty()) {
        GTEST_SKIP() << error;
    }
    TempDir dir;
    openToJailedBots(dir);
    // Two players on 6 x 6 from the usual four stones: some 30 moves.
    std::string six = "2\n0\n0 0\n6 6\n";
    for (int y = 0; y < 6; ++y) {
        six += y == 2 ? "0 0 1 2 0 0\n" : y == 3 ? "0 0 2 1 0 0\n" : "0 0 0 0 0 0\n";
    }
    dir.write("six.map", six);
    botFolder(dir, "hungry");
    botFolder(dir, "worker");
    // Its busy loop runs on the worker's turns (some 15 of 20 ms or more) unless frozen then;
    // frozen, only the moments the arena takes to see the turns change count.
    for (const auto& [waitingMs, seat] : playPonderer(dir, false)) {
        EXPECT_LT(waitingMs, 60u) << seat;
    }
    for (const auto& [waitingMs, seat] : playPonderer(dir, true)) {
        EXPECT_GT(waitingMs, 100u) << seat;
    }
    EXPECT_EQ(processesWith(dir.path()), std::vector<std::string>());
}

TEST(Jail, HostileBotsFailAndAreNamed) {
    runTable(false);
}

TEST(Jail, HostileBotsFailAndAreNamedUnprivileged) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "already unprivileged: the other case covers it";
    }
    ChildProcess probe;
    const std::vector<std::string> words{
        "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
        "--",      "unshare",       "-Urn",          "true"};
    if (!probe.start("setpriv", words, {"", "/dev/null", ""}) ||
        probe.wait(std::chrono::seconds(10)) != 0) {
        GTEST_SKIP() << "user namespaces are not allowed to an unprivileged user here";
    }
    runTable(true);
}

TEST(Jail, NothingOfAMatchOutlivesTheArenaKilled) {
    std::string error;
    if (!Jail::available(error)) {
        GTEST_SKIP() << error;
    }
    TempDir dir;
    openToJailedBots(dir);
    const std::string map = dir.write("tiny.map", TINY2);
    const std::string mark = "outlive-" + std::to_string(getpid());
    // Connects and then waits; it also leaves a setsid sleeper.
    const std::string bot = "setsid sleep 300 " + mark +
                            " & python3 -c 'import os, socket, time; "
                            "s = socket.create_connection((\"127.0.0.1\", "
                            "int(os.environ[\"REVERSI_PORT\"]))); time.sleep(300)' " +
                            mark;
    ChildProcess arena;
    ASSERT_TRUE(startArena(arena,
                           {"match", map, "--sandbox", "--bot", "random", "--bot", bot, "-d", "1",
                            "--match-timeout", "120", "--logs", dir.path() + "/logs"},
                           dir.path() + "/out"));
    for (int i = 0; i < 100 && processesWith("sleep 300 " + mark).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(processesWith(map).empty()) << arena.output();
    ASSERT_FALSE(processesWith("sleep 300 " + mark).empty()) << arena.output();
    kill(arena.pid(), SIGKILL);
    arena.wait(std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(processesWith(map), std::vector<std::string>());
    EXPECT_EQ(processesWith(mark), std::vector<std::string>());
}

TEST(Jail, JailedTournamentGivesTheSameResults) {
    std::string error;
    if (!Jail::available(error)) {
        GTEST_SKIP() << error;
    }
    TempDir dir;
    openToJailedBots(dir);
    dir.write("tiny.map", TINY2);
    // Depth-limited, so that the reference clients play the same moves however long they take.
    const auto runWith = [&](bool sandbox) {
        const std::string name = sandbox ? "jailed" : "plain";
        const json config = {{"bots",
                              {{{"name", "r"}, {"command", "random"}},
                               {{"name", "g"}, {"command", "greedy"}},
                               {{"name", "s"}, {"command", "search:3"}}}},
                             {"maps", {"tiny.map"}},
                             {"depth", 2},
                             {"concurrency", 2},
                             {"seed", 7},
                             {"sandbox", sandbox}};
        const std::string cfg = dir.write(name + ".json", config.dump());
        ChildProcess arena;
        EXPECT_TRUE(startArena(arena, {"tournament", cfg, "--out", dir.path() + "/" + name},
                               dir.path() + "/" + name + ".out"));
        EXPECT_EQ(arena.wait(LONG_WAIT), 0) << arena.output();
        std::map<std::string, json> records;
        for (const auto& e : fs::directory_iterator(dir.path() + "/" + name + "/matches")) {
            json r = readJson(e.path().string());
            for (const char* key : {"started", "duration_s"}) {
                r.erase(key);
            }
            // How each bot ran and what it used differ; what it played must not.
            for (json& seat : r["seats"]) {
                for (const char* key : {"sandbox", "cpu_ms", "max_rss_mb"}) {
                    seat.erase(key);
                }
            }
            records[e.path().filename().string()] = r;
        }
        return records;
    };
    const auto plain = runWith(false);
    const auto jailed = runWith(true);
    EXPECT_EQ(plain.size(), 6u);
    EXPECT_EQ(plain, jailed);
}

TEST(Jail, ABotFolderTheJailCannotReadIsNamedBeforeAnyMatch) {
    std::string error;
    if (!Jail::available(error)) {
        GTEST_SKIP() << error;
    }
    if (!Jail::dropsPrivileges()) {
        GTEST_SKIP() << "the jail runs as the arena's own user here, who can read its folders";
    }
    TempDir dir;
    openToJailedBots(dir);
    dir.write("tiny.map", TINY2);
    fs::create_directories(dir.path() + "/shut/bot");
    fs::create_directories(dir.path() + "/open/bot");
    fs::permissions(dir.path() + "/shut", fs::perms::owner_all | fs::perms::group_exec);
    fs::permissions(dir.path() + "/open/bot", fs::perms::owner_all);
    const std::string tail =
        "; make it readable, or run unjailed (--no-sandbox / \"sandbox\": false)";
    const std::string jailUser = "the jail's user (uid 65534) ";
    const struct {
        std::string bot;
        std::string says;
    } table[] = {
        {"shut/bot", jailUser + "cannot read its folder " + dir.path() + "/shut/bot (" +
                         dir.path() + "/shut is mode 0710)" + tail},
        {"open/bot", jailUser + "cannot read its folder " + dir.path() + "/open/bot (" +
                         dir.path() + "/open/bot is mode 0700)" + tail},
        {"missing", jailUser + "cannot read its folder " + dir.path() + "/missing (" + dir.path() +
                        "/missing: No such file or directory)" + tail},
        {"/dev/null", "its folder /dev/null is not a folder (\"dir\" must name one)"},
        {"tiny.map",
         "its folder " + dir.path() + "/tiny.map is not a folder (\"dir\" must name one)"},
    };
    for (const auto& c : table) {
        const json config = {{"bots",
                              {{{"name", "r"}, {"command", "random"}},
                               {{"name", "b"}, {"command", "random"}, {"dir", c.bot}}}},
                             {"maps", {"tiny.map"}},
                             {"depth", 1}};
        const std::string cfg = dir.write("t.json", config.dump());
        const std::string out = dir.path() + "/out-" + std::to_string(&c - table);
        ChildProcess arena;
        ASSERT_TRUE(startArena(arena, {"tournament", cfg, "--out", out}, out + ".txt"));
        EXPECT_NE(arena.wait(LONG_WAIT), 0) << c.bot;
        EXPECT_NE(arena.output().find("bot b: " + c.says + "\n"), std::string::npos)
            << arena.output();
        EXPECT_TRUE(fs::is_empty(out + "/matches")) << c.bot;
    }
}
