#include "BotRepository.h"

namespace {

const char* const SELECT_VERSION =
    "SELECT v.id, v.bot_id, b.name, v.version, v.command, v.dir, v.created, v.current, "
    "v.digest "
    "FROM bot_versions v JOIN bots b ON b.id = v.bot_id ";

BotVersion versionOf(const SqlRow& row) {
    BotVersion v;
    v.id = row.integer(0);
    v.botId = row.integer(1);
    v.bot = row.text(2);
    v.version = static_cast<int>(row.integer(3));
    v.command = row.text(4);
    v.dir = row.text(5);
    v.created = row.integer(6);
    v.current = row.integer(7) != 0;
    v.digest = row.text(8);
    return v;
}

} // namespace

bool BotRepository::find(const std::string& name, const std::string& command,
                         const std::string& digest, BotVersion& out, bool& found) {
    found = false;
    return m_db.query(std::string(SELECT_VERSION) +
                          "WHERE b.name = ? AND v.command = ? AND v.digest = ?",
                      {name, command, digest}, [&](const SqlRow& row) {
                          out = versionOf(row);
                          found = true;
                      });
}

bool BotRepository::versionFor(const std::string& name, const std::string& command,
                               const std::string& digest, const std::string& dir, std::int64_t now,
                               BotVersion& out, bool& fresh) {
    bool found = false;
    fresh = false;
    if (!find(name, command, digest, out, found)) {
        return false;
    }
    if (found) {
        if (!dir.empty() && out.dir != dir) {
            out.dir = dir;
            return m_db.exec("UPDATE bot_versions SET dir = ? WHERE id = ?", {dir, out.id});
        }
        return true;
    }
    std::int64_t botId = 0;
    std::int64_t last = 0;
    bool any = false;
    // Two arenas may add the same bot at once: the second one's insert does nothing.
    fresh = true;
    return m_db.exec("INSERT INTO bots (name, created) VALUES (?, ?) ON CONFLICT DO NOTHING",
                     {name, now}) &&
           m_db.scalar("SELECT id FROM bots WHERE name = ?", {name}, botId, any) &&
           m_db.scalar("SELECT COALESCE(MAX(version), 0) FROM bot_versions WHERE bot_id = ?",
                       {botId}, last, any) &&
           m_db.exec("INSERT INTO bot_versions (bot_id, version, command, digest, dir, created) "
                     "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
                     {botId, last + 1, command, digest, dir, now}) &&
           find(name, command, digest, out, found) && found;
}

bool BotRepository::all(std::vector<BotVersion>& out) {
    out.clear();
    return m_db.query(std::string(SELECT_VERSION) + "ORDER BY b.name, v.version", {},
                      [&](const SqlRow& row) { out.push_back(versionOf(row)); });
}
