#pragma once
// Running the arena program from tests, and the small maps they play on.

#include "MatchRecord.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace arenatest {

/// Two players on 4 x 4: a few moves, over in a second or two.
inline const char* const TINY2 = "2\n0\n0 0\n4 4\n0 0 0 0\n0 1 2 0\n0 2 1 0\n0 0 0 0\n";
/// Three players on 5 x 5.
inline const char* const TINY3 =
    "3\n0\n0 0\n5 5\n0 0 0 0 0\n0 1 2 3 0\n0 2 3 1 0\n0 3 1 2 0\n0 0 0 0 0\n";

inline std::vector<std::string> arenaArgs(std::vector<std::string> args) {
    args.insert(args.begin(), "arena");
    args.insert(args.end(), {"--server", REVERSI_SERVER_BIN, "--client", REVERSI_CLIENT_BIN});
    return args;
}

/// Starts the arena with these words (server and client programs appended).
inline bool startArena(ChildProcess& child, const std::vector<std::string>& args,
                       const std::string& outFile) {
    return child.start(REVERSI_ARENA_BIN, arenaArgs(args), {"", outFile, ""});
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline nlohmann::json readJson(const std::string& path) {
    return nlohmann::json::parse(readText(path), nullptr, false);
}

/// A record the arena wrote: it must load as a MatchRecord and write back byte for byte.
inline nlohmann::json readRecord(const std::string& path) {
    const std::string text = readText(path);
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    MatchRecord record;
    std::string error;
    EXPECT_TRUE(MatchRecord::fromJson(document, path, record, error)) << error;
    EXPECT_EQ(record.text(), text) << path;
    return document;
}

constexpr std::chrono::seconds LONG_WAIT{240};

/// Lets jailed bots into the test's folder: run as root, the arena runs them as uid 65534.
inline void openToJailedBots(const TempDir& dir) {
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
}

} // namespace arenatest
