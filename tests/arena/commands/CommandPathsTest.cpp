// Paths on the command line, bounded as a configuration's are: one the system could not open,
// or a file where a folder must be (or the other way round), is refused at once in one line
// naming the argument; nothing aborts, nothing is played first.

#include "arena/ArenaTestUtil.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace arenatest;

TEST(CommandPaths, OverlongPathsAndFilesForFoldersAreRefusedNamingTheArgument) {
    TempDir dir;
    const std::string map = dir.write("a.map", TINY2);
    const std::string folder = dir.path() + "/records";
    std::filesystem::create_directory(folder);
    const std::string tooLong(5000, 'x');
    const std::string longName = dir.path() + "/" + std::string(300, 'y') + "/r.json";
    const std::string bounds =
        " must be a path of at most 4095 bytes with names of at most 255 bytes";
    const std::string isFile = "\"" + map + "\" is a file, not a folder";
    const std::vector<std::string> play{"--bot", "random", "-d", "1", "-q"};
    const auto match = [&](std::vector<std::string> words) {
        words.insert(words.begin(), "match");
        words.insert(words.end(), play.begin(), play.end());
        return words;
    };
    const struct {
        std::vector<std::string> words;
        std::string refusal;
    } cases[] = {
        {match({tooLong}), "mapfile" + bounds},
        {match({map, "--record", longName}), "--record" + bounds},
        {match({map, "--record", folder}), "--record: \"" + folder + "\" is a folder, not a file"},
        {match({map, "--record", map + "/r.json"}), "--record: " + isFile},
        {match({map, "--logs", tooLong}), "--logs" + bounds},
        {match({map, "--logs", map}), "--logs: " + isFile},
        {match({map, "--logs", map + "/logs"}), "--logs: " + isFile},
        {{"view", tooLong}, "record" + bounds},
        {{"view", map, "--output", folder}, "--output: \"" + folder + "\" is a folder, not a file"},
        {{"report", map}, "dir: \"" + map + "\" is not a folder"},
        {{"report", dir.path() + "/none"}, "dir: \"" + dir.path() + "/none\" is not a folder"},
        {{"report", folder, "--html", longName}, "--html" + bounds},
        {{"tournament", tooLong, "--out", folder}, "config.json" + bounds},
        {{"tournament", map, "--out", map}, "--out: " + isFile},
        {{"plan", map + "/t"}, "dir: " + isFile},
        {{"play", tooLong, "m1"}, "dir" + bounds},
        {{"league", tooLong}, "league" + bounds},
        {{"league", "report", tooLong}, "league" + bounds},
        {{"league", "report", folder, "--html", folder},
         "--html: \"" + folder + "\" is a folder, not a file"},
        {{"league", "import", folder, map}, "dir: \"" + map + "\" is not a folder"},
        {{"league", "export", folder, map}, "dir: " + isFile},
        {{"serve", tooLong}, "league" + bounds},
    };
    for (const auto& c : cases) {
        ChildProcess arena;
        ASSERT_TRUE(startArena(arena, c.words, dir.path() + "/arena.out"));
        EXPECT_EQ(arena.wait(LONG_WAIT), 1) << c.refusal;
        EXPECT_EQ(arena.output(), c.refusal + "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(map + ".html"));
}
