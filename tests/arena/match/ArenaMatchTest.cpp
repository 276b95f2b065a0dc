// arena match end to end: real server, reference and scripted bots, the record checked against
// the game model, and bots that misbehave.

#include "arena/ArenaTestUtil.h"

#include "Game.h"
#include "Map.h"
#include "Move.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sstream>

using namespace arenatest;
using nlohmann::json;

namespace {

/// The board as the record shows it: a stone as the player who owns it, else the map token.
std::vector<std::string> shown(const Game& game) {
    const GameBoard& b = game.getBoard();
    std::vector<std::string> cells;
    for (uint16_t y = 0; y < b.getHeight(); ++y) {
        for (uint16_t x = 0; x < b.getWidth(); ++x) {
            const Square s = b.get_square(b.coords2index(x, y));
            std::ostringstream os;
            if (isColour(s)) {
                os << static_cast<unsigned>(b.btop(s));
            } else {
                os << s;
            }
            cells.push_back(os.str());
        }
    }
    return cells;
}

} // namespace

TEST(ArenaMatch, ScriptedBotAgainstReferenceClientRecordMatchesTheGameModel) {
    TempDir dir;
    const std::string map = dir.write("tiny.map", TINY2);
    // The scripted bot: the reference client under a group id of its own, reached through the
    // environment the arena sets.
    const std::string bot =
        dir.write("bot.sh", std::string("exec '") + REVERSI_CLIENT_BIN +
                                "' -H \"$REVERSI_HOST\" -p \"$REVERSI_PORT\" -g 42 -s greedy\n");
    ChildProcess arena;
    ASSERT_TRUE(startArena(arena,
                           {"match", map, "--bot", "sh " + bot, "--bot", "random:7", "-t", "1",
                            "--record", dir.path() + "/r.json", "--logs", dir.path() + "/logs",
                            "--limit", "pondering=0"},
                           dir.path() + "/out"));
    ASSERT_EQ(arena.wait(LONG_WAIT), 0) << arena.output();
    EXPECT_NE(arena.output().find("Place  Seat"), std::string::npos) << arena.output();

    const json r = readRecord(dir.path() + "/r.json");
    ASSERT_FALSE(r.is_discarded());
    EXPECT_EQ(r["format"], "reversi-match-1");
    EXPECT_EQ(r["result"]["end"], "final");
    EXPECT_EQ(r["result"]["server_exit"], 0);
    EXPECT_EQ(r["seats"][0]["group"], 42);
    EXPECT_EQ(r["seats"][1]["command"], "random:7");
    EXPECT_EQ(r["limits"]["time_ms"], 1000);
    EXPECT_TRUE(r["consistent"].get<bool>());
    ASSERT_FALSE(r["moves"].empty());
    // Unjailed, no group can be frozen: said once, and each seat's record says so.
    const std::string warning = "think on other seats' turns all the same";
    const size_t said = arena.output().find(warning);
    EXPECT_NE(said, std::string::npos) << arena.output();
    EXPECT_EQ(arena.output().find(warning, said + 1), std::string::npos) << arena.output();
    for (const json& seat : r["seats"]) {
        EXPECT_EQ(seat["pondering"], "not held") << seat;
        EXPECT_TRUE(seat["cpu_wait_ms"].is_number_unsigned()) << seat;
    }

    // Apply the recorded moves to a game of our own; the recorded changes, laid on the map one
    // after the other, must give the game's board after every move, and its scores at the end.
    Map model;
    ASSERT_TRUE(model.loadFromString(r["map"]["text"].get<std::string>()));
    Game game(model, false);
    std::vector<std::string> board = shown(game);
    for (const json& m : r["moves"]) {
        const Move move(m["x"].get<uint16_t>(), m["y"].get<uint16_t>(),
                        static_cast<MoveChoice>(m["choice"].get<unsigned>()),
                        static_cast<Player>(m["seat"].get<unsigned>()), game.is_terminal());
        ASSERT_TRUE(game.checkMove(move, true)) << m;
        ASSERT_TRUE(game.makeMove(move));
        for (const json& c : m["changes"]) {
            board[c[1].get<size_t>() * model.getWidth() + c[0].get<size_t>()] = c[2];
        }
        EXPECT_EQ(board, shown(game)) << "after move " << m["n"];
        EXPECT_EQ(m["time_ms"].get<unsigned>() + m["left_ms"].get<unsigned>() >= 1000, true);
    }
    EXPECT_TRUE(game.is_final());
    int scores[2];
    game.get_scores(scores);
    EXPECT_EQ(r["result"]["scores"], json({scores[0], scores[1]}));
}

TEST(ArenaMatch, MisbehavingBotsBecomeClearEntries) {
    TempDir dir;
    const std::string map = dir.write("tiny.map", TINY2);
    const std::string bad = dir.write("bad.map", "2\n0\n0 0\n4 4\n0 0 0\n");
    const std::string notUtf8 = dir.write("bad\xFF.map", "2\n0\n0 0\n4 4\n\xFF 0 0\n");
    const std::string fake =
        std::string("python3 ") + REVERSI_SOURCE_DIR + "/tests/arena/fakebot.py ";
    const std::string hostile =
        std::string("python3 ") + REVERSI_SOURCE_DIR + "/tests/arena/hostile.py ";
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::string end;
        std::string says; // in the result's reason, or in a disqualification
    };
    const std::vector<Case> cases{
        {"crash",
         {map, "--bot", "exit 3", "--bot", "random", "-t", "1"},
         "aborted",
         "seat 1 (exit) ended before connecting (exit status 3)"},
        {"never",
         {map, "--bot", "random", "--bot", "sleep 60", "-t", "1", "--connect-timeout", "1"},
         "aborted",
         "seat 2 (sleep) did not connect within 1 s"},
        // The seat that stops the match loses it; the other keeps its place.
        {"twice",
         {map, "--bot", fake + "twice", "--bot", "random", "-t", "1"},
         "final",
         "connected more than once"},
        {"hang-depth",
         {map, "--bot", "random", "--bot", fake + "hang", "-d", "2", "--match-timeout", "4"},
         "final",
         "never answered its move request within the match timeout (4 s)"},
        // Unjailed, a ghost that connects and closes before the slow bot of seat 2 connects
        // takes seat 2: no seat can be named, and the match is void rather than won.
        {"ghost",
         {map, "--bot", hostile + "ghost 150", "--bot", "sleep 1; exec {client} -p {port}", "-t",
          "1"},
         "aborted",
         "a connection to the server closed before it was proven"},
        {"hang-time",
         {map, "--bot", fake + "hang", "--bot", "random", "-t", "0.3"},
         "final",
         "timeout during move"},
        {"illegal",
         {map, "--bot", fake + "illegal", "--bot", "random", "-t", "1"},
         "final",
         "captures nothing"},
        {"flood",
         {map, "--bot", "head -c 3000000 /dev/zero; exec {client} -p {port}", "--bot", "random",
          "-t", "1", "--bot-log-limit", "1000"},
         "final",
         ""},
        // A bot that leaves a child behind: the whole process group goes with it.
        {"leftover",
         {map, "--bot",
          "sleep 300 & echo $! > " + dir.path() + "/leftover.pid; exec {client} -p {port}", "--bot",
          "random", "-t", "1"},
         "final",
         ""},
        {"badmap",
         {bad, "--bot", "random", "--bot", "random", "-t", "1"},
         "server_failed",
         "Error loading map"},
        // Bytes that are not UTF-8 in the map, its name and a command: a record all the same.
        {"notutf8",
         {notUtf8, "--bot", "random", "--bot", "exec {client} -p {port} # \xFF", "-t", "1"},
         "server_failed",
         "Error loading map"},
    };
    // All at once: each has its own server on its own ports.
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (const Case& c : cases) {
        std::vector<std::string> args{"match"};
        for (std::string a : c.args) {
            const size_t at = a.find("{client}");
            if (at != std::string::npos) {
                a.replace(at, 8, REVERSI_CLIENT_BIN);
            }
            args.push_back(a);
        }
        args.insert(args.end(), {"--record", dir.path() + "/" + c.name + ".json", "--logs",
                                 dir.path() + "/" + c.name});
        runs.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(startArena(*runs.back(), args, dir.path() + "/" + c.name + ".out"));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const int status = runs[i]->wait(LONG_WAIT);
        EXPECT_EQ(status, c.end == "final" ? 0 : 1) << c.name << runs[i]->output();
        const json r = readRecord(dir.path() + "/" + c.name + ".json");
        ASSERT_FALSE(r.is_discarded()) << c.name << runs[i]->output();
        EXPECT_EQ(r["result"]["end"], c.end) << c.name << r["result"];
        std::string said = r["result"].value("reason", "");
        for (const json& d : r["disqualifications"]) {
            said += " " + d["reason"].get<std::string>() + " " + d.value("detail", "");
        }
        EXPECT_NE(said.find(c.says), std::string::npos) << c.name << ": " << said;
        EXPECT_NE(runs[i]->output().find(c.end == "final" ? "Place" : "Not played to its end"),
                  std::string::npos)
            << c.name << runs[i]->output();
    }
    const json flood = readRecord(dir.path() + "/flood.json");
    EXPECT_GE(flood["seats"][0]["log_dropped_bytes"].get<long>(), 3000000 - 1000)
        << flood["seats"][0];
    std::ifstream log(dir.path() + "/flood/seat1.log", std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long>(log.tellg()), 1000);
    std::ifstream pidFile(dir.path() + "/leftover.pid");
    pid_t leftover = 0;
    ASSERT_TRUE(pidFile >> leftover);
    // Gone, or at most a zombie waiting for its new parent to reap it.
    std::ifstream stat("/proc/" + std::to_string(leftover) + "/stat");
    std::string pid, name, state;
    EXPECT_TRUE(!(stat >> pid >> name >> state) || state == "Z") << "still running: " << leftover;
    const json repaired = readRecord(dir.path() + "/notutf8.json");
    EXPECT_EQ(repaired["map"]["file"], dir.path() + "/bad\xEF\xBF\xBD.map");
    // The match id is made from the map's file name.
    EXPECT_EQ(repaired["warnings"], json::array({"bytes that are not UTF-8 were replaced by U+FFFD "
                                                 "in id, map.file, map.text, seats[1].command"}));
    const json hang = readRecord(dir.path() + "/hang-depth.json");
    EXPECT_EQ(hang["result"]["ranks"], json({1, 2}));
    EXPECT_EQ(hang["disqualifications"].back(),
              json({{"seat", 2},
                    {"at_move", hang["moves"].size()},
                    {"reason", "never answered its move request within the match timeout (4 s)"}}));
    const json twice = readRecord(dir.path() + "/twice.json");
    EXPECT_EQ(twice["result"]["scores"], json({nullptr, 2}));
}

TEST(ArenaMatch, LiveViewByDefaultServerConsoleWithShowOnlyTheResultWhenQuiet) {
    TempDir dir;
    const std::string map = dir.write("tiny.map", TINY2);
    const std::vector<std::string> views{"live", "show", "quiet"};
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (const std::string& view : views) {
        std::vector<std::string> args{
            "match",  map,  "--bot", "me=greedy", "--bot",
            "greedy", "-t", "1",     "--record",  dir.path() + "/" + view + ".json"};
        if (view != "live") {
            args.push_back("--" + view);
        }
        runs.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(startArena(*runs.back(), args, dir.path() + "/" + view + ".out"));
    }
    for (auto& run : runs) {
        ASSERT_EQ(run->wait(LONG_WAIT), 0) << run->output();
    }
    const std::string live = runs[0]->output();
    const std::string show = runs[1]->output();
    const std::string quiet = runs[2]->output();
    // The server's console only with --show.
    for (const std::string& out : {live, quiet}) {
        EXPECT_EQ(out.find("Sending move request"), std::string::npos) << out;
        EXPECT_EQ(out.find("Board"), std::string::npos) << out;
    }
    EXPECT_NE(show.find("Sending move request to player 1"), std::string::npos) << show;
    EXPECT_NE(show.find("\nBoard\n"), std::string::npos) << show;
    EXPECT_EQ(show.find("\nmove 0: seat"), std::string::npos) << show;
    EXPECT_EQ(quiet.find("\nmove 0: seat"), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("Place  Seat  Bot     Score"), std::string::npos) << quiet;

    // The live view: a header, one line per recorded move, a summary, then the result table.
    const json r = readJson(dir.path() + "/live.json");
    ASSERT_FALSE(r.is_discarded()) << live;
    EXPECT_EQ(r["seats"][0]["bot"], "me");
    EXPECT_EQ(r["seats"][0]["command"], "greedy");
    EXPECT_EQ(r["seats"][1]["bot"], "greedy");
    std::istringstream lines(live);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "Seats: 1 me, 2 greedy");
    const std::regex status(
        R"(move (\d+): seat (\d) \((\d),(\d)\)  stones (\d+) (\d+)  clocks \d\.\ds \d\.\ds)");
    std::string last;
    for (const json& m : r["moves"]) {
        std::getline(lines, line);
        std::smatch got;
        ASSERT_TRUE(std::regex_match(line, got, status)) << line;
        EXPECT_EQ(got[1].str() + got[2].str() + got[3].str() + got[4].str(),
                  m["n"].dump() + m["seat"].dump() + m["x"].dump() + m["y"].dump());
        if (m["n"] == 0) {
            // Every opening move on this board turns exactly one stone.
            EXPECT_EQ(got[5].str() + " " + got[6].str(), "4 1");
        }
        last = got[5].str() + " " + got[6].str();
    }
    EXPECT_EQ(last, r["result"]["scores"][0].dump() + " " + r["result"]["scores"][1].dump());
    std::getline(lines, line);
    const std::string summary =
        "Game over after " + std::to_string(r["moves"].size()) + " moves: stones " + last;
    EXPECT_EQ(line.substr(0, summary.size() + 9), summary + "  clocks ") << line;
    EXPECT_NE(live.find("Place  Seat  Bot     Score\n1"), std::string::npos) << live;
}

TEST(ArenaMatch, LimitsPastTheirMaximaAreRefusedNamingTheKey) {
    TempDir dir;
    const std::string map = dir.write("tiny.map", TINY2);
    const struct {
        std::string limit;
        std::string says;
    } cases[] = {
        // 2^32 used to wrap to 0 ("off"), 2^32 + 1 to 1.
        {"processes=4294967296",
         "limit \"processes\" must be a whole number from 0 (off) to 4194304, not 4294967296"},
        {"open_files=4294967297",
         "limit \"open_files\" must be a whole number from 0 (off) to 1048576, not 4294967297"},
        {"cpu_s=99999999999999999999999",
         "limit \"cpu_s\" must be a whole number from 0 (off) to 31536000, not "
         "\"99999999999999999999999\""},
        {"writable_mb=1048577",
         "limit \"writable_mb\" must be a whole number from 0 (off) to 1048576, not 1048577"},
    };
    for (const auto& c : cases) {
        ChildProcess arena;
        ASSERT_TRUE(startArena(arena,
                               {"match", map, "--bot", "random", "--bot", "random", "-d", "1",
                                "--limit", c.limit, "--record", dir.path() + "/r.json"},
                               dir.path() + "/out.txt"));
        EXPECT_EQ(arena.wait(LONG_WAIT), 1) << c.limit;
        EXPECT_NE(arena.output().find(c.says), std::string::npos) << arena.output();
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/r.json")) << c.limit;
    }
}
