// The log settings file (-l): only a regular file is read, never waited for, and read within
// bounds.

#include "ServerProcess.h"
#include "TestMaps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

// The server on a map that is final at once: it logs a few lines and ends with status 1.
ServerResult runWithSettings(const std::string& settings) {
    std::vector<std::string> args = {"-", "-d", "3"};
    if (!settings.empty()) {
        args.insert(args.end(), {"-l", settings});
    }
    return runServer(args, FINAL_MAP);
}

} // namespace

TEST(LogSettings, FileThatIsNotRegularChangesNothingAndDoesNotBlock) {
    const ServerResult plain = runWithSettings("");
    ASSERT_TRUE(plain.exited);
    TempDir dir;
    const std::string fifo = dir.path() + "/settings.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO without a writer, endless character devices, a directory.
    for (const std::string& settings :
         {fifo, std::string("/dev/zero"), std::string("/dev/urandom"), dir.path()}) {
        SCOPED_TRACE(settings);
        const ServerResult result = runWithSettings(settings);
        ASSERT_TRUE(result.exited);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(withoutTimes(result.out), withoutTimes(plain.out));
    }
}

TEST(LogSettings, OverlongLineAndOversizedFileAreSkippedWithOneWarningEach) {
    TempDir dir;
    // Line 1 is beyond the longest line; line 2 still applies.
    const std::string longLine =
        dir.write("long", "reversi.map DEBUG #" + std::string(5000, 'x') + "\nreversi.map DEBUG\n");
    ServerResult result = runWithSettings(longLine);
    ASSERT_TRUE(result.exited);
    std::string log = withoutTimes(result.out);
    EXPECT_EQ(firstMissing(log, {"[ WARN] Ignoring line 1 of log settings " + longLine +
                                     ": longer than 4096 bytes",
                                 "[ INFO] Initializing server", "[DEBUG] Done reading map:"}),
              "")
        << log;

    // A setting beyond the first MiB is not applied.
    std::string comments;
    while (comments.size() <= 1024 * 1024) {
        comments += "# a comment line that pads the file\n";
    }
    const std::string large =
        dir.write("large", "reversi.server WARN\n" + comments + "reversi.map DEBUG\n");
    result = runWithSettings(large);
    ASSERT_TRUE(result.exited);
    log = withoutTimes(result.out);
    EXPECT_EQ(log, "[ WARN] Ignoring log settings " + large +
                       " beyond its first 1048576 bytes\n"
                       "[FATAL] Map is final, nothing to do.\n"
                       "Map is final\n");
}
