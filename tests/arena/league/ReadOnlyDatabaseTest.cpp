// A league read by someone who may not write it (a copy of another user's league, a
// read-only mount): the report works and changes nothing; a run says in one line why it
// cannot play.

#include "arena/LeagueTestUtil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace arenatest;
using namespace leaguetest;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const char* const SETPRIV = "/usr/bin/setpriv";

/// Every entry under `dir`, with a file's bytes and time of change: the same before and after
/// only when nothing was written, made or removed.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string state;
        if (entry.is_regular_file()) {
            state = std::to_string(entry.last_write_time().time_since_epoch().count()) + " " +
                    readText(entry.path().string());
        }
        entries[entry.path().string()] = state;
    }
    return entries;
}

/// Makes `dir` and everything under it readable by anyone, writable by its owner only when
/// `ownerWrites`.
void setModes(const std::string& dir, bool ownerWrites) {
    using fs::perms;
    const perms files = perms::owner_read | perms::group_read | perms::others_read;
    const perms folders = files | perms::owner_exec | perms::group_exec | perms::others_exec;
    const perms write = ownerWrites ? perms::owner_write : perms::none;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        fs::permissions(entry.path(), (entry.is_directory() ? folders : files) | write);
    }
    fs::permissions(dir, folders | write);
}

/// The command that runs `command` as the reader: as root, the unprivileged user "nobody"
/// (root writes any file); else this user, who owns nothing it may write there.
std::vector<std::string> asReader(std::vector<std::string> command) {
    if (geteuid() == 0) {
        command.insert(command.begin(),
                       {SETPRIV, "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    return command;
}

/// The arena's command line with these words.
std::vector<std::string> arena(const std::vector<std::string>& words) {
    std::vector<std::string> command = arenaArgs(words);
    command[0] = REVERSI_ARENA_BIN;
    return command;
}

/// Runs `command` as the reader to its end: its exit status, its output in `output`.
int runAsReader(const std::vector<std::string>& command, const std::string& outFile,
                std::string& output) {
    const std::vector<std::string> argv = asReader(command);
    ChildProcess child;
    if (!child.start(argv[0], argv, {"", outFile, ""})) {
        return -1;
    }
    const int status = child.wait(LONG_WAIT);
    output = child.output();
    return status;
}

} // namespace

TEST(SqlDatabase, AReportReadsALeagueItMayNotWriteAndWritesNothing) {
    TempDir played;
    played.write("a.map", TINY2);
    writeLeague(played, "",
                {{{"name", "g"}, {"command", "greedy"}}, {{"name", "r"}, {"command", "random"}}},
                {"a.map"});
    std::string output;
    ASSERT_EQ(runLeague(played, output), 0) << output;

    TempDir copy;
    TempDir outputs;
    const std::string league = copy.path() + "/league";
    fs::copy(played.path(), league, fs::copy_options::recursive);
    setModes(copy.path(), geteuid() == 0);
    std::string probe;
    if (geteuid() == 0 && (access(SETPRIV, X_OK) != 0 ||
                           runAsReader({"test", "-r", league + "/league.db", "-a", "-x",
                                        REVERSI_ARENA_BIN, "-a", "!", "-w", league + "/league.db"},
                                       outputs.path() + "/probe.out", probe) != 0)) {
        setModes(copy.path(), true);
        GTEST_SKIP() << "root cannot run the arena as a user who may read a league but not "
                        "write it (setpriv to uid 65534)";
    }
    const auto before = snapshot(copy.path());

    EXPECT_EQ(
        runAsReader(arena({"league", "report", league}), outputs.path() + "/text.out", output), 0)
        << output;
    EXPECT_NE(output.find("Standings (2 matches"), std::string::npos) << output;
    EXPECT_NE(output.find("g v1"), std::string::npos) << output;
    EXPECT_EQ(runAsReader(arena({"league", "report", league, "--json"}),
                          outputs.path() + "/json.out", output),
              0)
        << output;
    EXPECT_EQ(json::parse(output, nullptr, false).value("matches", -1), 2) << output;

    // A run must store what it plays: it stops at once, saying why in one line.
    EXPECT_EQ(runAsReader(arena({"league", league}), outputs.path() + "/run.out", output), 1);
    EXPECT_NE(output.find("readonly database"), std::string::npos) << output;
    EXPECT_EQ(output.find('\n'), output.size() - 1) << output;

    EXPECT_EQ(snapshot(copy.path()), before);
    setModes(copy.path(), true);
}
