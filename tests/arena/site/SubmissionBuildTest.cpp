// A build's output told as it comes, and a build stopped when its site stops; unjailed, so
// that only the build's own behaviour is under test.

#include "SubmissionBuild.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace {

/// A build script that prints, waits for a file named "go" in its folder, then prints again.
const char* const waitingBuild = "echo first\n"
                                 "while [ ! -e go ]; do sleep 0.05; done\n"
                                 "echo second\n";

/// The log without its first line, which says what the build may reach.
std::string output(const std::string& log) {
    return log.substr(log.find('\n') + 1);
}

} // namespace

TEST(SubmissionBuild, OutputIsToldWhileTheBuildRunsAndAddsUpToTheLog) {
    TempDir dir;
    dir.write("build", waitingBuild);
    SubmissionBuild::Limits limits;
    limits.seconds = 30;
    std::string told;
    std::string log;
    // The build goes on only once its first line was told: a log told at the end alone
    // would leave it waiting until its time ran out.
    const bool built = SubmissionBuild(limits).run(dir.path(), log, [&](std::string_view piece) {
        told.append(piece);
        if (told.find("first\n") != std::string::npos) {
            std::ofstream(dir.path() + "/go").put('\n');
        }
    });
    EXPECT_TRUE(built) << log;
    EXPECT_EQ(output(log), "first\nsecond\nbuild succeeded\n");
    EXPECT_EQ(told + "build succeeded\n", log);
}

TEST(SubmissionBuild, ACancelledBuildIsStoppedAndSaysSo) {
    TempDir dir;
    dir.write("build", waitingBuild);
    SubmissionBuild::Limits limits;
    limits.seconds = 60;
    std::atomic<bool> cancel{false};
    std::string log;
    const auto started = std::chrono::steady_clock::now();
    const bool built = SubmissionBuild(limits).run(
        dir.path(), log, [&](std::string_view piece) { cancel = piece == "first\n"; }, &cancel);
    EXPECT_FALSE(built);
    EXPECT_EQ(output(log), "first\n\nthe build was interrupted: the site is stopping\n");
    // Well inside the build's own limit.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}
