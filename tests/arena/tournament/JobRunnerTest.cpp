// What the arena hands to job runners: plain words only, the Slurm job array of the pending
// matches, its submission through sbatch (a stand-in here; the real cluster is tests/cluster).

#include "arena/ArenaTestUtil.h"

#include "PlayLine.h"
#include "RecordsFolder.h"
#include "SlurmCommand.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace arenatest;
namespace fs = std::filesystem;

namespace {

/// A tournament folder with the plan of two matches (one map, two bots, both seat orders).
std::string plannedFolder(const TempDir& dir, const std::string& name) {
    dir.write("tiny2.map", TINY2);
    const std::string config =
        dir.write("cfg.json", R"({"bots": [{"name": "g", "command": "greedy"},
        {"name": "s", "command": "search"}], "maps": ["tiny2.map"], "depth": 1})");
    const std::string out = dir.path() + "/" + name;
    fs::create_directories(out);
    ChildProcess plan;
    EXPECT_TRUE(plan.start(REVERSI_ARENA_BIN, {"arena", "plan", out, "--config", config},
                           {"", dir.path() + "/plan.out", dir.path() + "/plan.err"}));
    EXPECT_EQ(plan.wait(LONG_WAIT), 0) << plan.errors();
    return out;
}

/// Runs "arena WORDS..." through sh, with `path` first on PATH; its exit status.
int arena(ChildProcess& child, const TempDir& dir, const std::string& words,
          const std::string& path = "") {
    const std::string command =
        (path.empty() ? "" : "PATH=" + path + ":$PATH ") + REVERSI_ARENA_BIN + " " + words;
    EXPECT_TRUE(child.start("/bin/sh", {"sh", "-c", command},
                            {"", dir.path() + "/arena.out", dir.path() + "/arena.err"}));
    return child.wait(LONG_WAIT);
}

std::string arenaProgram() {
    return fs::canonical(REVERSI_ARENA_BIN).string();
}

} // namespace

TEST(JobRunner, PlainWordsAndTimeLimits) {
    for (const char* word : {"/srv/out", "r1-classic8-1-2", "a+b=c:d,e@f", "/x/y_z.json"}) {
        EXPECT_TRUE(PlayLine::plainWord(word)) << word;
    }
    for (const char* word : {"", "a b", "a\tb", "a\nb", "it's", "a\"b", "$HOME", "a;b", "a*", "~x",
                             "a%b", "a\\b", "(a)", "a|b", "\xc3\xa9"}) {
        EXPECT_FALSE(PlayLine::plainWord(word)) << word;
    }
    for (const char* time : {"5", "90:00", "01:30:00", "2-0", "2-12:00", "2-12:00:00"}) {
        EXPECT_TRUE(SlurmCommand::isTimeLimit(time)) << time;
    }
    for (const char* time :
         {"", "1:2:3:4", "-5", "5-", "1:", ":1", "1::2", "1-2-3", "1h", "01:30:00 ", "1-2:3:4:5"}) {
        EXPECT_FALSE(SlurmCommand::isTimeLimit(time)) << time;
    }
}

TEST(JobRunner, PathsWithBlanksAreRefusedByName) {
    TempDir dir;
    const std::string out = dir.path() + "/two words";
    fs::rename(plannedFolder(dir, "out"), out);
    for (const char* command : {"plan", "slurm"}) {
        ChildProcess child;
        EXPECT_EQ(arena(child, dir, std::string(command) + " '" + out + "'"), 1) << command;
        EXPECT_EQ(child.output(), "") << command;
        EXPECT_EQ(child.errors(), "arena " + std::string(command) + ": the tournament folder \"" +
                                      out +
                                      "\" holds a blank or a character that a shell or a job "
                                      "runner reads otherwise; the lines of a plan are split at "
                                      "blanks: use a path made of letters, digits and / . _ - + = "
                                      ": , @ only\n")
            << command;
    }
    EXPECT_FALSE(fs::exists(out + "/slurm-array.sh"));
}

TEST(JobRunner, SlurmScriptHasOneTaskPerPendingMatch) {
    TempDir dir;
    const std::string out = plannedFolder(dir, "out");
    ChildProcess play;
    ASSERT_EQ(arena(play, dir, "play " + out + " r1-tiny2-1-1"), 0) << play.output();
    ChildProcess child;
    ASSERT_EQ(arena(child, dir, "slurm " + out + "/ --max-running 2 --time 1:00:00 -p short"), 0)
        << child.errors();
    EXPECT_EQ(child.output(), "sbatch " + out + "/slurm-array.sh\n");
    EXPECT_EQ(child.errors(), "arena slurm: wrote " + out + "/slurm-array.sh: 1 pending match\n");
    EXPECT_TRUE(fs::is_directory(out + "/slurm"));
    EXPECT_EQ(readText(out + "/slurm-array.sh"),
              "#!/bin/sh\n"
              "# Written by \"arena slurm\": one task per pending match of " +
                  out +
                  ".\n"
                  "# A task that fails writes no record; \"arena slurm " +
                  out +
                  "\" again submits what is left.\n"
                  "#SBATCH --job-name=arena-out\n"
                  "#SBATCH --array=1-1%2\n"
                  "#SBATCH --ntasks=1\n"
                  "#SBATCH --cpus-per-task=1\n"
                  "#SBATCH --output=" +
                  out +
                  "/slurm/%A_%a.out\n"
                  "#SBATCH --partition=short\n"
                  "#SBATCH --time=1:00:00\n"
                  "case \"$SLURM_ARRAY_TASK_ID\" in\n"
                  "1) id=r1-tiny2-1-2 ;;\n"
                  "*) echo \"no match for array task $SLURM_ARRAY_TASK_ID\" >&2; exit 1 ;;\n"
                  "esac\n"
                  "exec " +
                  arenaProgram() + " play " + out + " \"$id\"\n");

    ChildProcess again;
    ASSERT_EQ(arena(again, dir, "play " + out + " r1-tiny2-1-2"), 0) << again.output();
    ChildProcess none;
    EXPECT_EQ(arena(none, dir, "slurm " + out + " --submit"), 0);
    EXPECT_EQ(none.output(), "");
    EXPECT_EQ(none.errors(), "arena slurm: no pending match in " + out + " to submit\n");
}

TEST(JobRunner, SubmitPrintsTheJobIdOrWhySbatchRefused) {
    TempDir dir;
    const std::string out = plannedFolder(dir, "out");
    fs::create_directories(dir.path() + "/bin");
    const std::string sbatch = dir.write("bin/sbatch", "#!/bin/sh\necho \"$*\" > " + dir.path() +
                                                           "/sbatch.args\n"
                                                           "[ -e " +
                                                           dir.path() +
                                                           "/refuse ] && "
                                                           "{ echo 'invalid partition'; exit 1; }\n"
                                                           "echo '4711;arenatest'\n");
    fs::permissions(sbatch, fs::perms::owner_all);
    ChildProcess submit;
    ASSERT_EQ(arena(submit, dir, "slurm " + out + " --submit", dir.path() + "/bin"), 0)
        << submit.errors();
    EXPECT_EQ(submit.output(), "4711\n");
    EXPECT_EQ(readText(dir.path() + "/sbatch.args"), "--parsable " + out + "/slurm-array.sh\n");

    dir.write("refuse", "");
    ChildProcess refused;
    EXPECT_EQ(arena(refused, dir, "slurm " + out + " --submit", dir.path() + "/bin"), 1);
    EXPECT_EQ(refused.output(), "");
    EXPECT_NE(refused.errors().find("arena slurm: sbatch " + out +
                                    "/slurm-array.sh failed (exit status 1): invalid partition\n"),
              std::string::npos)
        << refused.errors();
}

TEST(JobRunner, RecordFolderRemovedWhileEmptyIsMadeAgain) {
    // GNU parallel's --cleanup removes a worker's matches folder once it is empty, while other
    // matches there still play.
    TempDir dir;
    std::string error;
    EXPECT_TRUE(RecordsFolder::writeText(dir.path() + "/out/matches/r1.json", "{}\n", error))
        << error;
    EXPECT_EQ(readText(dir.path() + "/out/matches/r1.json"), "{}\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() + "/out/matches"),
                            fs::directory_iterator()),
              1);
}
