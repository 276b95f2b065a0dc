#pragma once
// Bots and their versions: a bot is a name; each command it has had, with each content of its
// folder, is a version of it.

#include "SqlDatabase.h"

#include <cstdint>
#include <string>
#include <vector>

struct BotVersion {
    std::int64_t id = 0;
    std::int64_t botId = 0;
    std::string bot;
    /// 1 for the bot's first command, then 2, 3...
    int version = 0;
    std::string command;
    /// Digest of the folder's content (FolderDigest); empty when the command alone counts.
    std::string digest;
    std::string dir;
    /// Unix seconds.
    std::int64_t created = 0;
    /// One of the bots of the current configuration.
    bool current = false;
};

class BotRepository {
public:
    explicit BotRepository(SqlDatabase& db) : m_db(db) {}

    /// The version of bot `name` that runs `command` on a folder of content `digest`: the
    /// existing one, or a new one numbered after the bot's last (and the bot itself when new;
    /// `fresh` says so). A moved folder of the same content is no new version: the folder is
    /// where the command runs, and is updated.
    bool versionFor(const std::string& name, const std::string& command, const std::string& digest,
                    const std::string& dir, std::int64_t now, BotVersion& out, bool& fresh);
    /// Every version of every bot, by bot name then version.
    bool all(std::vector<BotVersion>& out);

    /// Marks exactly these as the current configuration's (the caller holds a transaction).
    bool setCurrent(const std::vector<std::int64_t>& ids) {
        return m_db.markCurrent("bot_versions", ids);
    }

private:
    bool find(const std::string& name, const std::string& command, const std::string& digest,
              BotVersion& out, bool& found);

    SqlDatabase& m_db;
};
